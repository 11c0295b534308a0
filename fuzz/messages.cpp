// Every payload decoder of the pipe protocol; the first byte picks the decoder. Whatever decodes
// must encode back to the bytes it was read from (trailing bytes aside).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/Messages.h"

namespace {

using namespace zorvek::ipc;

// Wide strings survive a round trip only when they were valid UTF-8 to begin with, so only the
// decoded values are compared, after a second decode of the re-encoded bytes.
template <typename T, typename Dec, typename Enc>
void check(std::string_view payload, Dec decode, Enc encode) {
  T value{};
  if (!decode(payload, value)) return;
  const std::string again = encode(value);
  T second{};
  if (!decode(again, second) || !(second == value)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 11) {
    case 0:
      check<HelloReply>(payload, decodeHelloReply, encodeHelloReply);
      break;
    case 1:
      check<uint32_t>(payload, decodeU32Payload, encodeU32Payload);
      check<uint64_t>(payload, decodeU64Payload, encodeU64Payload);
      break;
    case 2:
      check<std::string>(payload, decodeStringPayload,
                         [](const std::string& s) { return encodeStringPayload(s); });
      (void)errorReplyText(payload);
      break;
    case 3:
      check<StartScanRequest>(
          payload, [](std::string_view p, StartScanRequest& r) { return decodeStartScanRequest(p, r); },
          encodeStartScanRequest);
      break;
    case 4:
      check<ProgressReply>(payload, decodeProgressReply,
                          [](const ProgressReply& r) { return encodeProgressReply(r); });
      break;
    case 5:
      check<std::vector<DetectionRecord>>(
          payload, decodeDetectionList,
          [](const std::vector<DetectionRecord>& l) { return encodeDetectionList(l); });
      break;
    case 6:
      check<ThreatDecisionRequest>(payload, decodeThreatDecisionRequest,
                                   encodeThreatDecisionRequest);
      break;
    case 7:
      check<std::vector<QuarantineRecord>>(
          payload, decodeQuarantineList,
          [](const std::vector<QuarantineRecord>& l) { return encodeQuarantineList(l); });
      break;
    case 8:
      check<ConfigPayload>(
          payload, [](std::string_view p, ConfigPayload& c) { return decodeConfigPayload(p, c); },
          encodeConfigPayload);
      break;
    case 9:
      check<FirewallReply>(payload, decodeFirewallReply, encodeFirewallReply);
      break;
    default:
      (void)opcodeName(static_cast<uint32_t>(size));
      break;
  }
  return 0;
}
