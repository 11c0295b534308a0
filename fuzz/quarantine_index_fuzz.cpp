// quarantine.db reader: any bytes give records with non-zero ids, and the written index reads
// back to the same records.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "service/QuarantineStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto records =
      zorvek::parseQuarantineIndex(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& r : records) {
    if (r.id == 0) std::abort();
  }
  const std::string written = zorvek::serializeQuarantineIndex(records);
  const auto again = zorvek::parseQuarantineIndex(written);
  if (again.size() != records.size()) std::abort();
  if (zorvek::serializeQuarantineIndex(again) != written) std::abort();
  return 0;
}
