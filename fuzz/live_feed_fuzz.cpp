// Hash feed text: any bytes must parse without a fault into exactly the digests a plain reading
// of the feed rules finds, and the live database written from them must list exactly those.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "common/Text.h"
#include "service/net/LiveFeed.h"

using namespace zorvek::svc;

namespace {

// The feed rules read literally, over strings.
std::set<std::string> reference(std::string_view text) {
  std::set<std::string> out;
  zorvek::forEachLine(text, [&](std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.front())) line.remove_prefix(1);
    while (!line.empty() && blank(line.back())) line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return;
    line = line.substr(0, line.find_first_of(" \t"));
    if (line.size() != 64) return;
    std::string token;
    for (char c : line) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return;
      token += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    out.insert(token);
  });
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Two feeds: the second is merged into the first.
  const size_t half = size / 2;
  LiveDigestSet set;
  set.addFeed(text.substr(0, half));
  set.settle();
  set.addFeed(text.substr(half));
  set.settle();

  std::set<std::string> expected = reference(text.substr(0, half));
  for (const auto& d : reference(text.substr(half))) expected.insert(d);

  std::string written;
  writeLiveDatabase(set.digests(), 0, [&](std::string_view piece) {
    written.append(piece);
    return true;
  });
  std::string want = "# ZORVEK live signature database (auto-updated, do not edit)\nZORVEKDB/1\n"
                     "VERSION live-19700101\nGENERATED 0\nSIZE " +
                     std::to_string(expected.size()) + "\n";
  for (const auto& d : expected) want += d + "\n";
  if (written != want) __builtin_trap();
  return 0;
}
