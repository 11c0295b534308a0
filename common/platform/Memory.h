#pragma once

#include <cstddef>

namespace zorvek {
// Asks the system to back a large, randomly accessed allocation with large pages where that needs
// no privilege (Linux transparent huge pages); a no-op elsewhere.
void adviseLargePages(void* p, size_t bytes);
}  // namespace zorvek
