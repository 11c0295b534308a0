// settings.ini reader: any bytes either parse or throw the two stoul errors, and what the
// writer makes of the result reads back to the same file.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "common/platform/System.h"
#include "common/ServiceConfig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The defaults compute (and create) the data folder; keep it out of the system's.
  zorvek::setEnvironmentVariable(L"ZORVEK_DATA_DIR", std::wstring(L"/tmp/zorvek-fuzz-data"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zorvek::ServiceConfig defaults;
  zorvek::ServiceConfig config = defaults;
  try {
    config.parse(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::invalid_argument&) {
    return 0;
  } catch (const std::out_of_range&) {
    return 0;
  }
  if (config.scheduledHour >= 24) std::abort();
  const std::string written = config.serialize();
  zorvek::ServiceConfig again = defaults;
  again.parse(written);
  if (again.serialize() != written) std::abort();
  return 0;
}
