#pragma once
// The one place that picks compiler- and processor-specific instructions. Callers get plain
// functions valid for GCC, Clang and MSVC, with a portable fallback where the instruction is
// missing.

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

// SSE2 is part of every x86-64 processor; 32-bit x86 has it only when the build asks for it.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define ZORVEK_HAVE_SSE2 1
#include <emmintrin.h>
#endif

namespace zorvek {

// The 128-bit product of two 64-bit words on 32-bit halves, for compilers without a wide type.
inline uint64_t mul128Portable(uint64_t a, uint64_t b, uint64_t* high) {
  const uint64_t aLo = a & 0xFFFFFFFFu, aHi = a >> 32, bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
  const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
  // Cannot overflow: each term is below 2^32.
  const uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  *high = hh + (lh >> 32) + (hl >> 32) + (middle >> 32);
  return (middle << 32) | (ll & 0xFFFFFFFFu);
}

// The 128-bit product of two 64-bit words: returns the low half, stores the high half.
inline uint64_t mul128(uint64_t a, uint64_t b, uint64_t* high) {
#if defined(_MSC_VER) && !defined(__clang__) && defined(_M_X64)
  return _umul128(a, b, high);
#elif defined(_MSC_VER) && !defined(__clang__) && defined(_M_ARM64)
  *high = __umulh(a, b);
  return a * b;
#elif defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  *high = static_cast<uint64_t>(p >> 64);
  return static_cast<uint64_t>(p);
#else
  return mul128Portable(a, b, high);
#endif
}

// A hint to bring the cache line holding `p` closer; nothing where there is no such hint.
inline void prefetchRead(const void* p) {
#if defined(ZORVEK_HAVE_SSE2)
  _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#elif defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace zorvek
