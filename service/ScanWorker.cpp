#include "service/ScanWorker.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <system_error>

#include "common/DataPaths.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek::svc {
namespace {

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

constexpr uint64_t kMaxFileSize = 536870912;
constexpr uint64_t kHashChunkSize = 1048576;
constexpr auto kCancelPoll = std::chrono::milliseconds(100);

ScannerOptions scannerOptions(const ServiceConfig& config) {
  ScannerOptions o;
  o.followLinks = false;
  o.scanArchives = config.scanArchives;
  o.skipCoreSystemFiles = true;
  o.maxFileSize = kMaxFileSize;
  o.hashChunkSize = kHashChunkSize;
  return o;
}

bool isFolder(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::is_directory(toPath(path), ec);
}

bool isRegularFile(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(toPath(path), ec);
}

const DetectionRecord* findByPath(const std::vector<DetectionRecord>& list,
                                  const std::wstring& path) {
  for (const auto& r : list) {
    if (r.path == path) return &r;
  }
  return nullptr;
}

void eraseByPath(std::vector<DetectionRecord>& list, const std::wstring& path) {
  std::erase_if(list, [&](const DetectionRecord& r) { return r.path == path; });
}

}  // namespace

DetectionRecord detectionFromVerdict(const FileVerdict& verdict) {
  DetectionRecord r;
  r.path = verdict.path;
  r.secondText = verdict.sha256;
  r.level = verdict.level;
  r.size = verdict.size;
  r.findings = verdict.findings;
  r.reasons = verdict.reasons;
  // The deciding rule: the first finding at the verdict's level (a signature match comes first).
  const Finding* deciding = nullptr;
  for (const auto& f : verdict.findings) {
    if (f.level == verdict.level) {
      deciding = &f;
      break;
    }
  }
  if (!deciding && !verdict.findings.empty()) deciding = &verdict.findings.front();
  if (deciding) {
    r.detail = deciding->detail;
    r.code = deciding->code;
  }
  if (verdict.inDatabase && !verdict.signatureName.empty()) {
    r.threatName = verdict.signatureName;
  } else if (deciding) {
    r.threatName = deciding->title;
  } else if (!verdict.reasons.empty()) {
    r.threatName = verdict.reasons.front();
  }
  return r;
}

ScanWorker::ScanWorker(EngineOptions options) : options_(std::move(options)) {
  dataFolder_ = options_.dataFolder.empty() ? zorvek::dataFolder() : options_.dataFolder;
  clock_ = options_.clock ? options_.clock : systemClock();
  if (!options_.dataFolder.empty()) config_.quarantineDir = inDataFolder(L"Quarantine");
}

ScanWorker::~ScanWorker() { stop(); }

std::wstring ScanWorker::inDataFolder(const wchar_t* name) const {
  return dataFolder_ + pathSeparator() + name;
}
std::wstring ScanWorker::settingsPath() const { return inDataFolder(L"settings.ini"); }
std::wstring ScanWorker::scanCachePath() const { return inDataFolder(L"scan.cache"); }
std::wstring ScanWorker::liveDatabasePath() const { return inDataFolder(L"signatures.live.txt"); }

bool ScanWorker::init(std::string* error) {
  Logger::instance().open(inDataFolder(L"zorvek.log"));
  logInfo(std::string("ZorvekService starting, version ") + kServiceVersion);

  ServiceConfig loaded;
  if (!options_.dataFolder.empty()) loaded.quarantineDir = inDataFolder(L"Quarantine");
  // A malformed ScheduledHour throws here; engine start-up reports it and the service stays down.
  if (!loaded.load(settingsPath())) {
    logWarning("config not found, using defaults");
    loaded.save(settingsPath());
  }
  {
    std::lock_guard lock(mutex_);
    config_ = loaded;
  }
  // From here on stop() saves the settings; before, it would overwrite them with defaults.
  initialised_ = true;

  std::shared_ptr<const SignatureDatabase> db;
  std::string dbError;
  if (loadSignatures(db, &dbError)) {
    const SignatureDbInfo info = db->info();
    logInfo("signatures loaded: " + std::to_string(info.count) + " entries, version " +
            info.version);
  } else {
    logWarning("signature database not loaded: " + dbError);
  }
  {
    std::lock_guard lock(databaseMutex_);
    database_ = db;
  }

  auto store = std::make_unique<QuarantineStore>(loaded.quarantineDir);
  if (!store->ensureFolder(error)) return false;
  {
    std::lock_guard lock(quarantineMutex_);
    quarantine_ = std::move(store);
  }

  scanCache_.load(scanCachePath());
  return true;
}

