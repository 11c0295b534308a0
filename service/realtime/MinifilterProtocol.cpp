#include "service/realtime/MinifilterProtocol.h"

#include <cstdio>
#include <string_view>

#include "common/Text.h"
#include "common/Wire.h"

namespace zorvek::svc {
namespace {

constexpr uint8_t kMagic[4] = {'Z', 'R', 'V', 'K'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kTypeFileCheck = 1, kTypeFileCheckOther = 2, kTypeProbe = 3;

// The Filter Manager's header: a 32-bit length, 4 bytes of padding, the 64-bit message id.
constexpr size_t kHeaderBytes = 16;
constexpr uint32_t kMaxHeaderLength = kDriverRequestBytes - kHeaderBytes;  // 1060
constexpr uint32_t kMinFileCheckLength = 1056;
constexpr uint32_t kMinBodySize = 16;
constexpr size_t kPathOffset = kHeaderBytes + 28;
constexpr size_t kPathUnits = 512;
constexpr size_t kFileCheckBytes = kPathOffset + kPathUnits * 2;

}  // namespace

bool parseDriverRequest(std::span<const uint8_t> message, DriverRequest& out) {
  ipc::WireReader r(message.data(), message.size());
  const uint32_t headerLength = r.u32();
  r.u32();  // padding
  const uint64_t messageId = r.u64();
  r.u32();  // the magic, compared below as bytes
  const uint32_t version = r.u32();
  const uint32_t type = r.u32();
  const uint32_t bodySize = r.u32();
  if (!r.ok()) return false;
  if (headerLength > kMaxHeaderLength) return false;
  for (size_t i = 0; i < sizeof kMagic; ++i)
    if (message[kHeaderBytes + i] != kMagic[i]) return false;
  if (version != kVersion || bodySize < kMinBodySize || bodySize > headerLength) return false;

  DriverRequest request;
  request.messageId = messageId;
  if (type == kTypeProbe) {
    request.kind = DriverRequestKind::Probe;
  } else if (type == kTypeFileCheck || type == kTypeFileCheckOther) {
    if (headerLength < kMinFileCheckLength || message.size() < kFileCheckBytes) return false;
    request.kind = DriverRequestKind::FileCheck;
    // The path ends at its first NUL or after all 512 units, whichever comes first.
    size_t units = 0;
    while (units < kPathUnits && (message[kPathOffset + 2 * units] != 0 ||
                                  message[kPathOffset + 2 * units + 1] != 0))
      ++units;
    request.path = fromUtf16Le(std::string_view(
        reinterpret_cast<const char*>(message.data() + kPathOffset), units * 2));
  } else {
    return false;
  }
  out = std::move(request);
  return true;
}

DriverAnswer buildDriverAnswer(uint64_t messageId, bool block) {
  ipc::WireWriter w;
  w.u64(0).u64(messageId);
  w.u32(0).u32(kVersion).u32(kDriverAnswerType).u32(kDriverAnswerBytes).u32(block ? 1 : 0).u32(0);
  DriverAnswer answer{};
  const std::string& bytes = w.bytes();
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(bytes[i]);
  for (size_t i = 0; i < 4; ++i) answer[16 + i] = kMagic[i];
  return answer;
}

std::optional<DriverAnswer> answerDriverRequest(
    std::span<const uint8_t> message, const std::function<bool(const std::wstring&)>& allow,
    bool* fileCheck) {
  if (fileCheck) *fileCheck = false;
  DriverRequest request;
  if (!parseDriverRequest(message, request)) return std::nullopt;
  if (request.kind == DriverRequestKind::Probe) return buildDriverAnswer(request.messageId, false);
  if (fileCheck) *fileCheck = true;
  bool allowed = true;
  try {
    if (allow) allowed = allow(request.path);
  } catch (...) {
    allowed = true;
  }
  return buildDriverAnswer(request.messageId, !allowed);
}

std::string filterUnavailableText(uint32_t hresult) {
  char code[24];
  std::snprintf(code, sizeof code, " (hr=0x%08lX)", static_cast<unsigned long>(hresult));
  return std::string("фильтр-драйвер недоступен") + code;
}

}  // namespace zorvek::svc
