#include "common/platform/Memory.h"

namespace zorvek {
// Large pages on Windows need SeLockMemoryPrivilege; the ordinary pages serve.
void adviseLargePages(void*, size_t) {}
}  // namespace zorvek
