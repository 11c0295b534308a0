#include "service/engine/EngineTimers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "VirtualClock.h"

namespace zorvek::svc {
namespace {

using test::VirtualClock;

constexpr uint64_t kSecond = 1000;
constexpr uint64_t kMinute = 60 * kSecond;
constexpr uint64_t kHour = 60 * kMinute;
constexpr uint64_t kDay = 24 * kHour;
// 2026-12-07 00:00:00 UTC.
constexpr uint64_t kMidnight = 1796601600ull * 1000;

TEST(EngineTimersTest, ConvertsUnixSecondsToUtcDates) {
  const struct {
    uint64_t seconds;
    UtcDateTime expected;
  } cases[] = {
      {0, {1970, 1, 1, 0, 0, 0}},
      {951797106, {2000, 2, 29, 4, 5, 6}},
      {946641600, {1999, 12, 31, 12, 0, 0}},
      {1735689599, {2024, 12, 31, 23, 59, 59}},
      {4107542400, {2100, 3, 1, 0, 0, 0}},
      {kMidnight / 1000, {2026, 12, 7, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    const UtcDateTime t = utcDateTime(c.seconds);
    EXPECT_EQ(t.year, c.expected.year);
    EXPECT_EQ(t.month, c.expected.month);
    EXPECT_EQ(t.day, c.expected.day);
    EXPECT_EQ(t.hour, c.expected.hour);
    EXPECT_EQ(t.minute, c.expected.minute);
    EXPECT_EQ(t.second, c.expected.second);
  }
  EXPECT_EQ(scheduleDayKey({2026, 12, 7, 4, 0, 0}), 2026u * 400 + 12 * 31 + 7);
}

TEST(EngineTimersTest, ScheduleIsDueOncePerDayInsideItsWindow) {
  const struct {
    const char* what;
    UtcDateTime at;
    bool due;
  } steps[] = {
      {"before the hour", {2026, 12, 7, 3, 59, 0}, false},
      {"window opens", {2026, 12, 7, 4, 0, 0}, true},
      {"same day again", {2026, 12, 7, 4, 5, 0}, false},
      {"next day, minute 10", {2026, 12, 8, 4, 10, 0}, false},
      {"next day, minute 9", {2026, 12, 8, 4, 9, 0}, true},
      {"other hour", {2026, 12, 9, 5, 0, 0}, false},
  };
  DailySchedule schedule;
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    EXPECT_EQ(schedule.due(s.at, 4), s.due);
  }
  // The key lives in memory only: a restart inside the window runs the scan again.
  DailySchedule restarted;
  EXPECT_TRUE(restarted.due({2026, 12, 8, 4, 9, 0}, 4));
}

TEST(EngineTimersTest, SchedulerStartsOneQuickScanPerDayAtTheConfiguredHour) {
  // Starts at 04:03:30 on day one, inside the window.
  VirtualClock clock(kMidnight + 4 * kHour + 3 * kMinute + 30 * kSecond);
  ThreadSignal signal;
  clock.at(kMidnight + 3 * kDay, [&] { signal.requestStop(); });
  uint32_t hour = 4;
  // On the third day the hour moves to 6 before the window: the change applies at once.
  clock.at(kMidnight + 2 * kDay + kHour, [&] { hour = 6; });
  std::vector<uint64_t> starts;
  runSchedulerLoop(clock, signal, [&] { return hour; }, [&] { starts.push_back(clock.now()); });

  ASSERT_EQ(starts.size(), 3u);
  const uint64_t expected[] = {kMidnight + 4 * kHour + 4 * kMinute + 30 * kSecond,
                               kMidnight + kDay + 4 * kHour + 30 * kSecond,
                               kMidnight + 2 * kDay + 6 * kHour + 30 * kSecond};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(starts[i], expected[i]);
  }
}

TEST(EngineTimersTest, LiveUpdateRunsAfterAMinuteThenDaily) {
  VirtualClock clock(kMidnight);
  ThreadSignal signal;
  clock.at(kMidnight + 3 * kDay, [&] { signal.requestStop(); });
  std::vector<uint64_t> attempts;
  runLiveUpdateLoop(clock, signal, [&] { attempts.push_back(clock.now() - kMidnight); });
  EXPECT_EQ(attempts, (std::vector<uint64_t>{kMinute, kMinute + kDay, kMinute + 2 * kDay}));
}

TEST(EngineTimersTest, WebShieldRunsAfterThirtySecondsDailyAndAtOnceWhenWoken) {
  VirtualClock clock(kMidnight);
  ThreadSignal signal;
  clock.at(kMidnight + 5 * kHour, [&] { signal.wake(); });
  clock.at(kMidnight + 2 * kDay, [&] { signal.requestStop(); });
  std::vector<uint64_t> passes;
  runWebShieldLoop(clock, signal, [&] { passes.push_back(clock.now() - kMidnight); });
  EXPECT_EQ(passes, (std::vector<uint64_t>{30 * kSecond, 5 * kHour, 5 * kHour + kDay}));
}

TEST(EngineTimersTest, EveryLoopEndsAtOnceWhenStopWasRequested) {
  VirtualClock clock(kMidnight);
  ThreadSignal signal;
  signal.requestStop();
  int calls = 0;
  runSchedulerLoop(clock, signal, [] { return 0u; }, [&] { ++calls; });
  runLiveUpdateLoop(clock, signal, [&] { ++calls; });
  runWebShieldLoop(clock, signal, [&] { ++calls; });
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(clock.now(), kMidnight);
}

TEST(EngineTimersTest, SystemClockWaitsEndOnStopAndOnlyWakeableOnesOnWake) {
  SystemClock clock;
  ThreadSignal signal;
  const auto timed = [&](bool wakeable, const std::function<void()>& poke, WaitResult& result) {
    const auto t0 = std::chrono::steady_clock::now();
    std::thread poker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      poke();
    });
    result = clock.wait(signal, 60'000, wakeable);
    poker.join();
    return std::chrono::steady_clock::now() - t0;
  };
  WaitResult r{};
  EXPECT_LT(timed(true, [&] { signal.wake(); }, r), std::chrono::seconds(1));
  EXPECT_EQ(r, WaitResult::Woken);
  // A wake does not end a plain sleep (and stays pending for the next wakeable wait).
  signal.wake();
  EXPECT_EQ(clock.wait(signal, 30, false), WaitResult::Timeout);
  EXPECT_EQ(clock.wait(signal, 30, true), WaitResult::Woken);
  EXPECT_LT(timed(false, [&] { signal.requestStop(); }, r), std::chrono::seconds(1));
  EXPECT_EQ(r, WaitResult::Stopped);
  EXPECT_EQ(clock.wait(signal, 60'000, true), WaitResult::Stopped);
}

}  // namespace
}  // namespace zorvek::svc
