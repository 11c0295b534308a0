#pragma once
// CPU time of the calling process (user plus kernel), in seconds. For benchmarks on a shared
// machine, where wall-clock time also counts the other processes.

namespace zorvek {
double processCpuSeconds();
}  // namespace zorvek
