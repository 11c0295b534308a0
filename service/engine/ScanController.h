#pragma once
// On-demand scans: one scan thread at a time with its cancel watcher, the progress record, the
// last summary, the failed flag and the scan cache. Detections go to the DetectionStore; the end
// of a scan is recorded in the settings.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ServiceConfig.h"
#include "common/SignatureDatabase.h"
#include "common/platform/ClientIdentity.h"
#include "service/FileScanner.h"
#include "service/ScanCache.h"
#include "service/engine/DetectionStore.h"
#include "service/engine/EngineTimers.h"
#include "service/engine/SettingsStore.h"

namespace zorvek::svc {

// What a scan request covers; any other value is a list of paths.
inline constexpr uint32_t kScopeQuick = 0;
inline constexpr uint32_t kScopeFull = 1;
inline constexpr uint32_t kScopeMemory = 2;

inline constexpr uint64_t kEngineMaxFileSize = 536870912;
inline constexpr uint64_t kEngineHashChunkSize = 1048576;

// The file scanner's options for every scan of the engine (on demand and real time).
ScannerOptions engineScannerOptions(const ServiceConfig& config);

struct ScanControllerOptions {
  std::wstring cachePath;              // scan.cache
  std::shared_ptr<EngineClock> clock;  // the time recorded as LastScanUtc
  // The current signature database (null: none loaded, the scan fails).
  std::function<std::shared_ptr<const SignatureDatabase>()> database;
  // Targets of the quick and full scopes (empty: the file scanner's lists).
  std::function<std::vector<ScanTarget>()> quickTargets;
  std::function<std::vector<ScanTarget>(bool includeRemovable)> fullTargets;
  // Told every new state, on the thread that set it, with no lock held.
  std::function<void(const std::wstring& state)> stateChanged;
};

class ScanController {
 public:
  ScanController(SettingsStore& settings, DetectionStore& detections,
                 ScanControllerOptions options);
  ~ScanController();  // stops and joins the scan thread
  ScanController(const ScanController&) = delete;
  ScanController& operator=(const ScanController&) = delete;

  // Reads scan.cache (before any scan).
  void loadCache();

  // Starts a scan on the scan thread; refused while stopping, with protection off, or while a
  // scan runs. A scan of paths walks and reads them as `client` (the scan thread takes its
  // identity meanwhile); the other scopes run with the service's rights.
  bool request(uint32_t scope, std::vector<std::wstring> paths, std::string* error = nullptr,
               const ClientIdentity& client = {});
  // Any thread: the running scan ends "cancelled" within about a tenth of a second.
  void cancel();

  ScanProgressInfo progress() const;
  ScanSummary lastSummary() const;
  bool lastFailed() const;
  bool running() const { return running_.load(); }

  // Refuses further requests and cancels the running scan; join() then waits for its thread.
  void beginStop();
  void join();

 private:
  void scanLoop(uint32_t scope, std::vector<std::wstring> paths, const ClientIdentity& client);
  // Counts and scans as `client`; true when a cancel was requested meanwhile.
  bool runScan(const std::vector<ScanTarget>& targets, const std::vector<std::wstring>& files,
               const ServiceConfig& config, std::shared_ptr<const SignatureDatabase> db,
               const ClientIdentity& client, ScanSummary& summary);
  void notifyState(const wchar_t* state);
  void setState(const wchar_t* state);
  void finishFailed(const wchar_t* state, bool failed);

  SettingsStore& settings_;
  DetectionStore& detections_;
  ScanControllerOptions options_;
  ScanCache cache_;  // scan thread only (loadCache before any)

  mutable std::mutex mutex_;  // progress_, summary_, failed_
  ScanProgressInfo progress_;
  ScanSummary summary_;
  bool failed_ = false;

  std::mutex threadMutex_;  // starting and joining thread_
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> stopping_{false};
  std::mutex cancelMutex_;  // wakes the cancel watcher
  std::condition_variable cancelCv_;
};

}  // namespace zorvek::svc
