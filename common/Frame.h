#pragma once
// The 24-byte frame header of the pipe protocol:
//   0 magic "KVRZ" | 4 version 1 | 8 opcode | 12 payload length | 16 eight reserved bytes (zero)
// All integers little-endian.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// Reads one frame. `first(p, n)` moves between 1 and n bytes and returns how many (0: failed with
// its own error), so the wait for a request to begin can have another bound than the rest of the
// frame; `rest(p, n)` moves exactly n bytes or fails.
template <typename First, typename Rest>
bool readFrameVia(First first, Rest rest, uint32_t& opcode, std::string& payload,
                  std::string* error) {
  FrameHeader header;
  const size_t got = first(header.data(), header.size());
  if (got == 0 || !rest(header.data() + got, header.size() - got)) return false;
  uint32_t code = 0, size = 0;
  if (!decodeFrameHeader(header.data(), code, size, error)) return false;
  std::string body(size, '\0');
  if (!rest(body.data(), body.size())) return false;
  opcode = code;
  payload = std::move(body);
  return true;
}

// Writes one frame; a payload above kMaxPayloadSize is refused with "payload too large".
template <typename Transfer>
bool writeFrameVia(Transfer transfer, uint32_t opcode, std::string_view payload,
                   std::string* error) {
  if (payload.size() > kMaxPayloadSize) {
    if (error) *error = "payload too large";
    return false;
  }
  FrameHeader header = encodeFrameHeader(opcode, static_cast<uint32_t>(payload.size()));
  if (payload.size() <= kTransferChunk - kFrameHeaderSize) {
    // In one write the reader finds the whole frame at once: one wait for it instead of two.
    std::string frame(reinterpret_cast<const char*>(header.data()), header.size());
    frame.append(payload);
    return transfer(frame.data(), frame.size());
  }
  return transfer(header.data(), header.size()) &&
         transfer(const_cast<char*>(payload.data()), payload.size());
}

}  // namespace zorvek::ipc
