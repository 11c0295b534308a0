#pragma once
// Facts about the running process, for the benchmarks and diagnostics.

#include <cstdint>

namespace zorvek {
// Resident memory of this process now, and its peak so far (bytes); 0 when unknown.
uint64_t residentBytes();
uint64_t peakResidentBytes();
// Restarts the peak measurement where the system allows it (Linux); false elsewhere.
bool resetPeakResident();
}  // namespace zorvek