bool ScanWorker::loadSignatures(std::shared_ptr<const SignatureDatabase>& db, std::string* error) {
  const ServiceConfig config = snapshotConfig();
  std::wstring wideError;
  db = assembleServiceDatabase(config.signatureDb, liveDatabasePath(), &wideError);
  if (!db) return fail(error, toUtf8(wideError));
  return true;
}

bool ScanWorker::reloadSignatures(std::string* error) {
  std::shared_ptr<const SignatureDatabase> db;
  if (!loadSignatures(db, error)) return false;
  const uint64_t count = db->info().count;
  {
    std::lock_guard lock(databaseMutex_);
    database_.swap(db);
  }
  // The old instance dies here unless a scan still holds it; either way outside the lock.
  db.reset();
  logInfo("signatures reloaded: " + std::to_string(count) + " entries");
  return true;
}

std::shared_ptr<const SignatureDatabase> ScanWorker::database() const {
  std::lock_guard lock(databaseMutex_);
  return database_;
}

void ScanWorker::startThread(std::thread& thread, std::function<void()> body) {
  thread = std::thread(std::move(body));
}

bool ScanWorker::start(std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");

  std::string filterError = "unavailable";
  if (options_.hooks.connectMinifilter &&
      options_.hooks.connectMinifilter(*this, &filterError)) {
    minifilterConnected_ = true;
    logInfo("minifilter connected, kernel protection active");
  } else {
    logInfo("minifilter unavailable (" + filterError + "), using userspace realtime");
  }

  const ServiceConfig config = snapshotConfig();
  if (config.scheduledScan) {
    startThread(schedulerThread_, [this] {
      runSchedulerLoop(
          *clock_, signal_, [this] { return snapshotConfig().scheduledHour; },
          [this] {
            std::string scanError;
            if (!requestScan(kScopeQuick, {}, &scanError)) {
              logWarning("scheduled scan skipped: " + scanError);
            }
          });
    });
  }
  const bool realTime = config.realTimeEnabled && config.protectionEnabled;
  if (realTime && options_.hooks.realTimeWatch) {
    startThread(realTimeThread_, [this] { options_.hooks.realTimeWatch(*this); });
  }
  startThread(liveUpdateThread_,
              [this] { runLiveUpdateLoop(*clock_, signal_, [this] { liveUpdateAttempt(); }); });
  startThread(webShieldThread_, [this] {
    runWebShieldLoop(*clock_, signal_, [this] {
      if (options_.hooks.webShield) options_.hooks.webShield(*this);
    });
  });

  logInfo(std::string("workers started (scheduled=") + (config.scheduledScan ? "on" : "off") +
          ", realtime=" + (realTime ? "on" : "off") + ")");
  return true;
}

void ScanWorker::liveUpdateAttempt() {
  if (!snapshotConfig().liveUpdates || !options_.hooks.liveUpdate) return;
  std::string error;
  try {
    if (!options_.hooks.liveUpdate(*this, &error)) logWarning("live update failed: " + error);
  } catch (const std::exception& e) {
    logWarning(std::string("live update failed: ") + e.what());
  }
}

