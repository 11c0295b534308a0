#include "common/Frame.h"

#include <cstring>

namespace zorvek::ipc {
namespace {

constexpr unsigned char kMagic[4] = {'K', 'V', 'R', 'Z'};

void putU32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

uint32_t getU32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

}  // namespace

FrameHeader encodeFrameHeader(uint32_t opcode, uint32_t payloadSize) {
  FrameHeader h{};
  std::memcpy(h.data(), kMagic, 4);
  putU32(h.data() + 4, kProtocolVersion);
  putU32(h.data() + 8, opcode);
  putU32(h.data() + 12, payloadSize);
  return h;
}

bool decodeFrameHeader(const unsigned char* header, uint32_t& opcode, uint32_t& payloadSize,
                       std::string* error) {
  if (std::memcmp(header, kMagic, 4) != 0) return fail(error, "bad magic");
  if (getU32(header + 4) != kProtocolVersion) return fail(error, "unsupported protocol version");
  const uint32_t length = getU32(header + 12);
  if (length > kMaxPayloadSize) return fail(error, "declared payload too large");
  opcode = getU32(header + 8);
  payloadSize = length;
  return true;
}

}  // namespace zorvek::ipc
