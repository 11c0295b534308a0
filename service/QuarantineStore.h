#pragma once
// The quarantine: detected files moved into one folder, with quarantine.db (ZORVEKQUARANTINE/1)
// recording where each came from. Every operation reads the index from disk, changes it and
// writes it back whole; callers serialise operations on one folder.
//
// Files are acted on through open handles, never by a path looked up again after a check: the
// file to quarantine is opened (with its folders) without following links and moved as that
// open object; a restore opens the way back the same way and refuses a link anywhere on it.
// Before a file is moved in, an intent file names it, so that recover() after a kill at any
// instant finds every stored file a record and drops records whose file is gone.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ThreatLevel.h"
#include "common/platform/ClientIdentity.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"

namespace zorvek {

struct QuarantineRecord {
  uint64_t id = 0;  // milliseconds since 1970 at quarantine time; unique within the index
  std::wstring originPath;  // empty for a file found in the folder without a record
  std::wstring storedPath;
  std::wstring name;
  std::string sha256;
  std::string threat;
  std::string code;
  ThreatLevel severity = ThreatLevel::Clean;
  uint64_t size = 0;
  uint64_t time = 0;  // seconds since 1970

  bool operator==(const QuarantineRecord&) const = default;
};

inline constexpr char kQuarantineMagic[] = "ZORVEKQUARANTINE/1";
inline constexpr char kQuarantineIndexName[] = "quarantine.db";
inline constexpr char kQuarantineIntentName[] = "quarantine.intent";
// The code of a record made for a stored file that had lost its record.
inline constexpr char kRecoveredCode[] = "RECOVERED";

// The index text; records whose ID is not a positive number are dropped with their lines. A
// value holding a line break is written under its key followed by '%' ("ORIG%="), with '%', CR
// and LF percent-encoded; every other value is written as it stands.
std::vector<QuarantineRecord> parseQuarantineIndex(std::string_view text);
std::string serializeQuarantineIndex(const std::vector<QuarantineRecord>& records);

// A file held open for quarantining, with the folder it is in: what was checked through these
// handles is what gets moved, whatever the path names meanwhile.
struct HeldFile {
  std::wstring path;
  Folder folder;  // opened for Folder::Purpose::Modify
  std::wstring name;
  InputFile file;  // opened with InputFile::Access::Move
};
// Opens `path` and every folder on its way without following a link: a link anywhere fails
// with OpenFailure::Link. Only a regular file is held. For a client other than the service the
// way is walked with the client's identity, and a file the client could not delete itself
// fails with OpenFailure::AccessDenied.
bool holdFile(const std::wstring& path, HeldFile& out, std::string* error = nullptr,
              OpenFailure* why = nullptr, unsigned long* systemError = nullptr,
              const ClientIdentity& client = {});

// The error of an operation refused because its path leads through a link.
inline constexpr char kRestoreThroughLink[] = "restore refused: the path contains a link";

class QuarantineStore {
 public:
  explicit QuarantineStore(std::wstring folder);

  const std::wstring& folder() const { return folder_; }
  std::wstring indexPath() const;
  std::wstring intentPath() const;

  // Creates the folder (owner-only) and, when there is none yet, an empty index.
  bool ensureFolder(std::string* error = nullptr);
  // After a start: removes leftover temporary files, lists every stored file that has no record
  // (with its origin when the intent of an interrupted add names it, else with none, so it can
  // still be deleted) and drops records whose stored file is gone. `changes` receives one line
  // per change for the log. Does nothing when the index cannot be read.
  bool recover(std::vector<std::string>* changes = nullptr, std::string* error = nullptr);
  // The records as stored; empty when the index is missing or unreadable.
  std::vector<QuarantineRecord> list() const;
  // Moves the file into the quarantine and records it.
  bool add(const std::wstring& path, const std::string& sha256, const std::string& threat,
           const std::string& code, ThreatLevel severity, QuarantineRecord* record = nullptr,
           std::string* error = nullptr);
  // The same for a file already held (see holdFile); the handle is used up.
  bool add(HeldFile& file, const std::string& sha256, const std::string& threat,
           const std::string& code, ThreatLevel severity, QuarantineRecord* record = nullptr,
           std::string* error = nullptr);
  // Moves the file back where it came from (recreating missing folders, never through a link)
  // and forgets the record.
  bool restore(uint64_t id, std::string* error = nullptr);
  // Deletes the stored file and forgets the record; fails while the file is still there.
  bool remove(uint64_t id, std::string* error = nullptr);
  // Writes the whole index.
  bool save(const std::vector<QuarantineRecord>& records, std::string* error = nullptr);

  // Milliseconds since 1970; replaceable so tests can pin the moment of quarantining.
  void setClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }

 private:
  // Missing index: empty list. An index that exists but cannot be read is an error, so that
  // no operation rewrites it from an empty list.
  bool read(std::vector<QuarantineRecord>& records, std::string* error) const;
  uint64_t freshId(const std::vector<QuarantineRecord>& records) const;

  std::wstring folder_;
  std::function<uint64_t()> clock_;
};

}  // namespace zorvek
