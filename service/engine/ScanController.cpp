#include "service/engine/ScanController.h"

#include <chrono>
#include <exception>
#include <memory>
#include <stdexcept>
#include <filesystem>
#include <system_error>

#include "common/Fail.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek::svc {
namespace {

constexpr auto kCancelPoll = std::chrono::milliseconds(100);

// Folder errors logged one by one at the end of a scan; beyond these only their number.
constexpr size_t kFolderErrorsLogged = 20;

bool isFolder(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::is_directory(toPath(path), ec);
}

}  // namespace

ScannerOptions engineScannerOptions(const ServiceConfig& config) {
  ScannerOptions o;
  o.followLinks = false;
  o.scanArchives = config.scanArchives;
  o.skipCoreSystemFiles = true;
  o.maxFileSize = kEngineMaxFileSize;
  o.hashChunkSize = kEngineHashChunkSize;
  return o;
}

ScanController::ScanController(SettingsStore& settings, DetectionStore& detections,
                               ScanControllerOptions options)
    : settings_(settings), detections_(detections), options_(std::move(options)) {
  if (!options_.clock) options_.clock = systemClock();
}

ScanController::~ScanController() {
  beginStop();
  join();
}

void ScanController::loadCache() { cache_.load(options_.cachePath); }

bool ScanController::request(uint32_t scope, std::vector<std::wstring> paths,
                             std::string* error, const ClientIdentity& client) {
  if (stopping_.load()) return fail(error, "service is stopping");
  if (!settings_.copy().protectionEnabled) return fail(error, "protection is disabled");
  const bool ofPaths = scope != kScopeQuick && scope != kScopeFull && scope != kScopeMemory;
  // Paths are walked as the client: a client this thread cannot act as gets nothing walked.
  if (ofPaths && !ActingAs(client).ok()) return fail(error, "access denied");
  if (running_.exchange(true)) return fail(error, "a scan is already running");

  cancelRequested_.store(false);
  {
    std::lock_guard lock(mutex_);
    progress_.filesDone = progress_.filesTotal = progress_.bytesDone = progress_.bytesTotal = 0;
    progress_.currentFile.clear();
    progress_.phase = L"preparing";
  }
  detections_.clearScan();
  notifyState(L"preparing");

  std::lock_guard threadLock(threadMutex_);
  // join() takes this lock after beginStop raised the flag: checking again here keeps a request
  // that raced with it from starting a thread nobody joins.
  if (stopping_.load()) {
    finishFailed(L"idle", false);
    return fail(error, "service is stopping");
  }
  if (thread_.joinable()) thread_.join();
  try {
    thread_ = std::thread([this, scope, p = std::move(paths), client]() mutable {
      scanLoop(scope, std::move(p), client);
    });
  } catch (const std::exception& e) {
    finishFailed(L"failed", true);
    return fail(error, e.what());
  }
  return true;
}

void ScanController::cancel() {
  {
    std::lock_guard lock(cancelMutex_);
    cancelRequested_.store(true);
  }
  cancelCv_.notify_all();
}

void ScanController::beginStop() {
  stopping_.store(true);
  cancel();
}

void ScanController::join() {
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable()) thread_.join();
}

ScanProgressInfo ScanController::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

ScanSummary ScanController::lastSummary() const {
  std::lock_guard lock(mutex_);
  return summary_;
}

bool ScanController::lastFailed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

void ScanController::notifyState(const wchar_t* state) {
  if (options_.stateChanged) options_.stateChanged(state);
}

void ScanController::setState(const wchar_t* state) {
  {
    std::lock_guard lock(mutex_);
    progress_.phase = state;
  }
  notifyState(state);
}

void ScanController::finishFailed(const wchar_t* state, bool failed) {
  {
    std::lock_guard lock(mutex_);
    failed_ = failed;
    progress_.phase = state;
    running_.store(false);
  }
  notifyState(state);
}

