#pragma once
// The protection engine: one object per service process, the face the pipe dispatcher and the
// service host talk to. It composes the rooms of this folder (settings, detections, scans,
// background workers) and owns the signature database and the quarantine. The later subsystems
// reach it only through the narrow views of EngineAccess.h, handed to their hooks.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/ServiceConfig.h"
#include "common/SignatureDatabase.h"
#include "common/platform/ClientIdentity.h"
#include "service/FileScanner.h"
#include "service/FileVerdict.h"
#include "service/QuarantineStore.h"
#include "service/engine/BackgroundWorkers.h"
#include "service/engine/DetectionStore.h"
#include "service/engine/EngineAccess.h"
#include "service/engine/EngineTimers.h"
#include "service/engine/ScanController.h"
#include "service/engine/SettingsStore.h"

namespace zorvek::svc {

inline constexpr char kServiceVersion[] = "1.2.0";
// The refusal of a decision whose path leads through a link.
inline constexpr char kDecisionThroughLink[] = "decision refused: the path contains a link";

// Where the later parts of the service plug in. Every hook may be empty: the thread or step
// that calls it then does nothing.
struct EngineHooks {
  // Live signature update: fetch the feeds and reload (run by the live-update timer and by
  // startLiveUpdate).
  std::function<bool(LiveUpdateAccess&, std::string* error)> liveUpdate;
  // Self-update check (run by startSelfUpdate); records the installer with
  // setDownloadedInstaller.
  std::function<bool(SelfUpdateAccess&, std::string* error)> selfUpdate;
  // One pass of the web shield (run by the web-shield thread).
  std::function<void(WebShieldAccess&)> webShield;
  // Minifilter port client: connect in start (false with the reason), disconnect in stop.
  std::function<bool(RealTimeAccess&, std::string* error)> connectMinifilter;
  std::function<void()> disconnectMinifilter;
  // Body of the real-time watcher thread; must return soon after waitForStop() does.
  std::function<void(RealTimeAccess&)> realTimeWatch;
  // Scan targets of the quick and full scopes (default: the file scanner's lists).
  std::function<std::vector<ScanTarget>()> quickTargets;
  std::function<std::vector<ScanTarget>(bool includeRemovable)> fullTargets;
  // Told every new scan state, on the thread that set it, with no lock held.
  std::function<void(const std::wstring& state)> stateChanged;
};

struct EngineOptions {
  std::wstring dataFolder;             // empty: the service's data folder
  std::shared_ptr<EngineClock> clock;  // null: the system clock
  EngineHooks hooks;
};

class ScanWorker final : private RealTimeAccess,
                         private LiveUpdateAccess,
                         private SelfUpdateAccess,
                         private WebShieldAccess {
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
  // or while a scan runs. A scan of paths reads no more than `client` could read itself; the
  // quick, full and memory scopes run with the service's rights.
  bool requestScan(uint32_t scope, std::vector<std::wstring> paths, std::string* error = nullptr,
                   const ClientIdentity& client = {});
  void cancelScan() { scans_.cancel(); }

  ServiceConfig snapshotConfig() const override { return settings_.copy(); }
  bool applyConfig(ServiceConfig newConfig, std::string* error = nullptr);
  // Writes the current settings to settings.ini.
  bool saveConfig(std::string* error = nullptr) const { return settings_.save(error); }
  // Changes the settings under their lock.
  void updateConfig(const std::function<void(ServiceConfig&)>& change) {
    settings_.update(change);
  }

  ScanProgressInfo progress() const { return scans_.progress(); }
  ScanSummary lastSummary() const { return scans_.lastSummary(); }
  bool lastScanFailed() const { return scans_.lastFailed(); }
  bool scanRunning() const { return scans_.running(); }
  std::vector<DetectionRecord> detections() const { return detections_.scanDetections(); }

  // Real-time protection reports here; the list is drained by takeRealTimeDetections (each
  // detection goes to exactly one client reply) but stays decidable until decided.
  void addRealTimeDetection(const FileVerdict& verdict) override;
  std::vector<DetectionRecord> takeRealTimeDetections() { return detections_.takeRealTime(); }
  // Taken detections that no reply could carry wait for the next one.
  void returnRealTimeDetections(std::vector<DetectionRecord> records) {
    detections_.returnRealTime(std::move(records));
  }

  // The minifilter's question about a file: false (block) for level high or above, which is
  // also reported as a real-time detection. Allows when there is no database or the check fails.
  bool realTimeCheck(const std::wstring& path) override;

  // On-demand live update and self-update check, each on a one-shot thread; refused with
  // "обновление уже выполняется" while the same kind runs.
  bool startLiveUpdate(std::string* error = nullptr);
  bool startSelfUpdate(std::string* error = nullptr);
  bool liveUpdateRunning() const { return workers_.liveUpdateJob().running(); }
  bool selfUpdateRunning() const { return workers_.selfUpdateJob().running(); }
  std::string lastLiveUpdateError() const { return workers_.liveUpdateJob().lastError(); }
  std::string lastSelfUpdateError() const { return workers_.selfUpdateJob().lastError(); }
  std::wstring downloadedInstaller() const { return workers_.selfUpdateJob().output(); }
  void setDownloadedInstaller(const std::wstring& path) override {
    workers_.selfUpdateJob().setOutput(path);
  }

  // Quarantines or deletes a file the engine itself reported; any other path gets
  // "no such detection" and nothing is touched. The file is checked and moved through one
  // handle, never through a link, and only when `client` could delete it itself ("access
  // denied" otherwise). The quarantine record takes its texts from the engine's detection.
  bool decideThreat(const ThreatDecision& decision, std::string* error = nullptr,
                    const ClientIdentity& client = {});
  std::vector<QuarantineRecord> quarantineList() const;
  bool quarantineDelete(uint64_t id, std::string* error = nullptr);
  bool quarantineRestore(uint64_t id, std::string* error = nullptr);
  // Moves on with every quarantine operation, so a client fetches the list only after a change.
  uint64_t quarantineGeneration() const { return quarantineGeneration_.load(); }

  // Loads the databases afresh and swaps them in; running scans finish on the old instance.
  bool reloadSignatures(std::string* error = nullptr) override;
  std::shared_ptr<const SignatureDatabase> database() const;

  // Joins every thread and saves the settings. Returns within a second or so whatever the
  // threads were waiting for.
  void stop();
  bool stopping() const override { return stopping_.load(); }
  // For the threads of the later parts: waits up to `ms` or until stop; true when stopping.
  bool waitForStop(uint64_t ms) override { return workers_.waitForStop(ms); }

  const std::wstring& dataFolder() const override { return dataFolder_; }
  std::wstring settingsPath() const;
  std::wstring scanCachePath() const;
  std::wstring liveDatabasePath() const override;

 private:
  // The rest of the narrow views.
  std::unique_ptr<FileScanner> makeScanner() const override;
  std::vector<std::wstring> serviceFolders() const override;
  bool recordLiveUpdate(std::string* error) override;
  uint64_t unixMs() override { return clock_->unixMs(); }

  ServiceConfig defaultConfig() const;
  bool loadSignatures(std::shared_ptr<const SignatureDatabase>& db, std::string* error);
  void liveUpdateAttempt();
  std::wstring inDataFolder(const wchar_t* name) const;

  // Members in construction order: the rooms below use those above.
  EngineHooks hooks_;
  bool ownDataFolder_;
  std::wstring dataFolder_;
  std::shared_ptr<EngineClock> clock_;
  SettingsStore settings_;
  DetectionStore detections_;

  std::shared_ptr<const SignatureDatabase> database_;
  mutable std::mutex databaseMutex_;
  std::unique_ptr<QuarantineStore> quarantine_;
  mutable std::mutex quarantineMutex_;  // one quarantine operation at a time
  // Starts from the clock, so a restarted service does not repeat a value a client still holds.
  std::atomic<uint64_t> quarantineGeneration_;

  ScanController scans_;
  BackgroundWorkers workers_;
  bool minifilterConnected_ = false;
  std::atomic<bool> stopping_{false};
};

}  // namespace zorvek::svc
