#include "common/HexDigest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "common/Intrinsics.h"
#include "common/Text.h"

namespace zorvek {
namespace {

using sigdb::decodeDigest;
using sigdb::decodeHex16;
using sigdb::decodeHex16Scalar;

// Every byte value at every position of a chunk: the scalar path (taken where SSE2 is missing)
// and the chosen path agree on which characters are bad and, for good chunks, on the bytes.
TEST(HexDigestTest, ScalarAndChosenDecodersAgreeOnEveryByte) {
  for (size_t position = 0; position < 16; ++position) {
    for (int c = 0; c < 256; ++c) {
      std::string chunk = "0123456789abcdef";
      chunk[position] = static_cast<char>(c);
      uint8_t a[8], b[8];
      const int badA = decodeHex16Scalar(chunk.data(), a);
      const int badB = decodeHex16(chunk.data(), b);
      const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
      ASSERT_EQ(badA, hex ? 0 : 1 << position) << "byte " << c << " at " << position;
      ASSERT_EQ(badA, badB) << "byte " << c << " at " << position;
      if (hex) {
        ASSERT_EQ(std::memcmp(a, b, 8), 0) << "byte " << c << " at " << position;
      }
    }
  }
}

TEST(HexDigestTest, DecodesDigestsOfEachLength) {
  const struct {
    std::string hex;
    bool ok;
    std::string bytes;  // hex of what is expected, lower case
  } cases[] = {
      {"00112233445566778899AABBCCDDEEFF", true, "00112233445566778899aabbccddeeff"},
      {"0123456789abcdef0123456789ABCDEF01234567", true,
       "0123456789abcdef0123456789abcdef01234567"},
      {std::string(64, 'f'), true, std::string(64, 'f')},
      {std::string(31, '0'), false, ""},
      {std::string(33, '0'), false, ""},
      {std::string(39, '0') + "g", false, ""},  // only in the overlapping last chunk of SHA-1
      {std::string(63, '0') + " ", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hex);
    uint8_t out[32];
    ASSERT_EQ(decodeDigest(c.hex, out), c.ok);
    if (!c.ok) continue;
    std::string back;
    for (size_t i = 0; i < c.hex.size() / 2; ++i) {
      static const char kDigits[] = "0123456789abcdef";
      back += kDigits[out[i] >> 4];
      back += kDigits[out[i] & 15];
    }
    EXPECT_EQ(back, c.bytes);
  }
}

// Lengths around the 16-byte blocks, over every byte value, after text already in the string.
TEST(HexDigestTest, AppendHexWritesLowerCaseAroundBlockEdges) {
  uint8_t bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(255 - i);
  for (const size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 256u}) {
    SCOPED_TRACE(n);
    std::string expected = "x:";
    for (size_t i = 0; i < n; ++i) {
      static const char kDigits[] = "0123456789abcdef";
      expected += kDigits[bytes[i] >> 4];
      expected += kDigits[bytes[i] & 15];
    }
    std::string out = "x:";
    appendHex(out, bytes, n);
    EXPECT_EQ(out, expected);
  }
}

TEST(IntrinsicsTest, WideMultiplyMatchesThePortableProduct) {
  const struct {
    uint64_t a, b, high, low;
  } cases[] = {
      {0, ~0ull, 0, 0},
      {~0ull, ~0ull, ~0ull - 1, 1},
      {1ull << 32, 1ull << 32, 1, 0},
      {0xFFFFFFFFull, 0xFFFFFFFFull, 0, 0xFFFFFFFE00000001ull},
      {0x9E3779B97F4A7C15ull, 3, 1, 0xDAA66D2C7DDF743Full},
  };
  for (const auto& c : cases) {
    uint64_t high = 0, portableHigh = 0;
    EXPECT_EQ(mul128(c.a, c.b, &high), c.low);
    EXPECT_EQ(high, c.high);
    EXPECT_EQ(mul128Portable(c.a, c.b, &portableHigh), c.low);
    EXPECT_EQ(portableHigh, c.high);
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 10000; ++i) {
    const uint64_t a = random(), b = random();
    uint64_t high = 0, portableHigh = 0;
    ASSERT_EQ(mul128(a, b, &high), mul128Portable(a, b, &portableHigh));
    ASSERT_EQ(high, portableHigh);
  }
}

}  // namespace
}  // namespace zorvek
