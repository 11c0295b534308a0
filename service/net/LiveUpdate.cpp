#include "service/net/LiveUpdate.h"

#include <mutex>

#include "common/Fail.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/engine/EngineAccess.h"
#include "service/net/HttpClient.h"
#include "service/net/UpdateServer.h"

namespace zorvek::svc {
namespace {

std::mutex& runMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

std::vector<std::string> builtInLiveFeeds() {
  const std::string base =
      "https://raw.githubusercontent.com/aaryanrlondhe/Malware-Hash-Database/main/SHA256/"
      "sha256_hashes_";
  return {base + "1.txt", base + "2.txt", base + "3.txt"};
}

bool fetchLiveSignatures(const std::string& server, uint64_t* count, std::string* error,
                         const LiveUpdateOptions& options) {
  if (error) error->clear();
  std::lock_guard<std::mutex> lock(runMutex());
  const auto cancelled = [&] { return options.cancelled && options.cancelled(); };

  const std::vector<std::string> feeds =
      server.empty() ? options.builtInFeeds
                     : std::vector<std::string>{updateServerUrl(server, kSignaturesPath)};
  LiveDigestSet set;
  // Room for the most a run can hold before it aborts, so the set never moves while it grows;
  // untouched room costs address space, not memory.
  set.reserve(options.maxDigests + kHttpMaxBody / 65 + 1);
  size_t failures = 0;
  std::string lastFailure;
  for (const std::string& url : feeds) {
    if (cancelled()) return fail(error, "live update cancelled");
    std::string body, failure;
    const bool got = options.fetch
                         ? options.fetch(url, &body, &failure)
                         : httpGet(url, &body, &failure, HttpOptions{kHttpTimeoutMs, options.cancelled});
    if (!got) {
      ++failures;
      lastFailure = std::move(failure);
      continue;
    }
    set.addFeed(body);
    body = std::string();  // the text goes before the sort needs its memory
    if (set.settle() > options.maxDigests) return fail(error, "feed exceeds sane size, aborting");
  }
  const std::vector<Sha256Digest>& digests = set.digests();
  if (digests.empty()) {
    if (!feeds.empty() && failures == feeds.size()) {
      return fail(error, feeds.size() > 1 ? "all feeds unavailable" : lastFailure);
    }
    return fail(error, "feeds returned no hashes");
  }

  const uint64_t now = options.unixSeconds ? options.unixSeconds() : unixTimeMs() / 1000;
  const std::wstring temp = options.livePath + L".tmp";
  const std::string cannotWrite = "cannot write " + toUtf8(temp);
  OutputFile out;
  if (!out.create(temp)) return fail(error, cannotWrite);
  uint64_t written = 0;
  const bool complete = writeLiveDatabase(digests, now, [&](std::string_view piece) {
    if (cancelled() || (options.writeFault && !options.writeFault(written))) return false;
    written += piece.size();
    return out.write(piece.data(), piece.size());
  });
  if (!complete || !out.finish()) {
    out.discard();
    return fail(error, cancelled() ? "live update cancelled" : cannotWrite);
  }
  unsigned long code = 0;
  if (!replaceFile(temp, options.livePath, &code)) {
    removeFile(temp);
    return fail(error, "cannot replace live database, win32=" + std::to_string(code));
  }
  if (count) *count = digests.size();
  return true;
}

bool updateSignaturesNow(LiveUpdateAccess& engine, std::string* error, LiveUpdateOptions options) {
  const ServiceConfig config = engine.snapshotConfig();
  options.livePath = engine.liveDatabasePath();
  options.unixSeconds = [&engine] { return engine.unixMs() / 1000; };
  options.cancelled = [&engine] { return engine.stopping(); };
  uint64_t count = 0;
  std::string failure;
  if (!fetchLiveSignatures(config.updateServer, &count, &failure, options)) {
    return fail(error, failure);
  }
  std::string reloadError;
  if (!engine.reloadSignatures(&reloadError)) {
    logWarning("live db fetched but reload failed: " + reloadError);
  }
  std::string saveError;
  if (!engine.recordLiveUpdate(&saveError)) {
    logWarning("live update: cannot save settings: " + saveError);
  }
  logInfo("live signatures updated: " + std::to_string(count) + " hashes");
  if (error) error->clear();
  return true;
}

}  // namespace zorvek::svc
