#pragma once
// The protection engine: one object per service process. It owns the settings, the current
// signature database, the quarantine, the scan cache, the progress and detection lists, and
// every background thread (scan, cancel watcher, scheduler, live-update timer, web shield,
// real-time protection). Pipe sessions reach all of it through the public operations.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/SignatureDatabase.h"
#include "common/ThreatLevel.h"
#include "service/EngineTimers.h"
#include "service/FileScanner.h"
#include "service/FileVerdict.h"
#include "service/Finding.h"
#include "service/QuarantineStore.h"
#include "service/ScanCache.h"
#include "service/ServiceConfig.h"

namespace zorvek::svc {

inline constexpr char kServiceVersion[] = "1.2.0";

// What a scan request covers; any other value is a list of paths.
inline constexpr uint32_t kScopeQuick = 0;
inline constexpr uint32_t kScopeFull = 1;
inline constexpr uint32_t kScopeMemory = 2;

// Decisions on a detection; any other value leaves the file alone.
inline constexpr uint32_t kActionQuarantine = 1;
inline constexpr uint32_t kActionDelete = 2;

// One detection as the engine reports it.
struct DetectionRecord {
  std::wstring path;
  std::string threatName;  // the signature name, or the headline of the deciding rule
  std::string secondText;  // the file's SHA-256 (empty when it was not hashed)
  ThreatLevel level = ThreatLevel::Clean;
  uint64_t size = 0;
  std::string detail;  // the deciding rule's explanation
  std::string code;    // the deciding rule's code, kept for the quarantine record
  std::vector<Finding> findings;
  std::vector<std::string> reasons;
};

DetectionRecord detectionFromVerdict(const FileVerdict& verdict);

// A user's decision on a detection, with the record's fields as the client received them.
struct ThreatDecision {
  std::wstring path;
  uint32_t action = 0;
  std::string threatName;
  std::string secondText;
  uint32_t level = 0;
  uint64_t size = 0;
  std::string detail;
};

class ScanWorker;

// Where the later parts of the service plug in. Every hook may be empty: the thread or step
// that calls it then does nothing.
struct EngineHooks {
  // Live signature update: fetch the feeds and reload (run by the live-update timer and by
  // startLiveUpdate).
  std::function<bool(ScanWorker&, std::string* error)> liveUpdate;
  // Self-update check (run by startSelfUpdate); records the installer with
  // setDownloadedInstaller.
  std::function<bool(ScanWorker&, std::string* error)> selfUpdate;
  // One pass of the web shield (run by the web-shield thread).
  std::function<void(ScanWorker&)> webShield;
  // Minifilter port client: connect in start (false with the reason), disconnect in stop.
  std::function<bool(ScanWorker&, std::string* error)> connectMinifilter;
  std::function<void(ScanWorker&)> disconnectMinifilter;
  // Body of the real-time watcher thread; must return soon after waitForStop() does.
  std::function<void(ScanWorker&)> realTimeWatch;
  // Scan targets of the quick and full scopes (default: the file scanner's lists).
  std::function<std::vector<ScanTarget>()> quickTargets;
  std::function<std::vector<ScanTarget>(bool includeRemovable)> fullTargets;
  // Told every new scan state, on the thread that set it, with no lock held.
  std::function<void(ScanWorker&, const std::wstring& state)> stateChanged;
};

struct EngineOptions {
  std::wstring dataFolder;             // empty: the service's data folder
  std::shared_ptr<EngineClock> clock;  // null: the system clock
  EngineHooks hooks;
};

class ScanWorker {
 public:
  explicit ScanWorker(EngineOptions options = {});
  ~ScanWorker();  // runs stop()
  ScanWorker(const ScanWorker&) = delete;
  ScanWorker& operator=(const ScanWorker&) = delete;

  // Log, settings (a first start writes the defaults), signatures, quarantine, scan cache.
  // May throw what the settings reader throws for a malformed ScheduledHour.
  bool init(std::string* error = nullptr);
  // Starts the background threads.
  bool start(std::string* error = nullptr);
  // Starts an on-demand scan on the scan thread; refused while stopping, with protection off,
  // or while a scan runs.
  bool requestScan(uint32_t scope, std::vector<std::wstring> paths, std::string* error = nullptr);
  void cancelScan();

  ServiceConfig snapshotConfig() const;
  bool applyConfig(ServiceConfig newConfig, std::string* error = nullptr);
  // Writes the current settings to settings.ini.
  bool saveConfig(std::string* error = nullptr) const;
  // Changes the settings under the main lock (for the later parts that record times).
  void updateConfig(const std::function<void(ServiceConfig&)>& change);

  ScanProgressInfo progress() const;
  ScanSummary lastSummary() const;
  bool lastScanFailed() const;
  bool scanRunning() const { return scanRunning_.load(); }
  std::vector<DetectionRecord> detections() const;

