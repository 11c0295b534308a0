#pragma once
// The optional update server: what the service calls on it. Any server that answers these paths
// serves; scripts/update_server.py is the reference one.

#include <string>
#include <string_view>

namespace zorvek::svc {

inline constexpr char kSignaturesPath[] = "/api/v1/signatures";
inline constexpr char kReleasesPath[] = "/api/v1/releases";
inline constexpr char kBlocklistPath[] = "/api/v1/blocklist";

// The setting UpdateServer with every trailing "/" removed, followed by the path.
std::string updateServerUrl(std::string_view server, std::string_view path);

}  // namespace zorvek::svc
