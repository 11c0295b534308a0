// The hosts-file block parser: any bytes split into the lines outside the block and a count of
// the entries inside; removing the block is idempotent and never keeps a marker line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto outside = zorvek::linesOutsideBlock(text);
  const size_t entries = zorvek::countBlockEntries(text);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  if (outside.size() + entries > lines + 1) std::abort();

  std::string kept;
  for (const auto& line : outside) kept += line + "\n";
  // What survives a removal has no block left, and a second removal changes nothing.
  if (zorvek::countBlockEntries(kept) != 0) std::abort();
  const auto again = zorvek::linesOutsideBlock(kept);
  for (size_t i = 0; i < again.size(); ++i) {
    if (i >= outside.size()) std::abort();
    // A kept line ending in CR loses it on the second pass: CR LF endings become LF once.
    std::string expected = outside[i];
    if (!expected.empty() && expected.back() == '\r') expected.pop_back();
    if (again[i] != expected) std::abort();
  }
  if (again.size() != outside.size()) std::abort();
  return 0;
}
