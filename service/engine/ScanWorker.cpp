#include "service/engine/ScanWorker.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "common/DataPaths.h"
#include "common/Fail.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek::svc {
namespace {

uint64_t firstQuarantineGeneration() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::max<uint64_t>(1, static_cast<uint64_t>(std::chrono::nanoseconds(now).count()));
}

// A quarantine operation moves the generation on whatever its outcome: a failed one may still
// have changed the folder.
struct GenerationBump {
  std::atomic<uint64_t>& generation;
  ~GenerationBump() { ++generation; }
};

}  // namespace

ScanWorker::ScanWorker(EngineOptions options)
    : hooks_(std::move(options.hooks)),
      ownDataFolder_(!options.dataFolder.empty()),
      dataFolder_(ownDataFolder_ ? options.dataFolder : zorvek::dataFolder()),
      clock_(options.clock ? options.clock : systemClock()),
      settings_(inDataFolder(L"settings.ini"), defaultConfig()),
      quarantineGeneration_(firstQuarantineGeneration()),
      scans_(settings_, detections_,
             {scanCachePath(), clock_, [this] { return database(); }, hooks_.quickTargets,
              hooks_.fullTargets, hooks_.stateChanged}),
      workers_(clock_) {}

ScanWorker::~ScanWorker() { stop(); }

ServiceConfig ScanWorker::defaultConfig() const {
  ServiceConfig c;
  // An engine on a data folder of its own keeps its quarantine there too.
  if (ownDataFolder_) c.quarantineDir = inDataFolder(L"Quarantine");
  return c;
}

std::wstring ScanWorker::inDataFolder(const wchar_t* name) const {
  return dataFolder_ + pathSeparator() + name;
}
std::wstring ScanWorker::settingsPath() const { return settings_.path(); }
std::wstring ScanWorker::scanCachePath() const { return inDataFolder(L"scan.cache"); }
std::wstring ScanWorker::liveDatabasePath() const { return inDataFolder(L"signatures.live.txt"); }

bool ScanWorker::init(std::string* error) {
  Logger::instance().open(inDataFolder(L"zorvek.log"));
  logInfo(std::string("ZorvekService starting, version ") + kServiceVersion);
  // A malformed ScheduledHour throws here; engine start-up reports it and the service stays down.
  settings_.load(defaultConfig());

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

  auto store = std::make_unique<QuarantineStore>(settings_.copy().quarantineDir);
  if (!store->ensureFolder(error)) return false;
  // A kill in the middle of a quarantine operation is mended before anything else touches it.
  std::vector<std::string> mended;
  std::string recoverError;
  if (!store->recover(&mended, &recoverError)) logWarning("quarantine not checked: " + recoverError);
  for (const auto& line : mended) logWarning(line);
  {
    std::lock_guard lock(quarantineMutex_);
    quarantine_ = std::move(store);
    ++quarantineGeneration_;
  }

  scans_.loadCache();
  return true;
}