bool ScanWorker::requestScan(uint32_t scope, std::vector<std::wstring> paths,
                             std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");
  if (!snapshotConfig().protectionEnabled) return fail(error, "protection is disabled");
  if (scanRunning_.exchange(true)) return fail(error, "a scan is already running");

  cancelRequested_.store(false);
  {
    std::lock_guard lock(mutex_);
    progress_.filesDone = progress_.filesTotal = progress_.bytesDone = progress_.bytesTotal = 0;
    progress_.currentFile.clear();
    progress_.phase = L"preparing";
    scanDetections_.clear();
  }
  notifyState(L"preparing");

  std::lock_guard threadLock(threadMutex_);
  // stop() joins the scan thread under this lock after raising the flag: checking again here
  // keeps a request that raced with it from starting a thread nobody joins.
  if (stopping_.load()) {
    finishFailed(L"idle", false);
    return fail(error, "service is stopping");
  }
  if (scanThread_.joinable()) scanThread_.join();
  try {
    scanThread_ = std::thread([this, scope, p = std::move(paths)]() mutable {
      scanLoop(scope, std::move(p));
    });
  } catch (const std::exception& e) {
    finishFailed(L"failed", true);
    return fail(error, e.what());
  }
  return true;
}

void ScanWorker::cancelScan() {
  {
    std::lock_guard lock(cancelMutex_);
    cancelRequested_.store(true);
  }
  cancelCv_.notify_all();
}

void ScanWorker::notifyState(const wchar_t* state) {
  if (options_.hooks.stateChanged) options_.hooks.stateChanged(*this, state);
}

void ScanWorker::setState(const wchar_t* state) {
  {
    std::lock_guard lock(mutex_);
    progress_.phase = state;
  }
  notifyState(state);
}

void ScanWorker::finishFailed(const wchar_t* state, bool failed) {
  {
    std::lock_guard lock(mutex_);
    failed_ = failed;
    progress_.phase = state;
    scanRunning_.store(false);
  }
  notifyState(state);
}

void ScanWorker::scanLoop(uint32_t scope, std::vector<std::wstring> paths) {
  try {
    const auto started = std::chrono::steady_clock::now();
    const ServiceConfig config = snapshotConfig();
    std::vector<ScanTarget> targets;
    std::vector<std::wstring> files;  // single files named by a request, evaluated directly
    if (scope == kScopeQuick) {
      targets = options_.hooks.quickTargets ? options_.hooks.quickTargets()
                                            : FileScanner::quickScanTargets();
    } else if (scope == kScopeFull) {
      targets = options_.hooks.fullTargets ? options_.hooks.fullTargets(config.scanRemovable)
                                           : FileScanner::fullScanTargets(config.scanRemovable);
    } else if (scope == kScopeMemory) {
      logWarning("memory scan requested but not implemented");
    } else {
      for (auto& p : paths) {
        // The walk enumerates folders only; a named file would otherwise yield nothing.
        if (!isFolder(p) && isRegularFile(p)) {
          files.push_back(std::move(p));
        } else {
          targets.push_back({std::move(p), true});
        }
      }
    }
    if (targets.empty() && files.empty()) {
      finishFailed(L"idle", false);
      return;
    }

    std::shared_ptr<const SignatureDatabase> db = database();
    if (!db) {
      logError("scan aborted: signature database is not loaded");
      finishFailed(L"failed", true);
      return;
    }

    ScanSummary summary;
    const bool cancelled = runScan(targets, files, config, std::move(db), summary);
    const uint64_t elapsedMs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                              started)
            .count());

    std::string cacheError;
    if (!scanCache_.save(scanCachePath(), &cacheError)) {
      logWarning("scan cache not saved: " + cacheError);
    }

    summary.elapsedMs = elapsedMs;
    summary.cancelled = cancelled;
    ServiceConfig saved;
    {
      std::lock_guard lock(mutex_);
      summary_ = summary;
      failed_ = false;
      progress_.phase = cancelled ? L"cancelled" : L"finished";
      config_.lastScanUtc = clock_->unixMs() / 1000;
      config_.lastThreatCount = summary.threats;
      saved = config_;
    }
    notifyState(cancelled ? L"cancelled" : L"finished");
    saved.save(settingsPath());
    logInfo("scan finished: files=" + std::to_string(summary.filesScanned) +
            " threats=" + std::to_string(summary.threats) + " ms=" + std::to_string(elapsedMs));
    scanRunning_.store(false);
  } catch (const std::exception& e) {
    // Outside the scan itself (targets, bookkeeping): the scan cannot go on, but the engine
    // must not be left "running" forever.
    logError(std::string("scan aborted: ") + e.what());
    finishFailed(L"failed", true);
  }
}

