#include "service/net/HttpClient.h"
#include "common/Fail.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace zorvek::svc {
namespace {

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

struct Transfer {
  CURL* curl = nullptr;
  const HttpOptions* options = nullptr;
  std::string body;
  long status = 0;
  bool started = false;
  bool statusRefused = false;
  bool tooLarge = false;
  bool cancelled = false;
  bool timedOut = false;
  curl_off_t lastDown = -1, lastUp = -1;
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
};

// Called at least once a second while the transfer runs, moving or not. curl's own low-speed
// limit averages over several seconds; this ends a silent transfer after the time-out itself.
int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  Transfer& t = *static_cast<Transfer*>(user);
  if (t.options->cancelled && t.options->cancelled()) {
    t.cancelled = true;
    return 1;
  }
  const auto now = std::chrono::steady_clock::now();
  if (down != t.lastDown || up != t.lastUp) {
    t.lastDown = down;
    t.lastUp = up;
    t.lastMove = now;
  } else if (now - t.lastMove > std::chrono::milliseconds(t.options->timeoutMs)) {
    t.timedOut = true;
    return 1;
  }
  return 0;
}

bool successStatus(long status) { return status >= 200 && status <= 299; }

// Returning less than was offered makes curl abort the transfer with CURLE_WRITE_ERROR.
size_t onBody(char* data, size_t size, size_t count, void* user) {
  Transfer& t = *static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (!t.started) {
    t.started = true;
    // The status decides before any of the body is kept.
    curl_easy_getinfo(t.curl, CURLINFO_RESPONSE_CODE, &t.status);
    if (!successStatus(t.status)) {
      t.statusRefused = true;
      return 0;
    }
    curl_off_t announced = -1;
    if (curl_easy_getinfo(t.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0) {
      t.body.reserve(static_cast<size_t>(
          std::min<curl_off_t>(announced, static_cast<curl_off_t>(kHttpMaxBody))));
    }
  }
  if (bytes > kHttpMaxBody - t.body.size()) {
    t.tooLarge = true;
    return 0;
  }
  t.body.append(data, bytes);
  return bytes;
}

}  // namespace

bool httpGet(const std::string& url, std::string* body, std::string* error,
             const HttpOptions& options) {
  if (body) body->clear();
  if (error) error->clear();

  // curl_global_init is not thread-safe; every other call here is.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  // Any well-formed scheme parses, so the scheme check below names what was refused.
  std::unique_ptr<CURLU, CurlDeleter> parsed(curl_url());
  if (!parsed || url.find('\0') != std::string::npos ||
      curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return fail(error, "bad url");
  }
  char* scheme = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    return fail(error, "bad url");
  }
  const std::string schemeText = scheme;
  curl_free(scheme);
  if (schemeText != "http" && schemeText != "https") return fail(error, "http(s) required: " + url);
  char* host = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) return fail(error, "bad url");
  const std::string hostText = host;
  curl_free(host);
  if (!hostAllowed(hostText, url, error)) return false;

  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return fail(error, "curl_easy_init failed");
  CURL* c = curl.get();
  Transfer transfer;
  transfer.curl = c;
  transfer.options = &options;
  char detail[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(c, CURLOPT_CURLU, parsed.get());
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, kHttpUserAgent);
  // No signals from a worker thread (curl's resolver time-out would use SIGALRM).
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.timeoutMs));
  // Send and receive: a transfer that moves nothing for the time-out ends (onProgress).
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects as WinHTTP follows them: at most 10, and never from HTTPS down to HTTP.
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, schemeText == "https" ? "https" : "http,https");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);

  const CURLcode rc = curl_easy_perform(c);
  if (!transfer.started) curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &transfer.status);
  if (transfer.statusRefused || (rc == CURLE_OK && !successStatus(transfer.status))) {
    return fail(error, "http status " + std::to_string(transfer.status));
  }
  if (transfer.tooLarge) return fail(error, "response too large");
  if (transfer.cancelled) return fail(error, "cancelled");
  if (transfer.timedOut) {
    return fail(error, "no data from the server for " + std::to_string(options.timeoutMs) + " ms");
  }
  if (rc != CURLE_OK) {
    return fail(error, "curl error " + std::to_string(static_cast<int>(rc)) + ": " +
                           (detail[0] ? detail : curl_easy_strerror(rc)));
  }
  if (body) *body = std::move(transfer.body);
  return true;
}

}  // namespace zorvek::svc
