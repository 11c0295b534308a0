#include "service/realtime/FilterPort.h"

#include <cstring>

#include "common/platform/win32/Handle.h"
#include "common/platform/win32/Win.h"

#include <fltuser.h>

namespace zorvek::svc {
namespace {

class Win32FilterPort final : public FilterPort {
 public:
  Win32FilterPort(UniqueFile port, UniqueKernelHandle ioEvent, UniqueKernelHandle cancelEvent)
      : port_(std::move(port)), ioEvent_(std::move(ioEvent)), cancelEvent_(std::move(cancelEvent)) {}

  bool getMessage(std::span<uint8_t> buffer) override {
    if (WaitForSingleObject(cancelEvent_.get(), 0) == WAIT_OBJECT_0) return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_.get();
    ResetEvent(ioEvent_.get());
    // Overlapped, so that a disconnect ends the wait instead of joining a thread that waits for
    // a driver which may never send again.
    const HRESULT hr =
        FilterGetMessage(port_.get(), reinterpret_cast<PFILTER_MESSAGE_HEADER>(buffer.data()),
                         static_cast<DWORD>(buffer.size()), &overlapped);
    if (hr != HRESULT_FROM_WIN32(ERROR_IO_PENDING)) return SUCCEEDED(hr);
    const HANDLE waits[2] = {ioEvent_.get(), cancelEvent_.get()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    DWORD bytes = 0;
    if (woke == WAIT_OBJECT_0) return GetOverlappedResult(port_.get(), &overlapped, &bytes, FALSE);
    // The buffer must outlive the read: cancel it and wait until the system is done with it.
    CancelIoEx(port_.get(), &overlapped);
    GetOverlappedResult(port_.get(), &overlapped, &bytes, TRUE);
    return false;
  }

  bool sendAnswer(std::span<const uint8_t> answer) override {
    // The answer begins with the reply header (status, message id): a reply to the driver's
    // waiting request. Sent as a message of its own it would leave that request waiting.
    alignas(FILTER_REPLY_HEADER) uint8_t reply[64] = {};
    if (answer.size() > sizeof reply) return false;
    std::memcpy(reply, answer.data(), answer.size());
    return SUCCEEDED(FilterReplyMessage(port_.get(), reinterpret_cast<PFILTER_REPLY_HEADER>(reply),
                                        static_cast<DWORD>(answer.size())));
  }

  void interrupt() override { SetEvent(cancelEvent_.get()); }

 private:
  UniqueFile port_;
  UniqueKernelHandle ioEvent_, cancelEvent_;
};

}  // namespace

std::unique_ptr<FilterPort> connectFilterPort(const std::wstring& portName, uint32_t* hresult) {
  HANDLE port = INVALID_HANDLE_VALUE;
  const HRESULT hr = FilterConnectCommunicationPort(portName.c_str(), 0, nullptr, 0, nullptr, &port);
  if (hresult) *hresult = static_cast<uint32_t>(hr);
  if (FAILED(hr)) return nullptr;
  UniqueFile owned(port);
  UniqueKernelHandle events[2];
  for (auto& event : events) {
    event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
      if (hresult) *hresult = static_cast<uint32_t>(HRESULT_FROM_WIN32(GetLastError()));
      return nullptr;
    }
  }
  return std::make_unique<Win32FilterPort>(std::move(owned), std::move(events[0]),
                                           std::move(events[1]));
}

}  // namespace zorvek::svc
