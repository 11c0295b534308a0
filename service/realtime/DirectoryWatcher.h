#pragma once
// The user-mode real-time watcher: change notifications on the watched folders, each changed file
// that passes the scanner's filter judged, and level medium or above reported to the engine. It
// reports after the fact and cannot block.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "service/engine/EngineAccess.h"

namespace zorvek::svc {

struct WatcherOptions {
  std::vector<std::wstring> folders;  // empty: defaultWatchedFolders()
  uint32_t waitMs = 1000;             // the longest wait for changes before the stop is checked
  // A file is judged this long after its first notification, so the burst of notifications one
  // write draws (creation, size, last write, close) is judged once, on the finished file.
  uint32_t settleMs = 200;
};

struct WatcherCounters {
  std::atomic<uint64_t> scanned{0};   // files judged
  std::atomic<uint64_t> detected{0};  // of those, reported
  std::atomic<uint64_t> lost{0};      // notification overflows: changes that were never seen
  // Time spent on changes (filtering, opening, judging), not waiting for them: the watcher's own
  // pace, apart from how fast files arrive and the settle delay.
  std::atomic<uint64_t> busyMicros{0};
};

// The body of the real-time thread: returns when the engine stops (within one wait), or at once
// when there is no database or no folder can be watched.
void runDirectoryWatcher(RealTimeAccess& engine, const WatcherOptions& options,
                         WatcherCounters& counters);

}  // namespace zorvek::svc
