#pragma once
// The messages between the service and the kernel minifilter ZorvekFilter: the driver's request
// as the Filter Manager hands it over (its 16-byte message header, then the body) and the
// service's 40-byte answer. Pure functions over bytes, so every rule is tested without a driver.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace zorvek::svc {

inline constexpr wchar_t kFilterPortName[] = L"\\\\.\\pipe\\ZorvekFilterPort";

// The buffer handed to the get-message call: the Filter Manager's header and the largest body.
inline constexpr size_t kDriverRequestBytes = 1076;
inline constexpr size_t kDriverAnswerBytes = 40;
inline constexpr uint32_t kDriverAnswerType = 10;

enum class DriverRequestKind { FileCheck, Probe };

struct DriverRequest {
  uint64_t messageId = 0;
  DriverRequestKind kind = DriverRequestKind::Probe;
  std::wstring path;  // file checks only: up to 512 UTF-16 units, ending at the first NUL
};

// False for every message that must go unanswered: a header length above 1060, a wrong magic or
// version, a body size below 16 or above the header's length, an unknown type, a file check whose
// header length is below 1056, or fewer bytes than the fields read.
bool parseDriverRequest(std::span<const uint8_t> message, DriverRequest& out);

using DriverAnswer = std::array<uint8_t, kDriverAnswerBytes>;
DriverAnswer buildDriverAnswer(uint64_t messageId, bool block);

// The whole decision for one message: no answer for an ignored message; allow for a probe without
// asking `allow`; for a file check, block exactly when `allow` returns false. An empty `allow`
// and one that throws both allow: a failing check must not stop the machine's file access.
// `fileCheck` (when given) tells whether the message was a file check.
std::optional<DriverAnswer> answerDriverRequest(
    std::span<const uint8_t> message, const std::function<bool(const std::wstring&)>& allow,
    bool* fileCheck = nullptr);

// The connect failure text, also used where no Filter Manager exists.
std::string filterUnavailableText(uint32_t hresult);

}  // namespace zorvek::svc
