#include "service/net/HttpClient.h"

#include <algorithm>

#include "common/Fail.h"
#include "common/platform/System.h"

namespace zorvek::svc {
namespace {

// Four decimal parts of 0-255, the first 127.
bool isLoopbackIpv4(std::string_view host) {
  int parts = 0;
  size_t at = 0;
  while (at <= host.size()) {
    const size_t dot = std::min(host.find('.', at), host.size());
    const std::string_view part = host.substr(at, dot - at);
    if (part.empty() || part.size() > 3) return false;
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    at = dot + 1;
  }
  return parts == 4;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || isLoopbackIpv4(host);
}

bool hostAllowed(std::string_view host, const std::string& url, std::string* error) {
  const auto limited = environmentVariable(kLoopbackOnlyVariable);
  if (!limited || limited->empty() || isLoopbackHost(host)) return true;
  return fail(error, "network limited to this machine: " + url);
}

}  // namespace zorvek::svc
