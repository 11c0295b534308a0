#pragma once
// The Filter Manager's communication port towards the minifilter, reduced to what the listener
// needs. Windows: FilterConnectCommunicationPort, FilterGetMessage (overlapped, so a disconnect
// can end the wait), FilterReplyMessage. Elsewhere there is no port: connecting fails with
// E_NOTIMPL. Tests use an in-memory port.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace zorvek::svc {

class FilterPort {
 public:
  virtual ~FilterPort() = default;
  // Waits for the next message and fills `buffer` with it; false when the port failed or was
  // closed, or after interrupt().
  virtual bool getMessage(std::span<uint8_t> buffer) = 0;
  virtual bool sendAnswer(std::span<const uint8_t> answer) = 0;
  // Any thread: ends the pending wait and every later one.
  virtual void interrupt() = 0;
};

// Connects to the named port; null with the result code (an HRESULT) when that fails.
using FilterPortFactory =
    std::function<std::unique_ptr<FilterPort>(const std::wstring& portName, uint32_t* hresult)>;

// The platform's port.
std::unique_ptr<FilterPort> connectFilterPort(const std::wstring& portName, uint32_t* hresult);

}  // namespace zorvek::svc
