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
#include "common/platform/Folder.h"
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
  // Not part of filesScanned: files that could not be read (their verdicts say why) and folders
  // that could not be opened.
  uint64_t filesUnreadable = 0;
  uint64_t foldersUnreadable = 0;
};

// A file met by a walk: its full path for reports, and the open folder it sits in, through which
// it is opened (so neither a path beyond the system's limit nor a folder swapped for a link
// changes which file that is).
struct WalkEntry {
  const std::wstring& path;
  const Folder& folder;
  const std::wstring& name;
  Links links = Links::Refuse;  // Follow only for a link the options let the walk follow
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
  using FileVisitor = std::function<void(const WalkEntry& file)>;
  // A folder of the walk that could not be opened or read, with the reason.
  using FolderErrorCallback = std::function<void(const std::wstring& folder, const std::string& error)>;

  // The database may be null: files are then evaluated without lookups.
  FileScanner(std::shared_ptr<const SignatureDatabase> database, Options options = {});

  // Counts the files that pass the filter (phase "counting"); ignores the cancel flag, which
  // scan() clears, but gives up at the next entry once `stop` is true (the count is then short).
  ScanProgressInfo measure(const std::vector<ScanTarget>& targets,
                           const std::atomic<bool>& stop) const;
  ScanProgressInfo measure(const std::vector<ScanTarget>& targets) const;
  // Clears the cancel flag, then evaluates every file that passes the filter. Any callback may
  // be empty. Progress reports carry zero totals; the caller merges them with measure's. Files
  // that cannot be read reach the verdict callback too (countsAsUnreadable), counted apart.
  ScanSummary scan(const std::vector<ScanTarget>& targets, const ProgressCallback& progress = {},
                   const VerdictCallback& verdict = {}, const FolderErrorCallback& folderError = {});
  // Any thread: the running walk stops at its next entry, a file being read at its next chunk.
  void cancel() { cancelled_.store(true); }
  bool cancelRequested() const { return cancelled_.load(); }

  // The file filter (also used by real-time protection).
  bool shouldScan(const std::wstring& path) const;
  FileVerdict evaluate(const std::wstring& path) const;
  FileVerdict evaluate(const WalkEntry& file) const;

  // Hands every regular file under the target to the visitor (no filter), stopping when `stop`
  // becomes true. Links are not followed unless the options say so; folders that cannot be
  // opened are skipped and reported to `folderError`. Below the target, every folder and file
  // is opened relative to its open parent folder.
  void walk(const ScanTarget& target, const FileVisitor& visitor, const std::atomic<bool>& stop,
            const FolderErrorCallback& folderError = {}) const;

  const Options& options() const { return options_; }

  static std::vector<ScanTarget> quickScanTargets();
  static std::vector<ScanTarget> fullScanTargets(bool includeRemovable);

 private:
  EvaluationOptions evaluationOptions() const;

  std::shared_ptr<const SignatureDatabase> database_;
  Options options_;
  std::atomic<bool> cancelled_{false};
};

// Whether the walk leaves out a folder (its lower-cased path begins with one of the platform's
// folders that hold only system component stores, or pseudo file systems on POSIX).
bool isExcludedFolder(const std::wstring& folderPath);

}  // namespace zorvek
