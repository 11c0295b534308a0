#include "common/platform/CpuTime.h"

#include "common/platform/win32/Win.h"

namespace zorvek {
double processCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& f) {
    return static_cast<double>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) |
                               f.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) * 1e-7;
}
}  // namespace zorvek