  // Real-time protection reports here; the list is drained by takeRealTimeDetections (each
  // detection goes to exactly one client reply) but stays decidable until decided.
  void addRealTimeDetection(const FileVerdict& verdict);
  std::vector<DetectionRecord> takeRealTimeDetections();

  // The minifilter's question about a file: false (block) for level high or above, which is
  // also reported as a real-time detection. Allows when there is no database or the check fails.
  bool realTimeCheck(const std::wstring& path);

  // On-demand live update and self-update check, each on a one-shot thread; refused with
  // "обновление уже выполняется" while the same kind runs.
  bool startLiveUpdate(std::string* error = nullptr);
  bool startSelfUpdate(std::string* error = nullptr);
  bool liveUpdateRunning() const { return liveUpdateBusy_.load(); }
  bool selfUpdateRunning() const { return selfUpdateBusy_.load(); }
  std::string lastLiveUpdateError() const;
  std::string lastSelfUpdateError() const;
  std::wstring downloadedInstaller() const;
  void setDownloadedInstaller(const std::wstring& path);

  // Quarantines or deletes a file the engine itself reported; any other path gets
  // "no such detection" and nothing is touched.
  bool decideThreat(const ThreatDecision& decision, std::string* error = nullptr);
  std::vector<QuarantineRecord> quarantineList() const;
  bool quarantineDelete(uint64_t id, std::string* error = nullptr);
  bool quarantineRestore(uint64_t id, std::string* error = nullptr);

  // Loads the databases afresh and swaps them in; running scans finish on the old instance.
  bool reloadSignatures(std::string* error = nullptr);
  std::shared_ptr<const SignatureDatabase> database() const;

  // Joins every thread and saves the settings. Returns within a second or so whatever the
  // threads were waiting for.
  void stop();
  bool stopping() const { return stopping_.load(); }
  // For the threads of the later parts: waits up to `ms` or until stop; true when stopping.
  bool waitForStop(uint64_t ms);

  const std::wstring& dataFolder() const { return dataFolder_; }
  std::wstring settingsPath() const;
  std::wstring scanCachePath() const;
  std::wstring liveDatabasePath() const;

 private:
  void scanLoop(uint32_t scope, std::vector<std::wstring> paths);
  // Counts and scans; true when a cancel was requested meanwhile.
  bool runScan(const std::vector<ScanTarget>& targets, const std::vector<std::wstring>& files,
               const ServiceConfig& config, std::shared_ptr<const SignatureDatabase> db,
               ScanSummary& summary);
  void setState(const wchar_t* state);
  void notifyState(const wchar_t* state);
  void finishFailed(const wchar_t* state, bool failed);
  bool loadSignatures(std::shared_ptr<const SignatureDatabase>& db, std::string* error);
  void liveUpdateAttempt();
  bool startOneShot(std::atomic<bool>& busy, std::thread& thread, std::function<void()> body,
                    std::string* error);
  void startThread(std::thread& thread, std::function<void()> body);
  std::wstring inDataFolder(const wchar_t* name) const;

  EngineOptions options_;
  std::wstring dataFolder_;
  std::shared_ptr<EngineClock> clock_;

  ServiceConfig config_;
  std::shared_ptr<const SignatureDatabase> database_;
  mutable std::mutex databaseMutex_;
  std::unique_ptr<QuarantineStore> quarantine_;
  mutable std::mutex quarantineMutex_;  // one quarantine operation at a time
  ScanCache scanCache_;                 // scan thread only (init before any)

  mutable std::mutex mutex_;  // main lock: config_, progress_, summary_, failed_, detections
  ScanProgressInfo progress_;
  ScanSummary summary_;
  bool failed_ = false;
  std::vector<DetectionRecord> scanDetections_;
  std::vector<DetectionRecord> realTimeDetections_;   // not yet delivered to a client
  std::vector<DetectionRecord> undecidedRealTime_;    // delivered or not, not yet decided

  std::mutex threadMutex_;  // the scan thread
  std::thread scanThread_;
  std::thread schedulerThread_, realTimeThread_, liveUpdateThread_, webShieldThread_;
  std::thread liveUpdateNowThread_, selfUpdateThread_;  // one-shot, under threadMutex_
  ThreadSignal signal_;  // stop for every thread; wake for the web shield
  bool minifilterConnected_ = false;
  bool initialised_ = false;  // settings loaded: stop() may save them

  std::atomic<bool> scanRunning_{false};
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> liveUpdateBusy_{false};
  std::atomic<bool> selfUpdateBusy_{false};
  std::string liveUpdateError_;        // main lock
  std::string selfUpdateError_;        // main lock
  std::wstring downloadedInstaller_;   // main lock
  std::mutex cancelMutex_;  // wakes the cancel watcher
  std::condition_variable cancelCv_;
};

}  // namespace zorvek::svc
