#pragma once
// Real-time protection as the engine sees it: the minifilter port client and the directory
// watcher behind the engine's real-time hooks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/engine/ScanWorker.h"
#include "service/realtime/DirectoryWatcher.h"
#include "service/realtime/FilterPort.h"
#include "service/realtime/MinifilterClient.h"

namespace zorvek::svc {

struct RealTimeOptions {
  WatcherOptions watcher;
  FilterPortFactory filterPort;  // empty: the platform's port
};

class RealTimeProtection {
 public:
  explicit RealTimeProtection(RealTimeOptions options = {});

  // Fills the engine's minifilter and watcher hooks; the hooks keep the returned object alive.
  static std::shared_ptr<RealTimeProtection> install(EngineHooks& hooks,
                                                     RealTimeOptions options = {});

  bool minifilterConnected() const { return minifilter_.connected(); }
  uint64_t filesAnswered() const { return minifilter_.answered(); }
  const WatcherCounters& watcherCounters() const { return counters_; }

 private:
  MinifilterClient minifilter_;
  WatcherOptions watcher_;
  WatcherCounters counters_;
};

// The watched folders from ZORVEK_WATCH_DIRS (separated by ';' on Windows, ':' elsewhere); empty
// when it is unset or empty, which means the default folders.
std::vector<std::wstring> watchedFoldersFromEnvironment();

}  // namespace zorvek::svc
