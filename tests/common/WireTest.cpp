#include "common/Wire.h"

#include <gtest/gtest.h>

#include "common/Frame.h"

namespace zorvek::ipc {
namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

TEST(WireTest, PrimitivesAreLittleEndian) {
  WireWriter w;
  w.u32(0x01020304).u64(0x1112131415161718).boolean(true).string("ab");
  EXPECT_EQ(w.bytes(), bytes({4, 3, 2, 1, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
                              1, 0, 0, 0, 2, 0, 0, 0, 'a', 'b'}));
}

TEST(WireTest, RoundTripsEveryPrimitive) {
  const std::wstring wide = L"C:\\Пользователи\\файл.exe";
  WireWriter w;
  w.u32(0xFFFFFFFF).u64(0xFFFFFFFFFFFFFFFF).boolean(false).boolean(true).string("").wstring(wide);
  const std::string payload = w.take();
  WireReader r(payload);
  EXPECT_EQ(r.u32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.u64(), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_FALSE(r.boolean());
  EXPECT_TRUE(r.boolean());
  EXPECT_EQ(r.string(), "");
  EXPECT_EQ(r.wstring(), wide);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(WireTest, AnyNonZeroBoolIsTrue) {
  const std::string payload = bytes({2, 0, 0, 0, 0, 0, 0, 0x80});
  WireReader r(payload);
  EXPECT_TRUE(r.boolean());
  EXPECT_TRUE(r.boolean());
  EXPECT_TRUE(r.ok());
}

TEST(WireTest, FailureIsStickyAndYieldsZeros) {
  const std::string payload = bytes({1, 2, 3});
  WireReader r(payload);
  EXPECT_EQ(r.u32(), 0u);
  EXPECT_FALSE(r.ok());
  // The reader stays failed even for reads that would fit.
  EXPECT_EQ(r.string(), "");
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(WireTest, RejectsBadStringLengths) {
  const struct {
    const char* what;
    std::string payload;
  } cases[] = {
      {"runs past the end", bytes({3, 0, 0, 0, 'a', 'b'})},
      {"above 32 MiB", bytes({1, 0, 0, 2}) + std::string(8, 'x')},
      {"length cut short", bytes({1, 0})},
      {"largest u32", bytes({0xFF, 0xFF, 0xFF, 0xFF, 'a'})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WireReader r(c.payload);
    EXPECT_EQ(r.string(), "");
    EXPECT_FALSE(r.ok());
  }
}

TEST(WireTest, CountIsBoundedByCapAndPayload) {
  const struct {
    const char* what;
    uint32_t count;
    size_t extra;
    uint32_t cap;
    bool ok;
  } cases[] = {
      {"fits exactly", 3, 12, 10, true},
      {"one element too many for the bytes", 4, 12, 10, false},
      {"above the cap", 11, 1000, 10, false},
      {"hostile count", 0xFFFFFFFF, 16, 0xFFFFFFFF, false},
      {"zero", 0, 0, 10, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string payload = WireWriter().u32(c.count).take() + std::string(c.extra, '\0');
    WireReader r(payload);
    const uint32_t n = r.count(c.cap, 4);
    EXPECT_EQ(r.ok(), c.ok);
    EXPECT_EQ(n, c.ok ? c.count : 0u);
  }
}

TEST(FrameTest, HeaderLayout) {
  const FrameHeader h = encodeFrameHeader(0xFFFFFFFF, 0x2000000);
  EXPECT_EQ(std::string(h.begin(), h.end()),
            bytes({'K', 'V', 'R', 'Z', 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2,
                   0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FrameTest, HeaderChecksInOrder) {
  const auto header = [](std::string magic, uint32_t version, uint32_t length) {
    std::string h = magic + WireWriter().u32(version).u32(7).u32(length).u64(~0ull).take();
    return h;
  };
  const struct {
    const char* what;
    std::string header;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"bad magic wins over a bad version", header("KVRX", 2, 0x2000001), "bad magic"},
      {"magic is case-sensitive", header("kvrz", 1, 0), "bad magic"},
      {"version 2", header("KVRZ", 2, 0x2000001), "unsupported protocol version"},
      {"version 0", header("KVRZ", 0, 0), "unsupported protocol version"},
      {"one byte over 32 MiB", header("KVRZ", 1, 0x2000001), "declared payload too large"},
      {"largest length", header("KVRZ", 1, 0xFFFFFFFF), "declared payload too large"},
      {"exactly 32 MiB, reserved bytes ignored", header("KVRZ", 1, 0x2000000), nullptr},
      {"empty payload", header("KVRZ", 1, 0), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.header.size(), kFrameHeaderSize);
    uint32_t opcode = 0, size = 0;
    std::string error;
    const bool ok = decodeFrameHeader(reinterpret_cast<const unsigned char*>(c.header.data()),
                                      opcode, size, &error);
    if (c.error) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, c.error);
    } else {
      EXPECT_TRUE(ok) << error;
      EXPECT_EQ(opcode, 7u);
    }
  }
}

}  // namespace
}  // namespace zorvek::ipc
