#include "service/engine/BackgroundWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "Gate.h"
#include "VirtualClock.h"

namespace zorvek::svc {
namespace {

using zorvek::test::Gate;

constexpr uint64_t kDayMs = 86'400'000;
constexpr uint64_t kMidnight = 1796601600ull * 1000;  // 2026-12-07 00:00:00 UTC

bool waitUntilIdle(const OneShotJob& job) {
  return zorvek::test::waitUntil([&] { return !job.running(); });
}

TEST(BackgroundWorkersTest, OneShotJobsRunOneAtATimeAndKeepOrClearTheirOutcome) {
  BackgroundWorkers workers(nullptr);
  const struct {
    const char* what;
    OneShotJob& job;
    const char* errorWhileRunning;
    const wchar_t* outputWhileRunning;
  } cases[] = {
      {"live update keeps the last error", workers.liveUpdateJob(), "first failed", L"left"},
      {"self-update starts afresh", workers.selfUpdateJob(), "", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    ASSERT_TRUE(workers.startOneShot(
        c.job,
        [&](std::string* text) {
          c.job.setOutput(L"left");
          *text = "first failed";
          return false;
        },
        &error))
        << error;
    ASSERT_TRUE(waitUntilIdle(c.job));
    EXPECT_EQ(c.job.lastError(), "first failed");

    Gate entered, release;
    ASSERT_TRUE(workers.startOneShot(c.job, [&](std::string*) {
      entered.open();
      release.wait();
      return true;
    }));
    ASSERT_TRUE(entered.wait());
    EXPECT_TRUE(c.job.running());
    EXPECT_EQ(c.job.lastError(), c.errorWhileRunning);
    EXPECT_EQ(c.job.output(), c.outputWhileRunning);
    EXPECT_FALSE(workers.startOneShot(c.job, [](std::string*) { return true; }, &error));
    EXPECT_EQ(error, "обновление уже выполняется");
    release.open();
    ASSERT_TRUE(waitUntilIdle(c.job));
    EXPECT_EQ(c.job.lastError(), "");

    // A body that throws frees the job and leaves the outcome as it was.
    ASSERT_TRUE(workers.startOneShot(c.job, [](std::string* text) -> bool {
      *text = "never stored";
      throw std::runtime_error("boom");
    }));
    ASSERT_TRUE(waitUntilIdle(c.job));
    EXPECT_EQ(c.job.lastError(), "");
  }
}

TEST(BackgroundWorkersTest, SchedulerRunsInEngineTime) {
  auto clock = std::make_shared<test::VirtualClock>(kMidnight);
  BackgroundWorkers workers(clock);
  std::atomic<int> scans{0};
  // Three days of minutes pass in no time; the stop comes from inside the clock's wait.
  clock->at(kMidnight + 3 * kDayMs, [&] { workers.beginStop(); });
  workers.startScheduler([] { return 4u; }, [&] { ++scans; });
  workers.join();
  EXPECT_EQ(scans.load(), 3);
  EXPECT_TRUE(workers.stopping());
}

TEST(BackgroundWorkersTest, StopEndsEveryWaitAtOnceAndRefusesNewRuns) {
  BackgroundWorkers workers(nullptr);
  Gate shieldRan, realTimeIn, oneShotIn;
  std::atomic<int> attempts{0};
  workers.startScheduler([] { return 4u; }, [] {});
  workers.startLiveUpdateTimer([&] { ++attempts; });
  workers.startWebShield([&] { shieldRan.open(); });
  workers.startRealTime([&] {
    realTimeIn.open();
    while (!workers.waitForStop(60'000)) {
    }
  });
  ASSERT_TRUE(workers.startOneShot(workers.liveUpdateJob(), [&](std::string*) {
    oneShotIn.open();
    return workers.waitForStop(60'000);
  }));
  // The first pass would come after 30 s without the wake.
  workers.wakeWebShield();
  ASSERT_TRUE(shieldRan.wait());
  ASSERT_TRUE(realTimeIn.wait());
  ASSERT_TRUE(oneShotIn.wait());

  const auto t0 = std::chrono::steady_clock::now();
  workers.beginStop();
  workers.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(attempts.load(), 0);
  EXPECT_FALSE(workers.liveUpdateJob().running());
  EXPECT_TRUE(workers.waitForStop(60'000));

  std::string error;
  EXPECT_FALSE(workers.startOneShot(workers.selfUpdateJob(), [](std::string*) { return true; },
                                    &error));
  EXPECT_EQ(error, "service is stopping");
  EXPECT_FALSE(workers.selfUpdateJob().running());
}

}  // namespace
}  // namespace zorvek::svc
