#include "service/net/UpdateServer.h"

namespace zorvek::svc {

std::string updateServerUrl(std::string_view server, std::string_view path) {
  while (!server.empty() && server.back() == '/') server.remove_suffix(1);
  std::string url(server);
  url += path;
  return url;
}

}  // namespace zorvek::svc
