#pragma once
// Small pieces the benchmark programs share: a reproducible random stream, digests drawn from
// it, timing.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorvek::bench {

using Clock = std::chrono::steady_clock;

inline uint64_t splitmix(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Digest i of the stream `seed`: 64 lower-case hex digits, distinct for distinct (seed, i).
inline std::string randomDigest(uint64_t seed, uint64_t i) {
  uint64_t s = seed * 0x100000000ull + i;
  char buf[65];
  std::snprintf(buf, sizeof buf, "%016llx%016llx%016llx%016llx", (unsigned long long)splitmix(s),
                (unsigned long long)splitmix(s), (unsigned long long)splitmix(s),
                (unsigned long long)splitmix(s));
  return buf;
}

inline double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace zorvek::bench
