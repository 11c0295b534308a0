#pragma once
// The live signature update: hash feeds fetched over HTTP(S), merged into the live database
// signatures.live.txt of the data folder, which the engine loads after its main database.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "service/net/HttpClient.h"
#include "service/net/LiveFeed.h"

namespace zorvek::svc {

// The three consecutive parts of the public SHA-256 list fetched when no update server is set.
std::vector<std::string> builtInLiveFeeds();

struct LiveUpdateOptions {
  std::wstring livePath;                                   // the live database
  std::vector<std::string> builtInFeeds = builtInLiveFeeds();
  HttpFetch fetch;                                         // empty: httpGet
  std::function<uint64_t()> unixSeconds;                   // empty: the system clock
  size_t maxDigests = kMaxLiveDigests;                     // more distinct digests abort the run
  // Asked between feeds and while writing; true ends the run with "live update cancelled" and
  // leaves the live database as it was.
  std::function<bool()> cancelled;
  // Tests: asked before each write with the bytes written so far; false makes that write fail
  // as a full disk would.
  std::function<bool(uint64_t offset)> writeFault;
};

// Fetches the feeds (the update server's signature list when `server` is not empty, else the
// built-in feeds), writes the live database to its ".tmp" beside it and moves that over the old
// one; `count` receives the number of digests written. Runs one at a time in the process: a
// second caller waits for the first, since both would write the same temporary file. Reloads
// nothing and changes no setting.
bool fetchLiveSignatures(const std::string& server, uint64_t* count, std::string* error,
                         const LiveUpdateOptions& options);

class LiveUpdateAccess;

// One update of the engine (the periodic timer and the on-demand request both run this): fetches
// with the engine's UpdateServer into its live database, reloads the engine's signatures (a
// failed reload is logged and the update still counts), records LastLiveUpdateUtc and logs the
// count. The live path, the clock and the cancel come from the engine; the rest of `options`
// (feeds, fetch) stays as given.
bool updateSignaturesNow(LiveUpdateAccess& engine, std::string* error,
                         LiveUpdateOptions options = {});

}  // namespace zorvek::svc
