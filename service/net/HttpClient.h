#pragma once
// One blocking GET over HTTP or HTTPS with the whole body in memory (Windows: WinHTTP; Linux:
// libcurl). Every call opens and closes its own handles, so threads may call it at once. No
// retry, no cache, no custom header; redirects, compression and certificate checks follow the
// platform's defaults.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zorvek::svc {

inline constexpr char kHttpUserAgent[] = "ZORVEK Antivirus update/1.0";
inline constexpr uint32_t kHttpTimeoutMs = 15000;
// The largest body accepted; a body of exactly this size is.
inline constexpr uint64_t kHttpMaxBody = 134217728;

struct HttpOptions {
  // For each of name resolution, connect, send and receive.
  uint32_t timeoutMs = kHttpTimeoutMs;
  // Asked while the body arrives (and, with curl, about once a second while it does not); true
  // ends the call with "cancelled".
  std::function<bool()> cancelled;
};

// True when a 2xx response was read completely. `body` and `error` are cleared at entry; `body`
// receives the body only on success, `error` one English text on failure ("bad url, win32=N",
// "http(s) required: " + url, "http status N", "response too large", or the failing step).
bool httpGet(const std::string& url, std::string* body, std::string* error,
             const HttpOptions& options = {});

// With the environment variable ZORVEK_LOOPBACK_ONLY set and not empty, httpGet reaches only this
// machine: any other host fails with "network limited to this machine: " + url before anything
// is sent. Test runs and demos set it so that no built-in address is ever asked.
inline constexpr wchar_t kLoopbackOnlyVariable[] = L"ZORVEK_LOOPBACK_ONLY";
// True for "localhost", an IPv4 address in 127.0.0.0/8 and "::1" (bracketed or not).
bool isLoopbackHost(std::string_view host);
// httpGet's check of a URL's host under ZORVEK_LOOPBACK_ONLY.
bool hostAllowed(std::string_view host, const std::string& url, std::string* error);

// httpGet's shape, for callers that let tests answer in its place.
using HttpFetch = std::function<bool(const std::string& url, std::string* body, std::string* error)>;

}  // namespace zorvek::svc
