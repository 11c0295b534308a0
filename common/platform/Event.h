#pragma once
// A manual- or auto-reset event. Windows: a CreateEventW handle, so it can sit in
// WaitForMultipleObjects next to I/O. POSIX: a mutex and condition variable, plus an eventfd
// that is readable while the event is set, so the pipe transport can poll on it with a socket.

#include <cstdint>
#include <memory>

namespace zorvek {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

class Event {
 public:
  enum class Reset { Manual, Auto };

  explicit Event(Reset reset = Reset::Manual, bool initiallySet = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // False when the system could not create the event; every other call is then a no-op.
  bool valid() const;
  void set();
  void reset();
  // Waits until the event is set or `timeoutMs` passed; true when it was set. A successful wait
  // on an auto-reset event resets it.
  bool wait(uint32_t timeoutMs = kWaitForever);
  // Whether the event is set, without waiting. Only for manual-reset events: on Windows looking
  // at an auto-reset event consumes it.
  bool isSet() const;

  // HANDLE on Windows; on POSIX a descriptor that polls readable while the event is set. Meant
  // for waiting only: reading it or closing it is the event's business.
  intptr_t nativeHandle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zorvek
