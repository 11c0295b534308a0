#pragma once
// The quarantine: detected files moved into one folder, with quarantine.db (ZORVEKQUARANTINE/1)
// recording where each came from. Every operation reads the index from disk, changes it and
// writes it back whole; callers serialise operations on one folder.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ThreatLevel.h"

namespace zorvek {

struct QuarantineRecord {
  uint64_t id = 0;  // milliseconds since 1970 at quarantine time; unique within the index
  std::wstring originPath;
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

// The index text; records whose ID is not a positive number are dropped with their lines.
std::vector<QuarantineRecord> parseQuarantineIndex(std::string_view text);
std::string serializeQuarantineIndex(const std::vector<QuarantineRecord>& records);

class QuarantineStore {
 public:
  explicit QuarantineStore(std::wstring folder);

  const std::wstring& folder() const { return folder_; }
  std::wstring indexPath() const;

  // Creates the folder and, when there is none yet, an empty index.
  bool ensureFolder(std::string* error = nullptr);
  // The records as stored; empty when the index is missing or unreadable.
  std::vector<QuarantineRecord> list() const;
  // Moves the file into the quarantine and records it.
  bool add(const std::wstring& path, const std::string& sha256, const std::string& threat,
           const std::string& code, ThreatLevel severity, QuarantineRecord* record = nullptr,
           std::string* error = nullptr);
  // Moves the file back where it came from (recreating the folder) and forgets the record.
  bool restore(uint64_t id, std::string* error = nullptr);
  // Deletes the stored file and forgets the record.
  bool remove(uint64_t id, std::string* error = nullptr);
  // Writes the whole index.
  bool save(const std::vector<QuarantineRecord>& records, std::string* error = nullptr);

  // Milliseconds since 1970; replaceable so tests can pin the moment of quarantining.
  void setClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }

 private:
  // Missing index: empty list. An index that exists but cannot be read is an error, so that
  // no operation rewrites it from an empty list.
  bool read(std::vector<QuarantineRecord>& records, std::string* error) const;

  std::wstring folder_;
  std::function<uint64_t()> clock_;
};

}  // namespace zorvek
