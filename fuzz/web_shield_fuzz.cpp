// Domain feed and hosts text: any bytes as a feed give only valid, lower-case, distinct domains;
// any bytes as a hosts file keep their lines outside the block and end in exactly the block
// those domains make.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "common/Hosts.h"
#include "common/Text.h"
#include "service/net/WebShield.h"

using namespace zorvek;
using namespace zorvek::svc;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t half = size / 2;
  const auto domains = parseBlockedDomains(text.substr(0, half));
  std::set<std::string> seen;
  size_t entries = 0;
  for (const auto& d : domains) {
    if (!isValidDomain(d) || d != asciiLower(d) || d.front() == ' ' || !seen.insert(d).second)
      __builtin_trap();
    entries += d.rfind("www.", 0) == 0 ? 1 : 2;
  }
  if (domains.size() > kMaxBlockedDomains) __builtin_trap();

  const std::string_view hosts = text.substr(half);
  const std::string out = buildWebShieldHosts(hosts, domains);
  if (countBlockEntries(out) != entries) __builtin_trap();
  auto before = linesOutsideBlock(hosts);
  while (!before.empty() && before.back().find_first_not_of(" \t\r\n") == std::string::npos)
    before.pop_back();
  auto after = linesOutsideBlock(out);
  // The empty line before the block.
  if (after.empty() || !after.back().empty()) __builtin_trap();
  after.pop_back();
  if (after.size() != before.size()) __builtin_trap();
  for (size_t i = 0; i < after.size(); ++i) {
    // One more CR comes off a line that ended in two.
    std::string_view b = before[i];
    if (!b.empty() && b.back() == '\r') b.remove_suffix(1);
    if (after[i] != b) __builtin_trap();
  }
  return 0;
}
