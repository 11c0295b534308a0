#include "common/platform/Memory.h"

#include <cstdio>
#include <cstring>


#include <sys/mman.h>

#include <cstdint>

namespace zorvek {
void adviseLargePages(void* p, size_t bytes) {
  constexpr uintptr_t kHuge = 2u << 20;
  if (!p || bytes < 2 * kHuge) return;
  const auto begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}
}  // namespace zorvek

namespace zorvek {
namespace {
uint64_t statusKb(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  uint64_t kb = 0;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, n) == 0) {
      std::sscanf(line + n, " %lu", &kb);
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}
}  // namespace

uint64_t residentBytes() { return statusKb("VmRSS:"); }
uint64_t peakResidentBytes() { return statusKb("VmHWM:"); }

bool resetPeakResident() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}
}  // namespace zorvek
