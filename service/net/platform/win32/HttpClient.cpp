#include "service/net/HttpClient.h"

#include <algorithm>
#include <string_view>

#include "common/Fail.h"
#include "common/Text.h"
#include "common/platform/win32/Handle.h"
#include "common/platform/win32/Win.h"
// After Win.h: winhttp.h needs the types windows.h declares.
#include <winhttp.h>

namespace zorvek::svc {
namespace {

// Root, connection and request handles alike.
struct InternetTraits {
  using Handle = HINTERNET;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { WinHttpCloseHandle(h); }
};
using Internet = UniqueHandle<InternetTraits>;

// Read right after the failing call, before anything else can change it.
bool failStep(std::string* error, const char* step) {
  const DWORD code = GetLastError();
  return fail(error, std::string(step) + ", win32=" + std::to_string(code));
}

// "ftp://host/..." and the like: a scheme followed by "://". WinHttpCrackUrl refuses schemes it
// does not know outright, which would make an ftp URL read as no URL at all.
bool hasOtherScheme(std::string_view url) {
  const size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = url[i];
    const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!alpha && !(i > 0 && other)) return false;
  }
  return true;
}

// The Content-Length the server announced, or -1.
long long announcedLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return -1;
  }
  long long value = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9' || value > (1LL << 40)) return -1;
    value = value * 10 + (*p - L'0');
  }
  return value;
}

}  // namespace

bool httpGet(const std::string& url, std::string* body, std::string* error,
             const HttpOptions& options) {
  if (body) body->clear();
  if (error) error->clear();

  // Byte for byte: URLs are ASCII; nothing is decoded or escaped.
  std::wstring wide(url.size(), L'\0');
  for (size_t i = 0; i < url.size(); ++i) wide[i] = static_cast<unsigned char>(url[i]);

  wchar_t host[256] = {}, path[1024] = {}, extra[1024] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 1024;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 1024;
  if (wide.size() > 0xFFFF) {
    return fail(error, "bad url, win32=" + std::to_string(ERROR_WINHTTP_INVALID_URL));
  }
  // The explicit length keeps a NUL inside the text from cutting the URL short unnoticed.
  if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    const DWORD code = GetLastError();
    if (code == ERROR_WINHTTP_UNRECOGNIZED_SCHEME && hasOtherScheme(url)) {
      return fail(error, "http(s) required: " + url);
    }
    return fail(error, "bad url, win32=" + std::to_string(code));
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return fail(error, "http(s) required: " + url);
  }
  if (!hostAllowed(toUtf8(std::wstring(host, parts.dwHostNameLength)), url, error)) return false;
  const std::wstring target = std::wstring(path) + extra;

  const std::wstring agent(kHttpUserAgent, kHttpUserAgent + sizeof kHttpUserAgent - 1);
  Internet root(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!root) return failStep(error, "WinHttpOpen");
  const int timeout = static_cast<int>(options.timeoutMs);
  WinHttpSetTimeouts(root.get(), timeout, timeout, timeout, timeout);

  Internet connection(WinHttpConnect(root.get(), host, parts.nPort, 0));
  if (!connection) return failStep(error, "WinHttpConnect");

  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Internet request(WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
  if (!request) return failStep(error, "WinHttpOpenRequest");
  // The wait for the response head has a time-out of its own, 90 s by default and none at all
  // under Wine: a server that accepts and then says nothing would hold the caller that long.
  DWORD headWait = options.timeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headWait, sizeof headWait);

  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return failStep(error, "WinHttpSendRequest");
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    return failStep(error, "WinHttpReceiveResponse");
  }

  DWORD status = 0, statusSize = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
  if (status < 200 || status > 299) return fail(error, "http status " + std::to_string(status));

  const long long announced = announcedLength(request.get());
  std::string received;
  if (announced > 0) {
    received.reserve(static_cast<size_t>(std::min<unsigned long long>(
        static_cast<unsigned long long>(announced), kHttpMaxBody)));
  }
  for (;;) {
    if (options.cancelled && options.cancelled()) return fail(error, "cancelled");
    DWORD pending = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &pending)) {
      return failStep(error, "WinHttpQueryDataAvailable");
    }
    if (pending == 0) break;
    if (received.size() + pending > kHttpMaxBody) return fail(error, "response too large");
    const size_t at = received.size();
    received.resize(at + pending);
    DWORD got = 0;
    if (!WinHttpReadData(request.get(), received.data() + at, pending, &got)) {
      return failStep(error, "WinHttpReadData");
    }
    received.resize(at + got);
  }
  // A connection that ends early can look like the end of the body; a short body is no body.
  if (announced >= 0 && received.size() != static_cast<unsigned long long>(announced)) {
    return fail(error, "connection closed after " + std::to_string(received.size()) + " of " +
                           std::to_string(announced) + " bytes");
  }
  if (body) *body = std::move(received);
  return true;
}

}  // namespace zorvek::svc
