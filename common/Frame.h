#pragma once
// The 24-byte frame header of the pipe protocol:
//   0 magic "KVRZ" | 4 version 1 | 8 opcode | 12 payload length | 16 eight reserved bytes (zero)
// All integers little-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvek::ipc {

inline constexpr size_t kFrameHeaderSize = 24;
inline constexpr uint32_t kProtocolVersion = 1;
inline constexpr uint32_t kMaxPayloadSize = 0x2000000;  // 32 MiB
// Every read and write of the transport moves at most this much per call.
inline constexpr size_t kTransferChunk = 0x10000;

using FrameHeader = std::array<unsigned char, kFrameHeaderSize>;

FrameHeader encodeFrameHeader(uint32_t opcode, uint32_t payloadSize);

// Checks, in this order, the magic ("bad magic"), the version ("unsupported protocol version")
// and the declared length ("declared payload too large"); the reserved bytes are ignored.
[[nodiscard]] bool decodeFrameHeader(const unsigned char* header, uint32_t& opcode,
                                     uint32_t& payloadSize, std::string* error = nullptr);

}  // namespace zorvek::ipc
