#include "common/platform/Memory.h"

#include "common/platform/win32/Win.h"
// psapi.h needs windows.h first.
#include <psapi.h>


namespace zorvek {
// Large pages on Windows need SeLockMemoryPrivilege; the ordinary pages serve.
void adviseLargePages(void*, size_t) {}
}  // namespace zorvek

namespace zorvek {
namespace {
bool counters(PROCESS_MEMORY_COUNTERS& pmc) {
  return GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc) != 0;
}
}  // namespace

uint64_t residentBytes() {
  PROCESS_MEMORY_COUNTERS pmc{};
  return counters(pmc) ? pmc.WorkingSetSize : 0;
}
uint64_t peakResidentBytes() {
  PROCESS_MEMORY_COUNTERS pmc{};
  return counters(pmc) ? pmc.PeakWorkingSetSize : 0;
}
bool resetPeakResident() { return false; }
}  // namespace zorvek
