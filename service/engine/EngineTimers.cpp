#include "service/engine/EngineTimers.h"

#include <chrono>

#include "common/platform/System.h"

namespace zorvek::svc {

void ThreadSignal::requestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

bool ThreadSignal::stopRequested() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

void ThreadSignal::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  cv_.notify_all();
}

WaitResult EngineClock::poll(ThreadSignal& signal, bool wakeable) {
  std::lock_guard lock(signal.mutex_);
  if (signal.stop_) return WaitResult::Stopped;
  if (wakeable && signal.woken_) {
    signal.woken_ = false;
    return WaitResult::Woken;
  }
  return WaitResult::Timeout;
}

uint64_t SystemClock::unixMs() { return unixTimeMs(); }

WaitResult SystemClock::wait(ThreadSignal& signal, uint64_t ms, bool wakeable) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock lock(signal.mutex_);
  signal.cv_.wait_until(lock, deadline,
                        [&] { return signal.stop_ || (wakeable && signal.woken_); });
  if (signal.stop_) return WaitResult::Stopped;
  if (wakeable && signal.woken_) {
    signal.woken_ = false;
    return WaitResult::Woken;
  }
  return WaitResult::Timeout;
}

std::shared_ptr<EngineClock> systemClock() {
  static const auto clock = std::make_shared<SystemClock>();
  return clock;
}

UtcDateTime utcDateTime(uint64_t unixSeconds) {
  // Days to civil date (proleptic Gregorian), after H. Hinnant's days_from_civil inverse.
  const uint64_t days = unixSeconds / 86400;
  const uint64_t rest = unixSeconds % 86400;
  const uint64_t z = days + 719468;
  const uint64_t era = z / 146097;
  const uint64_t doe = z - era * 146097;
  const uint64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint64_t mp = (5 * doy + 2) / 153;
  const uint64_t d = doy - (153 * mp + 2) / 5 + 1;
  const uint64_t m = mp < 10 ? mp + 3 : mp - 9;
  const uint64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  UtcDateTime t;
  t.year = static_cast<uint32_t>(y);
  t.month = static_cast<uint32_t>(m);
  t.day = static_cast<uint32_t>(d);
  t.hour = static_cast<uint32_t>(rest / 3600);
  t.minute = static_cast<uint32_t>(rest % 3600 / 60);
  t.second = static_cast<uint32_t>(rest % 60);
  return t;
}

uint32_t scheduleDayKey(const UtcDateTime& t) { return t.year * 400 + t.month * 31 + t.day; }

bool DailySchedule::due(const UtcDateTime& now, uint32_t scheduledHour) {
  const uint32_t key = scheduleDayKey(now);
  if (now.hour != scheduledHour || now.minute >= 10 || key == lastKey_) return false;
  lastKey_ = key;
  return true;
}

void runSchedulerLoop(EngineClock& clock, ThreadSignal& signal,
                      const std::function<uint32_t()>& scheduledHour,
                      const std::function<void()>& startScan) {
  DailySchedule schedule;
  while (clock.wait(signal, kSchedulerPeriodMs, false) == WaitResult::Timeout) {
    const UtcDateTime now = utcDateTime(clock.unixMs() / 1000);
    if (schedule.due(now, scheduledHour())) startScan();
  }
}

void runLiveUpdateLoop(EngineClock& clock, ThreadSignal& signal,
                       const std::function<void()>& attempt) {
  uint64_t period = kLiveUpdateFirstMs;
  while (clock.wait(signal, period, false) == WaitResult::Timeout) {
    attempt();
    period = kLiveUpdatePeriodMs;
  }
}

void runWebShieldLoop(EngineClock& clock, ThreadSignal& signal,
                      const std::function<void()>& pass) {
  uint64_t period = kWebShieldFirstMs;
  while (clock.wait(signal, period, true) != WaitResult::Stopped) {
    pass();
    period = kWebShieldPeriodMs;
  }
}

}  // namespace zorvek::svc
