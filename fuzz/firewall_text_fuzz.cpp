// The firewall's texts: the status text a client reads back (zorvekctl, the desktop program), and
// the request texts a pipe client sends for requests 17-19. The first byte picks the parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/FirewallStatus.h"
#include "service/firewall/FirewallRules.h"

using namespace zorvek::fw;

namespace {

// Whatever rules, profiles and errors a status holds, writing them out and reading them back
// keeps every line: no rule, profile or error is lost or made up.
void checkStatus(std::string_view text) {
  const FirewallStatus first = parseFirewallStatus(text);
  std::string again;
  for (size_t i = 0; i < kProfileCount; ++i)
    if (first.profiles[i]) again += statusProfileLine(kProfileNames[i], *first.profiles[i]);
  for (const StatusRule& r : first.rules) again += statusRuleLine(r);
  for (const std::string& e : first.errors) again += statusErrorLine(e);
  if (first.blockInbound) again += statusBlockInboundLine(*first.blockInbound);
  const FirewallStatus second = parseFirewallStatus(again);
  if (second.profiles != first.profiles || second.blockInbound != first.blockInbound ||
      second.rules.size() != first.rules.size() || second.errors.size() != first.errors.size())
    std::abort();
}

void checkRequests(std::string_view text) {
  ProfileChange change;
  if (parseProfileChange(text, change, nullptr) && change.profile >= kProfileCount) std::abort();
  bool on = false;
  (void)parseBlockAllInbound(text, on, nullptr);
  std::vector<ProgramRule> rules;
  if (!parseProgramRule(text, rules, nullptr)) return;
  if (rules.empty() || rules.size() > 2) std::abort();
  for (const ProgramRule& r : rules) {
    if (!isZorvekRule(r.name) || r.application.empty() || r.application.back() == L'\\' ||
        r.application.find(L'|') != std::wstring::npos)
      std::abort();
    for (const wchar_t c : r.application)
      if (c < 0x20) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) checkStatus(text);
  else checkRequests(text);
  return 0;
}
