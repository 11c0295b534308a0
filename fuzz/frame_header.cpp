// The frame header reader: every input of 24 bytes or more is a header the service may receive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvek::ipc;
  if (size < kFrameHeaderSize) return 0;
  uint32_t opcode = 0, length = 0;
  std::string error;
  if (decodeFrameHeader(data, opcode, length, &error)) {
    if (length > kMaxPayloadSize || !error.empty()) std::abort();
    // What we accept must survive our own writer unchanged, reserved bytes aside.
    const FrameHeader again = encodeFrameHeader(opcode, length);
    for (size_t i = 0; i < 16; ++i) {
      if (again[i] != data[i]) std::abort();
    }
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