void ScanController::scanLoop(uint32_t scope, std::vector<std::wstring> paths,
                              const ClientIdentity& client) {
  try {
    const auto started = std::chrono::steady_clock::now();
    const ServiceConfig config = settings_.copy();
    // Quick, full and memory scans are the service's own; only a scan of paths is the client's.
    const bool ofPaths = scope != kScopeQuick && scope != kScopeFull && scope != kScopeMemory;
    const ClientIdentity requested = ofPaths ? client : ClientIdentity();
    std::vector<ScanTarget> targets;
    std::vector<std::wstring> files;  // single files named by a request, evaluated directly
    if (scope == kScopeQuick) {
      targets = options_.quickTargets ? options_.quickTargets() : FileScanner::quickScanTargets();
    } else if (scope == kScopeFull) {
      targets = options_.fullTargets ? options_.fullTargets(config.scanRemovable)
                                     : FileScanner::fullScanTargets(config.scanRemovable);
    } else if (scope == kScopeMemory) {
      logWarning("memory scan requested but not implemented");
    } else {
      // Even which of them are folders is the client's to know, not the service's to tell.
      const ActingAs acting(requested);
      for (auto& p : paths) {
        // The walk enumerates folders only. Anything else named is evaluated directly, so a file
        // that is missing or not a regular one is reported as not scanned rather than dropped.
        if (isFolder(p)) {
          targets.push_back({std::move(p), true});
        } else {
          files.push_back(std::move(p));
        }
      }
    }
    if (targets.empty() && files.empty()) {
      finishFailed(L"idle", false);
      return;
    }

    std::shared_ptr<const SignatureDatabase> db =
        options_.database ? options_.database() : nullptr;
    if (!db) {
      logError("scan aborted: signature database is not loaded");
      finishFailed(L"failed", true);
      return;
    }

    ScanSummary summary;
    const bool cancelled = runScan(targets, files, config, std::move(db), requested, summary);
    const uint64_t elapsedMs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                              started)
            .count());

    std::string cacheError;
    if (!cache_.save(options_.cachePath, &cacheError)) {
      logWarning("scan cache not saved: " + cacheError);
    }

    summary.elapsedMs = elapsedMs;
    summary.cancelled = cancelled;
    {
      std::lock_guard lock(mutex_);
      summary_ = summary;
      failed_ = false;
      progress_.phase = cancelled ? L"cancelled" : L"finished";
    }
    const uint64_t nowSeconds = options_.clock->unixMs() / 1000;
    settings_.update([&](ServiceConfig& c) {
      c.lastScanUtc = nowSeconds;
      c.lastThreatCount = summary.threats;
    });
    notifyState(cancelled ? L"cancelled" : L"finished");
    settings_.save();
    logInfo("scan finished: files=" + std::to_string(summary.filesScanned) +
            " threats=" + std::to_string(summary.threats) + " ms=" + std::to_string(elapsedMs));
    if (summary.filesUnreadable > 0) {
      logWarning("scan skipped " + std::to_string(summary.filesUnreadable) +
                 " files that could not be read");
    }
    if (summary.foldersUnreadable > 0) {
      logWarning("scan skipped " + std::to_string(summary.foldersUnreadable) +
                 " folders that could not be opened");
    }
    running_.store(false);
  } catch (const std::exception& e) {
    // Outside the scan itself (targets, bookkeeping): the scan cannot go on, but the engine
    // must not be left "running" forever.
    logError(std::string("scan aborted: ") + e.what());
    finishFailed(L"failed", true);
  }
}

bool ScanController::runScan(const std::vector<ScanTarget>& targets,
                             const std::vector<std::wstring>& files, const ServiceConfig& config,
                             std::shared_ptr<const SignatureDatabase> db,
                             const ClientIdentity& client, ScanSummary& summary) {
  FileScanner scanner(std::move(db), engineScannerOptions(config));
  // What the verdicts showed so far: the summary when the scan throws midway.
  ScanSummary partial;
  // Logged once the scan is over, with the service's own rights again.
  std::vector<std::string> folderErrors;
  const auto onFolderError = [&](const std::wstring& folder, const std::string& why) {
    ++partial.foldersUnreadable;
    if (folderErrors.size() < kFolderErrorsLogged)
      folderErrors.push_back("cannot open folder " + toUtf8(folder) + ": " + why);
  };
  const auto onVerdict = [&](const FileVerdict& v) {
    if (countsAsUnreadable(v)) {
      ++partial.filesUnreadable;
      return;
    }
    ++partial.filesScanned;
    partial.bytesScanned += v.size;
    if (countsAsThreat(v)) {
      ++partial.threats;
    } else if (countsAsSuspicious(v)) {
      ++partial.suspicious;
    }
    cache_.record(v.path, v.size, v.modified);
    if (v.level >= ThreatLevel::Medium) detections_.addScan(detectionFromVerdict(v));
  };

  std::thread watcher;
  try {
    // Walks and reads happen as the client; the watcher thread and the bookkeeping after the
    // scan keep the service's own identity.
    const auto actAsClient = [&] {
      auto acting = std::make_unique<ActingAs>(client);
      if (!acting->ok()) throw std::runtime_error("cannot act as " + client.describe());
      return acting;
    };
    setState(L"counting");
    ScanProgressInfo measured;
    {
      const auto acting = actAsClient();
      // A full scan's count can take minutes: a cancel must not wait for it.
      measured = scanner.measure(targets, cancelRequested_);
      for (const auto& f : files) {
        if (cancelRequested_.load()) break;
        const long long size = fileSize(f);
        ++measured.filesTotal;
        if (size > 0) measured.bytesTotal += static_cast<uint64_t>(size);
      }
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
      while (!cancelRequested_.load() && running_.load()) {
        cancelCv_.wait_for(lock, kCancelPoll);
      }
      scanner.cancel();
    });

    // A cancel during counting skips the scan: the file scanner clears its own flag when its
    // scan starts, so the watcher's cancel could come too early and be lost.
    if (!cancelRequested_.load()) {
      const auto acting = actAsClient();
      uint64_t filesBefore = 0, bytesBefore = 0;
      for (const auto& f : files) {
        if (cancelRequested_.load()) break;
        {
          std::lock_guard lock(mutex_);
          progress_.currentFile = f;
        }
        const FileVerdict v = scanner.evaluate(f);
        if (v.readError == kCancelledRead) break;
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
              if (changed) notifyState(p.phase.c_str());
            },
            onVerdict, onFolderError);
      }
    }
  } catch (const std::exception& e) {
    logError(std::string("scan aborted: ") + e.what());
  }
  // The direct files and the walk alike came through onVerdict, and so did whatever a scan
  // that threw had done before.
  summary = partial;
  for (const auto& line : folderErrors) logWarning(line);
  if (partial.foldersUnreadable > folderErrors.size()) {
    logWarning("and " + std::to_string(partial.foldersUnreadable - folderErrors.size()) +
               " more folders that could not be opened");
  }

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

}  // namespace zorvek::svc
