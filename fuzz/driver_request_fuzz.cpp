// Minifilter requests: any bytes the driver (or whatever holds the port) sends are either ignored
// or answered with a well-formed 40-byte answer for the same message id; a file check's path is
// at most 512 UTF-16 units and holds no NUL.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "service/realtime/MinifilterProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zorvek::svc;
  // The listener always hands over a buffer of the full size; shorter inputs test the parser's
  // own bounds as well.
  std::vector<uint8_t> padded(data, data + size);
  if (padded.size() < kDriverRequestBytes) padded.resize(kDriverRequestBytes, 0);
  for (const std::span<const uint8_t> message :
       {std::span<const uint8_t>(data, size), std::span<const uint8_t>(padded)}) {
    DriverRequest request;
    const bool accepted = parseDriverRequest(message, request);
    bool fileCheck = false;
    size_t asked = 0;
    const auto answer = answerDriverRequest(
        message,
        [&](const std::wstring& path) {
          ++asked;
          if (path.size() > 512 || path.find(L'\0') != std::wstring::npos) std::abort();
          return path.size() % 2 == 0;
        },
        &fileCheck);
    if (answer.has_value() != accepted) std::abort();
    if (!answer) continue;
    if (fileCheck != (request.kind == DriverRequestKind::FileCheck) || asked != (fileCheck ? 1u : 0u))
      std::abort();
    const bool block = fileCheck && request.path.size() % 2 != 0;
    if (*answer != buildDriverAnswer(request.messageId, block)) std::abort();
  }
  return 0;
}
