#include "common/Wire.h"

#include "common/Text.h"

namespace zorvek::ipc {

uint64_t WireReader::take(size_t n) {
  // Compare with what is left: pos_ + n never overflows that way.
  if (bad_ || n > size_ - pos_) {
    bad_ = true;
    return 0;
  }
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint64_t{data_[pos_ + i]} << (8 * i);
  pos_ += n;
  return v;
}

std::string WireReader::string() {
  const uint32_t length = u32();
  if (bad_ || length > kMaxWireString || length > size_ - pos_) {
    bad_ = true;
    return {};
  }
  std::string s(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return s;
}

std::wstring WireReader::wstring() {
  const std::string s = string();
  return s.empty() ? std::wstring() : toWide(s);
}

uint32_t WireReader::count(uint32_t maxCount, size_t minItemBytes) {
  const uint32_t n = u32();
  if (bad_ || n > maxCount || (minItemBytes != 0 && n > (size_ - pos_) / minItemBytes)) {
    bad_ = true;
    return 0;
  }
  return n;
}

WireWriter& WireWriter::u32(uint32_t v) {
  for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  return *this;
}

void WireWriter::patchU32(size_t offset, uint32_t v) {
  for (size_t i = 0; i < 4 && offset + i < out_.size(); ++i)
    out_[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

WireWriter& WireWriter::u64(uint64_t v) {
  for (int i = 0; i < 8; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  return *this;
}

WireWriter& WireWriter::string(std::string_view s) {
  u32(static_cast<uint32_t>(s.size()));
  out_.append(s);
  return *this;
}

WireWriter& WireWriter::wstring(std::wstring_view s) { return string(toUtf8(s)); }

}  // namespace zorvek::ipc
