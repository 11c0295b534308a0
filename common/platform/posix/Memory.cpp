#include "common/platform/Memory.h"

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
