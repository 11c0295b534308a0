#pragma once
// Hex digests (MD5, SHA-1, SHA-256) as text to bytes. Every database line and every lookup goes
// through here, so a whole digest is decoded without a branch per character.

#include <cstdint>
#include <string_view>

#include "common/Intrinsics.h"

namespace zorvek::sigdb {

// 16 hex characters (either case) to 8 bytes. Returns a mask with bit i set when character i is
// not a hex digit; the bytes are then meaningless.
inline int decodeHex16Scalar(const char* in, uint8_t* out) {
  int bad = 0;
  uint8_t nibbles[16];
  for (int i = 0; i < 16; ++i) {
    const auto c = static_cast<uint8_t>(in[i]);
    const auto digit = static_cast<uint8_t>(c - '0');
    const auto letter = static_cast<uint8_t>((c | 0x20) - 'a');
    if (digit <= 9) {
      nibbles[i] = digit;
    } else if (letter <= 5) {
      nibbles[i] = static_cast<uint8_t>(letter + 10);
    } else {
      nibbles[i] = 0;
      bad |= 1 << i;
    }
  }
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<uint8_t>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
  return bad;
}

#if defined(ZORVEK_HAVE_SSE2)
inline int decodeHex16Sse2(const char* in, uint8_t* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // Unsigned x <= limit as min(x, limit) == x.
  auto atMost = [](__m128i x, char limit) {
    return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(limit)), x);
  };
  const __m128i digit = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i isDigit = atMost(digit, 9);
  const __m128i isLetter = atMost(letter, 5);
  const __m128i nibbles =
      _mm_or_si128(_mm_and_si128(isDigit, digit),
                   _mm_andnot_si128(isDigit, _mm_add_epi8(letter, _mm_set1_epi8(10))));
  // Each 16-bit lane holds (high nibble, low nibble) as bytes (first, second).
  const __m128i hi = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4);
  const __m128i lo = _mm_srli_epi16(nibbles, 8);
  const __m128i bytes = _mm_packus_epi16(_mm_or_si128(hi, lo), _mm_setzero_si128());
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
  return _mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) ^ 0xFFFF;
}
#endif

inline int decodeHex16(const char* in, uint8_t* out) {
#if defined(ZORVEK_HAVE_SSE2)
  return decodeHex16Sse2(in, out);
#else
  return decodeHex16Scalar(in, out);
#endif
}

// Decodes a 32/40/64-character hex digest (either case) into bytes; false for anything else.
inline bool decodeDigest(std::string_view hex, uint8_t* out) {
  const char* in = hex.data();
  switch (hex.size()) {
    case 32: return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8)) == 0;
    case 40: {
      // The last chunk overlaps the second: bytes 12..19 from characters 24..39.
      return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8) |
              decodeHex16(in + 24, out + 12)) == 0;
    }
    case 64:
      return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8) |
              decodeHex16(in + 32, out + 16) | decodeHex16(in + 48, out + 24)) == 0;
    default: return false;
  }
}

}  // namespace zorvek::sigdb
