#pragma once
// Walks scan targets, decides which files are worth scanning, counts them (measure) and scans
// them (scan), reporting progress and one FileVerdict per scanned file.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/SignatureDatabase.h"
#include "service/FileVerdict.h"

namespace zorvek {

struct ScanTarget {
  std::wstring path;  // folder or drive root such as "C:\"
  bool recursive = true;
};

struct ScanProgressInfo {
  uint64_t filesDone = 0;
  uint64_t filesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  std::wstring currentFile;
  std::wstring phase;  // "counting", "scanning" or "finishing"
};

struct ScanSummary {
  uint64_t filesScanned = 0;
  uint64_t threats = 0;
  uint64_t suspicious = 0;
  uint64_t bytesScanned = 0;
  uint64_t elapsedMs = 0;
  bool cancelled = false;
};

struct ScannerOptions {
  bool followLinks = false;
  bool scanArchives = false;  // carried for the settings; nothing here depends on it
  bool skipCoreSystemFiles = true;
  uint64_t maxFileSize = 536870912;
  uint64_t hashChunkSize = 1048576;
};

// The minimum time between two progress reports of a scan.
inline constexpr uint64_t kProgressIntervalMs = 120;

class FileScanner {
 public:
  using Options = ScannerOptions;
  using ProgressCallback = std::function<void(const ScanProgressInfo&)>;
  using VerdictCallback = std::function<void(const FileVerdict&)>;
  using FileVisitor = std::function<void(const std::wstring& path)>;

  // The database may be null: files are then evaluated without lookups.
  FileScanner(std::shared_ptr<const SignatureDatabase> database, Options options = {});

  // Counts the files that pass the filter (phase "counting"); ignores the cancel flag.
  ScanProgressInfo measure(const std::vector<ScanTarget>& targets) const;
  // Clears the cancel flag, then evaluates every file that passes the filter. Either callback may
  // be empty. Progress reports carry zero totals; the caller merges them with measure's.
  ScanSummary scan(const std::vector<ScanTarget>& targets, const ProgressCallback& progress = {},
                   const VerdictCallback& verdict = {});
  // Any thread: the running walk stops at its next entry.
  void cancel() { cancelled_.store(true); }
  bool cancelRequested() const { return cancelled_.load(); }

  // The file filter (also used by real-time protection).
  bool shouldScan(const std::wstring& path) const;
  FileVerdict evaluate(const std::wstring& path) const;

  // Hands every regular file under the target to the visitor (no filter), stopping when `stop`
  // becomes true. Links are not followed unless the options say so; folders that cannot be
  // opened are skipped.
  void walk(const ScanTarget& target, const FileVisitor& visitor,
            const std::atomic<bool>& stop) const;

  const Options& options() const { return options_; }

  static std::vector<ScanTarget> quickScanTargets();
  static std::vector<ScanTarget> fullScanTargets(bool includeRemovable);

 private:
  std::shared_ptr<const SignatureDatabase> database_;
  Options options_;
  std::atomic<bool> cancelled_{false};
};

// Whether the walk leaves out a folder (its lower-cased path begins with one of the platform's
// folders that hold only system component stores, or pseudo file systems on POSIX).
bool isExcludedFolder(const std::wstring& folderPath);

}  // namespace zorvek
