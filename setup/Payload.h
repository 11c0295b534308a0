#pragma once
// The payload an installer carries: reading it from the installer file, extracting it into a
// fresh private folder, and the /selftest check.

#include <functional>
#include <string>
#include <vector>

#include "common/platform/File.h"
#include "setup/PayloadFormat.h"

namespace setup {

// ByteSource over a file opened for reading.
class FileSource : public ByteSource {
 public:
  bool open(const std::wstring& path);
  void close();
  uint64_t size() const override { return size_; }
  bool readAt(uint64_t offset, void* buffer, size_t count) override;

 private:
  zorvek::InputFile file_;
  uint64_t size_ = 0;
};

// The payload of one installer file. The file stays open, so what is extracted is what was read.
class InstallerPayload {
 public:
  // Reads the index; an empty path (the program's own path could not be found) is reported with
  // its own status. index().status tells what was found in every case.
  void read(const std::wstring& installerPath);

  const PayloadIndex& index() const { return index_; }
  ByteSource& source() { return file_; }

 private:
  FileSource file_;
  PayloadIndex index_;
};

// A private temporary folder created fresh for this run (see createPrivateFolder) and removed
// with its contents when the object goes.
class TempFolder {
 public:
  TempFolder() = default;
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  // Creates `base` + `stem`, or, when that name is taken, the first free of stem + "-1", "-2", ...
  bool create(const std::wstring& base, const std::wstring& stem, std::string* error = nullptr);
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

// Writes every entry below `folder`. Every name is checked before the first file is written, so
// a payload with a suspicious name writes nothing at all.
bool extractEntries(ByteSource& source, const std::vector<PayloadEntry>& entries,
                    const std::wstring& folder, std::string* error = nullptr);

enum class ExtractResult {
  Extracted,
  NoPayload,  // an ordinary build: the install copies from the installer's own folder
  Failed,     // a payload that could not be read or written: the install must stop
};

// Extracts the payload into a fresh private folder `stem` (or the next free name) below `base`;
// errors are the Russian texts the install logs.
ExtractResult extractPayload(InstallerPayload& payload, TempFolder& folder,
                             const std::wstring& base, const std::wstring& stem,
                             std::string* error = nullptr);

// Compares an extracted file with its entry: empty when they match, otherwise what differs.
std::string compareExtracted(ByteSource& source, const PayloadEntry& entry,
                             const std::wstring& path);

// /selftest: prints what the payload holds, extracts it into a private "ZorvekSetup-selftest"
// folder below `tempBase`, reads every file back and compares it. 0 when every entry matches;
// 1 for no payload, a damaged one, or any difference.
int runSelfTest(InstallerPayload& payload, const std::wstring& tempBase,
                const std::function<void(const std::wstring&)>& printLine);

}  // namespace setup