bool ScanWorker::loadSignatures(std::shared_ptr<const SignatureDatabase>& db, std::string* error) {
  std::wstring wideError;
  db = assembleServiceDatabase(settings_.copy().signatureDb, liveDatabasePath(), &wideError);
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

bool ScanWorker::start(std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");

  std::string filterError = "unavailable";
  if (hooks_.connectMinifilter &&
      hooks_.connectMinifilter(static_cast<RealTimeAccess&>(*this), &filterError)) {
    minifilterConnected_ = true;
    logInfo("minifilter connected, kernel protection active");
  } else {
    logInfo("minifilter unavailable (" + filterError + "), using userspace realtime");
  }

  const ServiceConfig config = snapshotConfig();
  if (config.scheduledScan) {
    workers_.startScheduler([this] { return snapshotConfig().scheduledHour; },
                            [this] {
                              std::string scanError;
                              if (!requestScan(kScopeQuick, {}, &scanError)) {
                                logWarning("scheduled scan skipped: " + scanError);
                              }
                            });
  }
  const bool realTime = config.realTimeEnabled && config.protectionEnabled;
  if (realTime && hooks_.realTimeWatch) {
    workers_.startRealTime([this] { hooks_.realTimeWatch(static_cast<RealTimeAccess&>(*this)); });
  }
  workers_.startLiveUpdateTimer([this] { liveUpdateAttempt(); });
  workers_.startWebShield([this] {
    if (hooks_.webShield) hooks_.webShield(static_cast<WebShieldAccess&>(*this));
  });

  logInfo(std::string("workers started (scheduled=") + (config.scheduledScan ? "on" : "off") +
          ", realtime=" + (realTime ? "on" : "off") + ")");
  return true;
}

void ScanWorker::liveUpdateAttempt() {
  if (!snapshotConfig().liveUpdates || !hooks_.liveUpdate) return;
  std::string error;
  try {
    if (!hooks_.liveUpdate(static_cast<LiveUpdateAccess&>(*this), &error)) {
      logWarning("live update failed: " + error);
    }
  } catch (const std::exception& e) {
    logWarning(std::string("live update failed: ") + e.what());
  }
}

bool ScanWorker::requestScan(uint32_t scope, std::vector<std::wstring> paths,
                             std::string* error, const ClientIdentity& client) {
  if (stopping_.load()) return fail(error, "service is stopping");
  return scans_.request(scope, std::move(paths), error, client);
}

bool ScanWorker::applyConfig(ServiceConfig newConfig, std::string* /*error*/) {
  const ServiceConfig old = settings_.replace(newConfig);
  saveConfig();
  if (newConfig.realTimeEnabled != old.realTimeEnabled) {
    logInfo("real-time setting changed, service restart required");
  }
  if (newConfig.webShield != old.webShield) workers_.wakeWebShield();
  return true;
}

void ScanWorker::addRealTimeDetection(const FileVerdict& verdict) {
  detections_.addRealTime(detectionFromVerdict(verdict));
}

bool ScanWorker::decideThreat(const ThreatDecision& decision, std::string* error,
                              const ClientIdentity& client) {
  // The service runs with full rights and any local user may send a decision: only files the
  // engine itself reported may be touched.
  DetectionRecord record;
  if (!detections_.reported(decision.path, record, error)) return false;
  if (decision.action != kActionQuarantine && decision.action != kActionDelete) {
    detections_.decided(decision.path);
    return true;
  }

  std::lock_guard quarantineLock(quarantineMutex_);
  if (!quarantine_) return fail(error, "quarantine is not available");
  const GenerationBump bump{quarantineGeneration_};
  // The path may have been made to point elsewhere since the detection (a folder swapped for
  // a link into a system folder): the file is opened once, without following links, checked
  // through that handle and moved as that very object.
  HeldFile held;
  OpenFailure why = OpenFailure::None;
  unsigned long code = 0;
  std::string openError;
  if (!holdFile(decision.path, held, &openError, &why, &code, client)) {
    switch (why) {
      case OpenFailure::Link:
        return fail(error, kDecisionThroughLink);
      case OpenFailure::AccessDenied:
        return fail(error, "access denied");
      case OpenFailure::NotFound:
        return fail(error, "file not found");
      default:
        return fail(error, "MoveFileEx failed, code " + std::to_string(code) +
                               " (файл может быть запущен или заблокирован)");
    }
  }
  FileInfo info;
  if (!held.file.info(info) || info.size != record.size) {
    return fail(error, "file changed since detection");
  }
  std::string readError;
  const std::string sha256 = hash::sha256OpenFile(held.file, kEngineHashChunkSize, &readError);
  if (sha256.empty()) return fail(error, "cannot read the file: " + readError);
  if (!record.secondText.empty() && sha256 != record.secondText) {
    return fail(error, "file changed since detection");
  }
  // The texts are the engine's own: a client could send any.
  QuarantineRecord stored;
  if (!quarantine_->add(held, sha256, record.threatName, record.code, record.level, &stored,
                        error)) {
    return false;
  }
  detections_.decided(decision.path);
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
  const GenerationBump bump{quarantineGeneration_};
  return quarantine_->remove(id, error);
}

bool ScanWorker::quarantineRestore(uint64_t id, std::string* error) {
  std::lock_guard lock(quarantineMutex_);
  if (!quarantine_) return fail(error, "quarantine is not available");
  const GenerationBump bump{quarantineGeneration_};
  return quarantine_->restore(id, error);
}

std::unique_ptr<FileScanner> ScanWorker::makeScanner() const {
  auto db = database();
  if (!db) return nullptr;
  return std::make_unique<FileScanner>(std::move(db), engineScannerOptions(snapshotConfig()));
}

std::vector<std::wstring> ScanWorker::serviceFolders() const {
  std::vector<std::wstring> out{dataFolder_};
  const std::wstring quarantine = settings_.copy().quarantineDir;
  if (!quarantine.empty()) out.push_back(quarantine);
  return out;
}

bool ScanWorker::realTimeCheck(const std::wstring& path) {
  try {
    const auto scanner = makeScanner();
    if (!scanner) return true;
    const FileVerdict verdict = scanner->evaluate(path);
    if (verdict.level < ThreatLevel::High) return true;
    addRealTimeDetection(verdict);
    return false;
  } catch (const std::exception&) {
    return true;  // a failing check must not block the machine's file access
  }
}

bool ScanWorker::recordLiveUpdate(std::string* error) {
  const uint64_t nowSeconds = clock_->unixMs() / 1000;
  settings_.update([&](ServiceConfig& c) { c.lastLiveUpdateUtc = nowSeconds; });
  return saveConfig(error);
}

bool ScanWorker::startLiveUpdate(std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");
  return workers_.startOneShot(
      workers_.liveUpdateJob(),
      [this](std::string* text) {
        *text = "live update is not available";
        return hooks_.liveUpdate && hooks_.liveUpdate(static_cast<LiveUpdateAccess&>(*this), text);
      },
      error);
}

bool ScanWorker::startSelfUpdate(std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");
  return workers_.startOneShot(
      workers_.selfUpdateJob(),
      [this](std::string* text) {
        *text = "self-update is not available";
        return hooks_.selfUpdate && hooks_.selfUpdate(static_cast<SelfUpdateAccess&>(*this), text);
      },
      error);
}

void ScanWorker::stop() {
  if (stopping_.exchange(true)) return;
  if (minifilterConnected_ && hooks_.disconnectMinifilter) hooks_.disconnectMinifilter();
  scans_.beginStop();
  // Ends every wait of the engine's threads at once, the web shield's included.
  workers_.beginStop();
  scans_.join();
  workers_.join();
  if (settings_.loaded()) saveConfig();
  logInfo("workers stopped");
}

}  // namespace zorvek::svc
