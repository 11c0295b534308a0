#pragma once
// Driver requests as the Filter Manager delivers them, built field by field for the tests.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvek::svc::test {

struct DriverMessage {
  uint32_t headerLength = 1060;
  uint64_t messageId = 0x1122334455667788ull;
  std::string magic = "ZRVK";
  uint32_t version = 1;
  uint32_t type = 1;
  uint32_t bodySize = 1052;
  std::u16string path = u"C:\\Users\\bob\\app.exe";
  size_t bytes = 1076;  // how many bytes the buffer holds

  std::vector<uint8_t> build() const {
    std::vector<uint8_t> out(bytes > 1076 ? bytes : 1076, 0);
    auto put32 = [&](size_t at, uint32_t v) {
      for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, headerLength);
    for (size_t i = 0; i < 8; ++i) out[8 + i] = static_cast<uint8_t>(messageId >> (8 * i));
    for (size_t i = 0; i < 4 && i < magic.size(); ++i) out[16 + i] = static_cast<uint8_t>(magic[i]);
    put32(20, version);
    put32(24, type);
    put32(28, bodySize);
    for (size_t i = 0; i < path.size() && 44 + 2 * i + 1 < out.size(); ++i) {
      out[44 + 2 * i] = static_cast<uint8_t>(path[i] & 0xFF);
      out[44 + 2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
    }
    out.resize(bytes);
    return out;
  }
};

inline DriverMessage probe() {
  DriverMessage m;
  m.type = 3;
  m.headerLength = 16;
  m.bodySize = 16;
  m.path.clear();
  return m;
}

}  // namespace zorvek::svc::test
