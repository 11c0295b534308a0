// Directory change records: any bytes give names that are non-empty, hold no NUL and fit in the
// bytes given.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "service/realtime/ChangeRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t units = 0;
  for (const auto& r : zorvek::svc::parseChangeRecords(std::span(data, size))) {
    if (r.name.empty() || r.name.find(L'\0') != std::wstring::npos) std::abort();
    units += r.name.size();
  }
  // Each name unit came from two bytes of the input (a surrogate pair may become one unit).
  if (units * 2 > size) std::abort();
  return 0;
}
