// scan.cache reader: any bytes parse; every entry read back from what the writer makes of them
// is the same entry, and writing again gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/ScanCache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zorvek::svc::ScanCache cache;
  cache.parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string written = cache.serialize();
  zorvek::svc::ScanCache again;
  again.parse(written);
  if (again.serialize() != written) std::abort();
  // Recording keeps one entry per new path and never loses one.
  const size_t before = again.entries().size();
  for (const auto& e : cache.entries()) again.record(e.path, e.size + 1, e.modified);
  if (again.entries().size() != before) std::abort();
  return 0;
}
