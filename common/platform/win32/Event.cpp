#include "common/platform/Event.h"

#include "common/platform/win32/Handle.h"

namespace zorvek {

struct Event::Impl {
  UniqueKernelHandle handle;
};

Event::Event(Reset reset, bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->handle.reset(CreateEventW(nullptr, reset == Reset::Manual ? TRUE : FALSE,
                                   initiallySet ? TRUE : FALSE, nullptr));
}

Event::~Event() = default;

bool Event::valid() const { return static_cast<bool>(impl_->handle); }

void Event::set() {
  if (valid()) SetEvent(impl_->handle.get());
}

void Event::reset() {
  if (valid()) ResetEvent(impl_->handle.get());
}

bool Event::wait(uint32_t timeoutMs) {
  if (!valid()) return false;
  const DWORD ms = timeoutMs == kWaitForever ? INFINITE : timeoutMs;
  return WaitForSingleObject(impl_->handle.get(), ms) == WAIT_OBJECT_0;
}

bool Event::isSet() const {
  return valid() && WaitForSingleObject(impl_->handle.get(), 0) == WAIT_OBJECT_0;
}

intptr_t Event::nativeHandle() const { return reinterpret_cast<intptr_t>(impl_->handle.get()); }

}  // namespace zorvek