bool ScanWorker::runScan(const std::vector<ScanTarget>& targets,
                         const std::vector<std::wstring>& files, const ServiceConfig& config,
                         std::shared_ptr<const SignatureDatabase> db, ScanSummary& summary) {
  FileScanner scanner(std::move(db), scannerOptions(config));
  // What the verdicts showed so far: the summary when the scan throws midway.
  ScanSummary partial;
  const auto onVerdict = [&](const FileVerdict& v) {
    ++partial.filesScanned;
    partial.bytesScanned += v.size;
    if (countsAsThreat(v)) {
      ++partial.threats;
    } else if (countsAsSuspicious(v)) {
      ++partial.suspicious;
    }
    scanCache_.record(v.path, v.size, v.modified);
    if (v.level >= ThreatLevel::Medium) {
      DetectionRecord record = detectionFromVerdict(v);
      std::lock_guard lock(mutex_);
      scanDetections_.push_back(std::move(record));
    }
  };

  std::thread watcher;
  try {
    setState(L"counting");
    ScanProgressInfo measured = scanner.measure(targets);
    for (const auto& f : files) {
      const long long size = fileSize(f);
      ++measured.filesTotal;
      if (size > 0) measured.bytesTotal += static_cast<uint64_t>(size);
    }
    const uint64_t filesTotal = measured.filesTotal;
    const uint64_t bytesTotal = measured.bytesTotal;
    {
      std::lock_guard lock(mutex_);
      progress_ = measured;
      progress_.phase = L"scanning";
    }
    notifyState(L"scanning");

    watcher = std::thread([this, &scanner] {
      std::unique_lock lock(cancelMutex_);
      while (!cancelRequested_.load() && scanRunning_.load()) {
        cancelCv_.wait_for(lock, kCancelPoll);
      }
      scanner.cancel();
    });

    // A cancel during counting skips the scan: the file scanner clears its own flag when its
    // scan starts, so the watcher's cancel could come too early and be lost.
    if (!cancelRequested_.load()) {
      uint64_t filesBefore = 0, bytesBefore = 0;
      for (const auto& f : files) {
        if (cancelRequested_.load()) break;
        {
          std::lock_guard lock(mutex_);
          progress_.currentFile = f;
        }
        const FileVerdict v = scanner.evaluate(f);
        onVerdict(v);
        ++filesBefore;
        bytesBefore += v.size;
        std::lock_guard lock(mutex_);
        progress_.filesDone = filesBefore;
        progress_.bytesDone = bytesBefore;
      }
      if (!targets.empty() && !cancelRequested_.load()) {
        scanner.scan(
            targets,
            [&](const ScanProgressInfo& p) {
              // Same reason as above: a cancel that came while the scan was starting.
              if (cancelRequested_.load()) scanner.cancel();
              bool changed = false;
              {
                std::lock_guard lock(mutex_);
                changed = progress_.phase != p.phase;
                progress_ = p;
                progress_.filesDone += filesBefore;
                progress_.bytesDone += bytesBefore;
                progress_.filesTotal = filesTotal;
                progress_.bytesTotal = bytesTotal;
              }
              if (changed && options_.hooks.stateChanged) {
                options_.hooks.stateChanged(*this, p.phase);
              }
            },
            onVerdict);
      }
    }
  } catch (const std::exception& e) {
    logError(std::string("scan aborted: ") + e.what());
  }
  // The direct files and the walk alike came through onVerdict, and so did whatever a scan
  // that threw had done before.
  summary = partial;

  // Remember whether the user cancelled, then raise the flag ourselves to end the watcher.
  bool cancelled = false;
  {
    std::lock_guard lock(cancelMutex_);
    cancelled = cancelRequested_.exchange(true);
  }
  cancelCv_.notify_all();
  if (watcher.joinable()) watcher.join();
  return cancelled;
}

ServiceConfig ScanWorker::snapshotConfig() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void ScanWorker::updateConfig(const std::function<void(ServiceConfig&)>& change) {
  std::lock_guard lock(mutex_);
  change(config_);
}

