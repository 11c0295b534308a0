// SHA-1 and SHA-256 block functions on the x86 SHA extensions, plus the CPUID test that guards
// them. Only these functions get the target attribute: the rest of the program stays runnable on
// any x86-64.

#include <atomic>

#include "common/Hash.h"
#include "common/HashKernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#define ZORVEK_SHA_EXT 1
#include <immintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define ZORVEK_TARGET_SHA
#else
#include <cpuid.h>
#define ZORVEK_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#endif
#endif

namespace zorvek::hash {
namespace {

bool detectShaExtensions() {
#ifdef ZORVEK_SHA_EXT
  unsigned r1[4] = {}, r7[4] = {};
#if defined(_MSC_VER) && !defined(__clang__)
  int v[4];
  __cpuid(v, 0);
  if (v[0] < 7) return false;
  __cpuid(v, 1);
  for (int i = 0; i < 4; ++i) r1[i] = static_cast<unsigned>(v[i]);
  __cpuidex(v, 7, 0);
  for (int i = 0; i < 4; ++i) r7[i] = static_cast<unsigned>(v[i]);
#else
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, r1[0], r1[1], r1[2], r1[3]);
  __cpuid_count(7, 0, r7[0], r7[1], r7[2], r7[3]);
#endif
  const bool ssse3 = r1[2] & (1u << 9), sse41 = r1[2] & (1u << 19);
  const bool sha = r7[1] & (1u << 29);
  return ssse3 && sse41 && sha;
#else
  return false;
#endif
}

std::atomic<bool>& enabledFlag() {
  static std::atomic<bool> flag{cpuHasShaExtensions()};
  return flag;
}

}  // namespace

bool cpuHasShaExtensions() {
  static const bool has = detectShaExtensions();
  return has;
}

bool shaExtensionsEnabled() { return enabledFlag().load(std::memory_order_relaxed); }

void setShaExtensionsEnabled(bool enabled) {
  enabledFlag().store(enabled && cpuHasShaExtensions(), std::memory_order_relaxed);
}

namespace detail {

#ifdef ZORVEK_SHA_EXT

// Four rounds per group; message words W[g] live in m[g % 4].
#define SHA1_LOAD(g)                                                                        \
  m[(g) % 4] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * (g))), \
                          kMask);
#define SHA1_SCHEDULE(g)                                                                       \
  m[(g) % 4] = _mm_sha1msg2_epu32(                                                             \
      _mm_xor_si128(_mm_sha1msg1_epu32(m[(g) % 4], m[((g) + 1) % 4]), m[((g) + 2) % 4]), \
      m[((g) + 3) % 4]);
#define SHA1_ROUNDS(g)                              \
  e1 = abcd;                                        \
  abcd = _mm_sha1rnds4_epu32(abcd, e0, (g) / 5);    \
  if ((g) < 19) e0 = _mm_sha1nexte_epu32(e1, m[((g) + 1) % 4]);
#define SHA1_GROUP(g)                       \
  if ((g) + 1 < 4) { SHA1_LOAD((g) + 1) }   \
  else if ((g) + 1 < 20) { SHA1_SCHEDULE((g) + 1) }

ZORVEK_TARGET_SHA void sha1BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks) {
  const __m128i kMask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abcdSave = abcd, eSave = e;
    __m128i m[4];
    __m128i e0, e1;
    SHA1_LOAD(0)
    e0 = _mm_add_epi32(e, m[0]);
    // Each group schedules the next group's words before its rounds need them.
    SHA1_GROUP(0) SHA1_ROUNDS(0)
    SHA1_GROUP(1) SHA1_ROUNDS(1)
    SHA1_GROUP(2) SHA1_ROUNDS(2)
    SHA1_GROUP(3) SHA1_ROUNDS(3)
    SHA1_GROUP(4) SHA1_ROUNDS(4)
    SHA1_GROUP(5) SHA1_ROUNDS(5)
    SHA1_GROUP(6) SHA1_ROUNDS(6)
    SHA1_GROUP(7) SHA1_ROUNDS(7)
    SHA1_GROUP(8) SHA1_ROUNDS(8)
    SHA1_GROUP(9) SHA1_ROUNDS(9)
    SHA1_GROUP(10) SHA1_ROUNDS(10)
    SHA1_GROUP(11) SHA1_ROUNDS(11)
    SHA1_GROUP(12) SHA1_ROUNDS(12)
    SHA1_GROUP(13) SHA1_ROUNDS(13)
    SHA1_GROUP(14) SHA1_ROUNDS(14)
    SHA1_GROUP(15) SHA1_ROUNDS(15)
    SHA1_GROUP(16) SHA1_ROUNDS(16)
    SHA1_GROUP(17) SHA1_ROUNDS(17)
    SHA1_GROUP(18) SHA1_ROUNDS(18)
    SHA1_ROUNDS(19)
    e = _mm_sha1nexte_epu32(e1, eSave);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

namespace {
const uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
}  // namespace

// Four rounds per group: two rnds2 on the words plus constants of group g (in m[g % 4]).
#define SHA256_LOAD(g)                                                                         \
  m[(g) % 4] = _mm_shuffle_epi8(                                                               \
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * (g))), kMask);
#define SHA256_SCHEDULE(g)                                                                     \
  m[(g) % 4] = _mm_sha256msg2_epu32(                                                           \
      _mm_add_epi32(_mm_sha256msg1_epu32(m[(g) % 4], m[((g) + 1) % 4]),                        \
                    _mm_alignr_epi8(m[((g) + 3) % 4], m[((g) + 2) % 4], 4)),                   \
      m[((g) + 3) % 4]);
#define SHA256_ROUNDS(g)                                                                       \
  {                                                                                            \
    __m128i kw = _mm_add_epi32(m[(g) % 4],                                                     \
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * (g)))); \
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, kw);                                              \
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(kw, 0x0E));                     \
  }
#define SHA256_GROUP(g)                                  \
  if ((g) < 4) { SHA256_LOAD(g) } else { SHA256_SCHEDULE(g) } \
  SHA256_ROUNDS(g)

ZORVEK_TARGET_SHA void sha256BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks) {
  const __m128i kMask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i cdgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(tmp, cdgh, 8);
  cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);
  for (; blocks; --blocks, data += 64) {
    const __m128i abefSave = abef, cdghSave = cdgh;
    __m128i m[4];
    SHA256_GROUP(0) SHA256_GROUP(1) SHA256_GROUP(2) SHA256_GROUP(3)
    SHA256_GROUP(4) SHA256_GROUP(5) SHA256_GROUP(6) SHA256_GROUP(7)
    SHA256_GROUP(8) SHA256_GROUP(9) SHA256_GROUP(10) SHA256_GROUP(11)
    SHA256_GROUP(12) SHA256_GROUP(13) SHA256_GROUP(14) SHA256_GROUP(15)
    abef = _mm_add_epi32(abef, abefSave);
    cdgh = _mm_add_epi32(cdgh, cdghSave);
  }
  tmp = _mm_shuffle_epi32(abef, 0x1B);
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(tmp, cdgh, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(cdgh, tmp, 8));
}

#else

void sha1BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks) {
  sha1BlocksPortable(state, data, blocks);
}
void sha256BlocksShaExt(uint32_t* state, const uint8_t* data, size_t blocks) {
  sha256BlocksPortable(state, data, blocks);
}

#endif
}  // namespace detail
}  // namespace zorvek::hash
