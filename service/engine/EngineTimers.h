#pragma once
// Clock, interruptible waits and the loops of the engine's timer threads (daily scheduler,
// live-update timer, web-shield timer). The loops take the clock as a parameter so that tests
// drive them through days of virtual time in milliseconds.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace zorvek::svc {

// What the engine's threads wait on: a sticky stop request that ends every wait, and an
// auto-reset wake that ends one wakeable wait (the web-shield thread's).
class ThreadSignal {
 public:
  void requestStop();
  bool stopRequested() const;
  void wake();

 private:
  friend class SystemClock;
  friend class EngineClock;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  bool woken_ = false;
};

enum class WaitResult { Timeout, Woken, Stopped };

class EngineClock {
 public:
  virtual ~EngineClock() = default;
  // Wall-clock time, milliseconds since 1970-01-01 UTC.
  virtual uint64_t unixMs() = 0;
  // Waits `ms` unless a stop (or, when `wakeable`, a wake) comes first. A stop that is
  // already requested returns at once.
  virtual WaitResult wait(ThreadSignal& signal, uint64_t ms, bool wakeable) = 0;

 protected:
  // For clocks that do not block: the signal's state now, consuming a wake.
  static WaitResult poll(ThreadSignal& signal, bool wakeable);
};

class SystemClock : public EngineClock {
 public:
  uint64_t unixMs() override;
  WaitResult wait(ThreadSignal& signal, uint64_t ms, bool wakeable) override;
};

std::shared_ptr<EngineClock> systemClock();

struct UtcDateTime {
  uint32_t year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
UtcDateTime utcDateTime(uint64_t unixSeconds);

// year × 400 + month × 31 + day: distinct for every calendar day.
uint32_t scheduleDayKey(const UtcDateTime& t);

// The daily scheduled scan: due once per day key, at the configured hour, minutes 0-9. The
// key lives only in memory, so a restart inside the window runs the scan again.
class DailySchedule {
 public:
  // True when a scan should start now; the day is taken before the scan is even tried, so a
  // refused scan is not retried that day.
  bool due(const UtcDateTime& now, uint32_t scheduledHour);

 private:
  uint32_t lastKey_ = 0xFFFFFFFF;
};

inline constexpr uint64_t kSchedulerPeriodMs = 60'000;
inline constexpr uint64_t kLiveUpdateFirstMs = 60'000;
inline constexpr uint64_t kLiveUpdatePeriodMs = 86'400'000;
inline constexpr uint64_t kWebShieldFirstMs = 30'000;
inline constexpr uint64_t kWebShieldPeriodMs = 86'400'000;

// Every minute: reads the UTC time and the scheduled hour, and calls `startScan` when due.
void runSchedulerLoop(EngineClock& clock, ThreadSignal& signal,
                      const std::function<uint32_t()>& scheduledHour,
                      const std::function<void()>& startScan);
// One minute after start, then 24 hours after each attempt.
void runLiveUpdateLoop(EngineClock& clock, ThreadSignal& signal,
                       const std::function<void()>& attempt);
// 30 seconds after start, then every 24 hours, and at once on each wake.
void runWebShieldLoop(EngineClock& clock, ThreadSignal& signal, const std::function<void()>& pass);

}  // namespace zorvek::svc
