#pragma once
// Hashing with a per-process random seed for the signature database's indexes: a database from a
// feed cannot be crafted to collide in them.

#include <cstdint>
#include <cstring>
#include <random>

#include "common/Intrinsics.h"

namespace zorvek::sigdb {

inline uint64_t hashSeed() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return (uint64_t(rd()) << 32) ^ rd() ^ 0x9E3779B97F4A7C15ull;
  }();
  return seed;
}

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// 64 × 64 → 128-bit product folded to 64 bits.
inline uint64_t mum(uint64_t a, uint64_t b) {
  uint64_t high;
  const uint64_t low = mul128(a, b, &high);
  return low ^ high;
}

inline uint64_t hashBytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t h = hashSeed() ^ (n * 0x9E3779B97F4A7C15ull);
  for (; n >= 8; p += 8, n -= 8) h = mix(h ^ load64(p));
  uint64_t tail = 0;
  if (n) std::memcpy(&tail, p, n);  // an empty view may have no data pointer at all
  return mix(h ^ tail);
}

// Secret words for the digest hash, derived from the per-process seed.
struct DigestSecrets {
  uint64_t s[6];
  DigestSecrets() {
    uint64_t x = hashSeed();
    for (auto& w : s) w = mix(x += 0x9E3779B97F4A7C15ull) | 1;
  }
};

// Seeded hash of a binary digest. Every lookup pays for it before its cache miss can start, so
// the words are folded in independent multiplications rather than one long chain.
template <size_t N>
uint64_t digestHash(const DigestSecrets& secrets, const uint8_t* key) {
  const uint64_t* s = secrets.s;
  uint64_t h = mum(load64(key) ^ s[0], load64(key + 8) ^ s[1]);
  if constexpr (N == 20) h ^= mum(load64(key + 12) ^ s[2], s[3]);
  if constexpr (N == 32) h ^= mum(load64(key + 16) ^ s[2], load64(key + 24) ^ s[3]);
  return mum(h ^ s[4], s[5]);
}

}  // namespace zorvek::sigdb