bool ScanWorker::saveConfig(std::string* error) const {
  return snapshotConfig().save(settingsPath(), error);
}

bool ScanWorker::applyConfig(ServiceConfig newConfig, std::string* error) {
  ServiceConfig old;
  {
    std::lock_guard lock(mutex_);
    old = config_;
    if (newConfig.signatureDb.empty()) newConfig.signatureDb = config_.signatureDb;
    if (newConfig.quarantineDir.empty()) newConfig.quarantineDir = config_.quarantineDir;
    // Clients cannot carry the update server (the settings payload has no field for it): a
    // record they send would otherwise clear it.
    newConfig.updateServer = config_.updateServer;
    config_ = newConfig;
  }
  saveConfig();
  if (newConfig.realTimeEnabled != old.realTimeEnabled) {
    logInfo("real-time setting changed, service restart required");
  }
  if (newConfig.webShield != old.webShield) signal_.wake();
  return true;
}

ScanProgressInfo ScanWorker::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

ScanSummary ScanWorker::lastSummary() const {
  std::lock_guard lock(mutex_);
  return summary_;
}

bool ScanWorker::lastScanFailed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

std::vector<DetectionRecord> ScanWorker::detections() const {
  std::lock_guard lock(mutex_);
  return scanDetections_;
}

void ScanWorker::addRealTimeDetection(const FileVerdict& verdict) {
  DetectionRecord record = detectionFromVerdict(verdict);
  std::lock_guard lock(mutex_);
  realTimeDetections_.push_back(record);
  // A file detected again replaces its earlier undecided record.
  eraseByPath(undecidedRealTime_, record.path);
  undecidedRealTime_.push_back(std::move(record));
}

std::vector<DetectionRecord> ScanWorker::takeRealTimeDetections() {
  std::lock_guard lock(mutex_);
  std::vector<DetectionRecord> out;
  out.swap(realTimeDetections_);
  return out;
}

bool ScanWorker::decideThreat(const ThreatDecision& decision, std::string* error) {
  // The service runs with full rights and any local user may send a decision: only files the
  // engine itself reported may be touched.
  DetectionRecord record;
  {
    std::lock_guard lock(mutex_);
    const DetectionRecord* found = findByPath(scanDetections_, decision.path);
    if (!found) found = findByPath(undecidedRealTime_, decision.path);
    if (!found) return fail(error, "no such detection");
    record = *found;
    if (decision.action != kActionQuarantine && decision.action != kActionDelete) {
      eraseByPath(undecidedRealTime_, decision.path);
      return true;
    }
  }

  std::lock_guard quarantineLock(quarantineMutex_);
  if (!quarantine_) return fail(error, "quarantine is not available");
  // The path may have been made to point elsewhere since the detection (a folder swapped for
  // a junction into a system folder): act only on the very file that was judged.
  const long long size = fileSize(decision.path);
  if (size >= 0 && static_cast<uint64_t>(size) != record.size) {
    return fail(error, "file changed since detection");
  }
  if (size >= 0 && !record.secondText.empty() &&
      hash::sha256File(decision.path, kHashChunkSize) != record.secondText) {
    return fail(error, "file changed since detection");
  }
  QuarantineRecord stored;
  if (!quarantine_->add(decision.path, record.secondText, decision.threatName, record.code,
                        static_cast<ThreatLevel>(decision.level), &stored, error)) {
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    eraseByPath(undecidedRealTime_, decision.path);
  }
  if (decision.action == kActionQuarantine) {
    logInfo("quarantined: " + toUtf8(decision.path));
    return true;
  }
  if (!quarantine_->remove(stored.id, error)) return false;
  logInfo("deleted: " + toUtf8(decision.path));
  return true;
}

std::vector<QuarantineRecord> ScanWorker::quarantineList() const {
  std::lock_guard lock(quarantineMutex_);
  return quarantine_ ? quarantine_->list() : std::vector<QuarantineRecord>{};
}

bool ScanWorker::quarantineDelete(uint64_t id, std::string* error) {
  std::lock_guard lock(quarantineMutex_);
  if (!quarantine_) return fail(error, "quarantine is not available");
  return quarantine_->remove(id, error);
}

