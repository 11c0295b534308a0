#include "common/platform/Event.h"

#include "common/platform/win32/Win.h"

namespace zorvek {

struct Event::Impl {
  HANDLE handle = nullptr;
};

Event::Event(Reset reset, bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->handle = CreateEventW(nullptr, reset == Reset::Manual ? TRUE : FALSE,
                               initiallySet ? TRUE : FALSE, nullptr);
}

Event::~Event() {
  if (impl_->handle) CloseHandle(impl_->handle);
}

bool Event::valid() const { return impl_->handle != nullptr; }

void Event::set() {
  if (valid()) SetEvent(impl_->handle);
}

void Event::reset() {
  if (valid()) ResetEvent(impl_->handle);
}

bool Event::wait(uint32_t timeoutMs) {
  if (!valid()) return false;
  return WaitForSingleObject(impl_->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs) ==
         WAIT_OBJECT_0;
}

bool Event::isSet() const {
  return valid() && WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0;
}

intptr_t Event::nativeHandle() const { return reinterpret_cast<intptr_t>(impl_->handle); }

}  // namespace zorvek
