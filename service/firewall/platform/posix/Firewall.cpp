#include "service/firewall/Firewall.h"

#include "service/firewall/FirewallRules.h"

namespace zorvek::fw {
namespace {

std::string unavailable() {
  return std::string(kUnavailable) + ": в этой системе нет брандмауэра Windows";
}

bool fail(std::string* error) {
  if (error) *error = unavailable();
  return false;
}

}  // namespace

std::string status() { return statusErrorLine(unavailable()); }
bool setProfile(std::string_view, std::string* error) { return fail(error); }
bool setBlockAllInbound(std::string_view, std::string* error) { return fail(error); }
bool addProgramRule(std::string_view, std::string* error) { return fail(error); }
bool removeZorvekRules(std::string* error) { return fail(error); }

}  // namespace zorvek::fw