bool ScanWorker::quarantineRestore(uint64_t id, std::string* error) {
  std::lock_guard lock(quarantineMutex_);
  if (!quarantine_) return fail(error, "quarantine is not available");
  return quarantine_->restore(id, error);
}

bool ScanWorker::realTimeCheck(const std::wstring& path) {
  try {
    const auto db = database();
    if (!db) return true;
    const FileScanner scanner(db, scannerOptions(snapshotConfig()));
    const FileVerdict verdict = scanner.evaluate(path);
    if (verdict.level < ThreatLevel::High) return true;
    addRealTimeDetection(verdict);
    return false;
  } catch (const std::exception&) {
    return true;  // a failing check must not block the machine's file access
  }
}

bool ScanWorker::startOneShot(std::atomic<bool>& busy, std::thread& thread,
                              std::function<void()> body, std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");
  if (busy.exchange(true)) return fail(error, "обновление уже выполняется");
  std::lock_guard lock(threadMutex_);
  if (stopping_.load()) {
    busy.store(false);
    return fail(error, "service is stopping");
  }
  if (thread.joinable()) thread.join();  // finished: its busy flag was clear
  try {
    thread = std::thread([&busy, body = std::move(body)] {
      try {
        body();
      } catch (const std::exception& e) {
        logError(std::string("worker threw: ") + e.what());
      }
      busy.store(false);
    });
  } catch (const std::exception& e) {
    busy.store(false);
    return fail(error, e.what());
  }
  return true;
}

bool ScanWorker::startLiveUpdate(std::string* error) {
  return startOneShot(
      liveUpdateBusy_, liveUpdateNowThread_,
      [this] {
        std::string text = "live update is not available";
        const bool ok = options_.hooks.liveUpdate && options_.hooks.liveUpdate(*this, &text);
        std::lock_guard lock(mutex_);
        liveUpdateError_ = ok ? std::string() : text;
      },
      error);
}

bool ScanWorker::startSelfUpdate(std::string* error) {
  {
    std::lock_guard lock(mutex_);
    if (!selfUpdateBusy_.load()) {
      selfUpdateError_.clear();
      downloadedInstaller_.clear();
    }
  }
  return startOneShot(
      selfUpdateBusy_, selfUpdateThread_,
      [this] {
        std::string text = "self-update is not available";
        const bool ok = options_.hooks.selfUpdate && options_.hooks.selfUpdate(*this, &text);
        if (!ok) {
          std::lock_guard lock(mutex_);
          selfUpdateError_ = text;
        }
      },
      error);
}

std::string ScanWorker::lastLiveUpdateError() const {
  std::lock_guard lock(mutex_);
  return liveUpdateError_;
}

std::string ScanWorker::lastSelfUpdateError() const {
  std::lock_guard lock(mutex_);
  return selfUpdateError_;
}

std::wstring ScanWorker::downloadedInstaller() const {
  std::lock_guard lock(mutex_);
  return downloadedInstaller_;
}

void ScanWorker::setDownloadedInstaller(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  downloadedInstaller_ = path;
}

bool ScanWorker::waitForStop(uint64_t ms) {
  return clock_->wait(signal_, ms, false) == WaitResult::Stopped;
}

void ScanWorker::stop() {
  if (stopping_.exchange(true)) return;
  if (minifilterConnected_ && options_.hooks.disconnectMinifilter) {
    options_.hooks.disconnectMinifilter(*this);
  }
  cancelScan();
  // Ends every wait of the engine's threads at once, the web shield's included.
  signal_.requestStop();
  {
    std::lock_guard lock(threadMutex_);
    for (std::thread* t : {&scanThread_, &liveUpdateNowThread_, &selfUpdateThread_}) {
      if (t->joinable()) t->join();
    }
  }
  for (std::thread* t : {&realTimeThread_, &schedulerThread_, &liveUpdateThread_,
                         &webShieldThread_}) {
    if (t->joinable()) t->join();
  }
  if (initialised_) saveConfig();
  logInfo("workers stopped");
}

}  // namespace zorvek::svc
