// Signature database text: any bytes must parse without a fault, and a written database must read
// back with the same entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/SignatureDatabase.h"

using zorvek::SignatureDatabase;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SignatureDatabase db;
  // Two merges: the second exercises the replacement rules against the first.
  const size_t half = size / 2;
  db.parse(text.substr(0, half), "a");
  db.parse(text.substr(half), "b");

  // Every line of the input, taken as a digest, must look up without a fault.
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string line(text.substr(start, end - start));
    zorvek::SignatureMatch m;
    db.lookup(line, line, line.substr(0, line.find(':')), &m);
    start = end + 1;
  }

  const std::string written = db.serialize();
  SignatureDatabase again;
  again.parse(written, "");
  if (again.info().count != db.info().count) __builtin_trap();
  return 0;
}
