#pragma once
// Payload primitives of the pipe protocol: little-endian u32/u64, bool as u32, strings as a u32
// byte length plus UTF-8, wide strings travelling as UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvek::ipc {

// The largest string a reader accepts; a frame payload can hold no more either.
inline constexpr uint32_t kMaxWireString = 0x2000000;

// A cursor over an untrusted payload. Failure is sticky: a read past the end clears ok() and
// yields 0 or an empty string, so a decoder reads every field and checks ok() once.
// Trailing bytes after the last field are ignored.
class WireReader {
 public:
  WireReader(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  explicit WireReader(std::string_view bytes) : WireReader(bytes.data(), bytes.size()) {}
  // The reader does not own the bytes: a temporary string would be gone before the first read.
  explicit WireReader(std::string&&) = delete;

  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  uint64_t u64() { return take(8); }
  // Any non-zero value reads as true.
  bool boolean() { return u32() != 0; }
  std::string string();
  std::wstring wstring();
  // A u32 element count for a list whose elements take at least `minItemBytes` each. A count
  // above `maxCount`, or one the rest of the payload cannot hold, clears ok() and gives 0, so a
  // hostile count never drives a long loop or a large allocation.
  uint32_t count(uint32_t maxCount, size_t minItemBytes);
  // Clears ok(): for decoders that find a field value they refuse.
  void fail() { bad_ = true; }

  bool ok() const { return !bad_; }
  size_t remaining() const { return bad_ ? 0 : size_ - pos_; }

 private:
  uint64_t take(size_t n);

  const unsigned char* data_;
  size_t size_;
  size_t pos_ = 0;
  bool bad_ = false;
};

// Builds a payload. Strings longer than kMaxWireString cannot travel; the frame layer refuses
// the payload that would carry them ("payload too large").
class WireWriter {
 public:
  WireWriter& u32(uint32_t v);
  WireWriter& u64(uint64_t v);
  WireWriter& boolean(bool v) { return u32(v ? 1u : 0u); }
  WireWriter& string(std::string_view s);
  WireWriter& wstring(std::wstring_view s);

  size_t size() const { return out_.size(); }
  // Drops what was written after the first `n` bytes.
  void truncate(size_t n) {
    if (n < out_.size()) out_.resize(n);
  }
  // Overwrites the u32 written at `offset`.
  void patchU32(size_t offset, uint32_t v);

  const std::string& bytes() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace zorvek::ipc
