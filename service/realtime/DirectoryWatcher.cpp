#include "service/realtime/DirectoryWatcher.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <deque>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/System.h"
#include "service/platform/ScanPlatform.h"
#include "service/realtime/ChangeWatcher.h"

namespace zorvek::svc {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Files waiting for their settle time; beyond this many they are judged at once.
constexpr size_t kMaxPending = 100000;
constexpr auto kJudgeSlice = milliseconds(50);
// Files whose last judgment is remembered, to tell a late notification from a change.
constexpr size_t kMaxJudged = 8192;
// File times may trail the clock by a timer tick: a file written this close to its judgment may
// have changed after it.
constexpr uint64_t kTimeSlack = 100 * 10000;  // 100 ms in FILETIME units

uint64_t nowFiletime() { return (unixTimeMs() + 11644473600000ull) * 10000; }

struct Judged {
  uint64_t size = 0;
  uint64_t modified = 0;
  uint64_t at = 0;  // FILETIME of the judgment
};

class Watcher {
 public:
  Watcher(RealTimeAccess& engine, const WatcherOptions& options, WatcherCounters& counters)
      : engine_(engine), options_(options), counters_(counters) {}

  void run(ChangeWatcher& watcher) {
    while (!engine_.stopping()) {
      ChangeBatch batch;
      watcher.wait(waitMs(), batch);
      for (const std::wstring& folder : batch.lostOn) {
        logWarning("real-time: change notifications lost on " + toUtf8(folder));
        counters_.lost.fetch_add(1);
      }
      if (batch.changes.empty() && pending_.empty()) continue;
      const auto busySince = Clock::now();
      // The database of this moment: a reload since the last batch reaches the watcher at once.
      const std::unique_ptr<FileScanner> scanner = engine_.makeScanner();
      if (!scanner) continue;
      queue(*scanner, batch.changes);
      judgeDue(*scanner);
      counters_.busyMicros.fetch_add(static_cast<uint64_t>(
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - busySince).count()));
    }
  }

 private:
  uint32_t waitMs() const {
    if (pending_.empty()) return options_.waitMs;
    const auto left = std::chrono::duration_cast<milliseconds>(pending_.front().due - Clock::now());
    return static_cast<uint32_t>(std::clamp<long long>(left.count(), 0, options_.waitMs));
  }

  // Names are filtered before anything is opened.
  void queue(const FileScanner& scanner, const std::vector<FolderChange>& changes) {
    const auto due = Clock::now() + milliseconds(options_.settleMs);
    for (const FolderChange& change : changes) {
      // Names beginning with a dot (hidden files, editors' temporaries) are left alone.
      if (change.name.empty() || change.name.front() == L'.') continue;
      std::wstring path = joinPath(change.folder, change.name);
      // A later notification keeps the first time, so a file written without pause is judged.
      if (!scanner.shouldScan(path) || !queued_.insert(path).second) continue;
      pending_.push_back({due, std::move(path)});
    }
  }

  void judgeDue(const FileScanner& scanner) {
    const auto now = Clock::now();
    // Back to reading notifications now and then, or the system's queue overflows while a flood
    // of new files is judged.
    const auto until = now + kJudgeSlice;
    // Waiting times only grow along the queue.
    while (!pending_.empty() && !engine_.stopping() && Clock::now() < until &&
           (pending_.front().due <= now || pending_.size() > kMaxPending)) {
      const std::wstring path = std::move(pending_.front().path);
      pending_.pop_front();
      queued_.erase(path);
      judge(scanner, path);
    }
  }

  void judge(const FileScanner& scanner, const std::wstring& path) {
    // Links, devices, FIFOs and folders are never opened: a link could lend the service's rights
    // to a file the user may not read, and a FIFO would block the watcher.
    if (!isPlainFile(path)) return;
    if (unchangedSinceJudged(path)) return;
    const uint64_t at = nowFiletime();
    FileVerdict verdict;
    try {
      verdict = scanner.evaluate(path);
    } catch (const std::exception& e) {
      logWarning("real-time: check failed on " + toUtf8(path) + ": " + e.what());
      return;
    }
    counters_.scanned.fetch_add(1);
    if (judged_.size() >= kMaxJudged) judged_.clear();
    judged_[path] = {verdict.size, verdict.modified, at};
    if (verdict.level < ThreatLevel::Medium) return;
    engine_.addRealTimeDetection(verdict);
    counters_.detected.fetch_add(1);
    logInfo("real-time detection: " + toUtf8(path));
  }

  // A notification that arrives after the file was judged in its present state (same size and
  // time, written well before the judgment) is no change: the file is not reported twice.
  bool unchangedSinceJudged(const std::wstring& path) const {
    const auto it = judged_.find(path);
    if (it == judged_.end()) return false;
    FileAttributes now;
    if (!readFileAttributes(path, now)) return false;
    const Judged& j = it->second;
    return now.size == j.size && now.modified == j.modified && j.modified != 0 &&
           j.modified + kTimeSlack < j.at;
  }

  RealTimeAccess& engine_;
  const WatcherOptions& options_;
  WatcherCounters& counters_;
  struct Pending {
    Clock::time_point due;
    std::wstring path;
  };
  std::deque<Pending> pending_;  // in the order of their first notification
  std::unordered_set<std::wstring> queued_;
  std::unordered_map<std::wstring, Judged> judged_;
};

}  // namespace

void runDirectoryWatcher(RealTimeAccess& engine, const WatcherOptions& options,
                         WatcherCounters& counters) {
  if (!engine.makeScanner()) {
    logError("real-time: signature database is not loaded");
    return;
  }
  const std::vector<std::wstring> folders =
      options.folders.empty() ? defaultWatchedFolders() : options.folders;
  WatchStart start = WatchStart::NothingOpened;
  const auto watcher = openChangeWatcher(folders, engine.serviceFolders(),
                                         [&] { return engine.stopping(); }, &start);
  if (!watcher) {
    if (start == WatchStart::NothingOpened && !engine.stopping())
      logWarning("real-time: no watchable directories");
    return;
  }
  logInfo("real-time: watching " + std::to_string(watcher->watchedFolders()) + " of " +
          std::to_string(folders.size()) + " folders");
  Watcher(engine, options, counters).run(*watcher);
  logInfo("real-time: stopped; files judged " + std::to_string(counters.scanned.load()) +
          ", reported " + std::to_string(counters.detected.load()) +
          ", notification overflows " + std::to_string(counters.lost.load()));
}

}  // namespace zorvek::svc
