#pragma once

#include <cstddef>
#include <cstdint>

namespace zorvek {
// Asks the system to back a large, randomly accessed allocation with large pages where that needs
// no privilege (Linux transparent huge pages); a no-op elsewhere.
void adviseLargePages(void* p, size_t bytes);

// Resident memory of this process now, and its peak so far (bytes); 0 when unknown.
uint64_t residentBytes();
uint64_t peakResidentBytes();
// Restarts the peak measurement where the system allows it (Linux); false elsewhere.
bool resetPeakResident();
}  // namespace zorvek
