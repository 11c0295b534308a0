#pragma once
// Virtual time for the engine's timer loops: a wait returns at once, having moved the clock to
// its deadline or to the first scheduled event that stops or wakes the loop.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>

#include "service/engine/EngineTimers.h"

namespace zorvek::svc::test {

class VirtualClock : public EngineClock {
 public:
  explicit VirtualClock(uint64_t startMs) : now_(startMs) {}

  uint64_t unixMs() override { return now_; }

  WaitResult wait(ThreadSignal& signal, uint64_t ms, bool wakeable) override {
    const uint64_t deadline = now_ + ms;
    for (;;) {
      const WaitResult r = poll(signal, wakeable);
      if (r != WaitResult::Timeout) return r;
      if (events_.empty() || events_.begin()->first > deadline) {
        now_ = deadline;
        return WaitResult::Timeout;
      }
      const auto it = events_.begin();
      now_ = std::max(now_, it->first);
      const auto action = it->second;
      events_.erase(it);
      action();
    }
  }

  // Runs `action` (stop or wake a signal) when virtual time reaches `ms`.
  void at(uint64_t ms, std::function<void()> action) { events_.emplace(ms, std::move(action)); }
  uint64_t now() const { return now_; }

 private:
  uint64_t now_;
  std::multimap<uint64_t, std::function<void()>> events_;
};

}  // namespace zorvek::svc::test
