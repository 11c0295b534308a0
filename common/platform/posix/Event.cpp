#include "common/platform/Event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zorvek {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  bool manual = true;
  bool signalled = false;
  int fd = -1;

  // The eventfd mirrors `signalled`: one unit while set, drained when reset.
  void raiseFd() {
    const uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void drainFd() {
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
  }
};

Event::Event(Reset reset, bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->manual = reset == Reset::Manual;
  impl_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->fd >= 0 && initiallySet) set();
}

Event::~Event() {
  if (impl_->fd >= 0) ::close(impl_->fd);
}

bool Event::valid() const { return impl_->fd >= 0; }

void Event::set() {
  if (!valid()) return;
  {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->signalled) {
      impl_->signalled = true;
      impl_->raiseFd();
    }
  }
  if (impl_->manual) {
    impl_->cv.notify_all();
  } else {
    impl_->cv.notify_one();
  }
}

void Event::reset() {
  if (!valid()) return;
  std::lock_guard lock(impl_->mutex);
  if (impl_->signalled) {
    impl_->signalled = false;
    impl_->drainFd();
  }
}

bool Event::wait(uint32_t timeoutMs) {
  if (!valid()) return false;
  std::unique_lock lock(impl_->mutex);
  const auto isSignalled = [this] { return impl_->signalled; };
  if (timeoutMs == kWaitForever) {
    impl_->cv.wait(lock, isSignalled);
  } else if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
    return false;
  }
  if (!impl_->manual) {
    impl_->signalled = false;
    impl_->drainFd();
  }
  return true;
}

bool Event::isSet() const {
  if (!valid()) return false;
  std::lock_guard lock(impl_->mutex);
  return impl_->signalled;
}

intptr_t Event::nativeHandle() const { return impl_->fd; }

}  // namespace zorvek
