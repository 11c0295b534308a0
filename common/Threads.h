#pragma once
// Helpers for work split over a second thread that may not be available.

#include <system_error>
#include <thread>
#include <utility>

namespace zorvek {

// Joins the thread, if it still runs, when the scope is left (also by an exception).
class JoinOnExit {
 public:
  explicit JoinOnExit(std::thread& t) : t_(t) {}
  JoinOnExit(const JoinOnExit&) = delete;
  JoinOnExit& operator=(const JoinOnExit&) = delete;
  ~JoinOnExit() {
    if (t_.joinable()) t_.join();
  }

 private:
  std::thread& t_;
};

// Runs `fn` on a new thread; an empty thread when none can be started, and the caller then does
// the work itself.
template <typename Fn>
std::thread tryStartThread(Fn&& fn) {
  try {
    return std::thread(std::forward<Fn>(fn));
  } catch (const std::system_error&) {
    return std::thread();
  }
}

}  // namespace zorvek
