#pragma once
// A directory watcher running on its own thread over a fresh folder, against a fake engine.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TestUtil.h"
#include "common/platform/File.h"
#include "service/engine/Gate.h"
#include "service/realtime/DirectoryWatcher.h"
#include "service/realtime/FakeEngine.h"

namespace zorvek::svc {

class WatcherFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    watched_ = dir_.file(L"watched");
    ASSERT_TRUE(createDirectories(watched_));
    options_.folders = {watched_};
    options_.waitMs = 100;
    options_.settleMs = 50;
  }
  void TearDown() override { stop(); }

  // Starts the watcher and waits until its folders are watched.
  void start() {
    thread_ = std::thread([this] { runDirectoryWatcher(engine_, options_, counters_); });
    ASSERT_TRUE(zorvek::test::waitUntil([&] { return log_.contains("real-time: watching"); }));
  }
  void stop() {
    engine_.stop.store(true);
    if (thread_.joinable()) thread_.join();
  }

  static std::wstring sep() { return std::wstring(1, pathSeparator()); }
  std::wstring in(const std::wstring& relative) const { return watched_ + sep() + relative; }
  void write(const std::wstring& relative, const std::string& bytes) {
    zorvek::test::writeFile(in(relative), bytes);
  }
  bool waitForReports(size_t count) {
    return zorvek::test::waitUntil([&] { return engine_.reports().size() >= count; },
                                   std::chrono::seconds(10));
  }
  // Long enough for every notification of what was just done to be judged.
  void settle() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * (options_.settleMs + options_.waitMs)));
  }

  // More changes than the system queues for one watch between two reads; 0 when that is more
  // than a test should make.
  static size_t overflowingChangeCount() {
    if (pathSeparator() == L'\\') return 2000;  // 64 KiB of records with names this long
    const std::string limit = zorvek::test::readFile(L"/proc/sys/fs/inotify/max_queued_events");
    const unsigned long events = std::strtoul(limit.c_str(), nullptr, 10);
    // Each new file draws two events: its creation and its close after writing.
    return events == 0 || events > 40000 ? 0 : events / 2 + 200;
  }

  zorvek::test::TempDir dir_;
  zorvek::test::LogCapture log_;
  std::wstring watched_;
  test::FakeEngine engine_;
  WatcherOptions options_;
  WatcherCounters counters_;
  std::thread thread_;
};

}  // namespace zorvek::svc
