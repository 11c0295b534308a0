#include "service/engine/SettingsStore.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "common/Logger.h"

namespace zorvek::svc {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::wstring path() const { return dir_.file(L"settings.ini"); }
  ServiceConfig onDisk() const {
    ServiceConfig c;
    c.parse(test::readFile(path()));
    return c;
  }
  test::TempDir dir_;
};

TEST_F(SettingsStoreTest, LoadTakesTheFileWritesDefaultsWhenMissingAndLeavesBadFilesAlone) {
  const struct {
    const char* what;
    const char* file;  // null: no file
    bool throws;
    uint32_t hour;
  } cases[] = {
      {"missing", nullptr, false, 4},
      {"present", "ScheduledHour=9\n", false, 9},
      {"malformed hour", "ScheduledHour=\n", true, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.file) test::writeFile(path(), c.file);
    ServiceConfig initial;
    initial.scheduledHour = 17;
    SettingsStore store(path(), initial);
    EXPECT_FALSE(store.loaded());
    EXPECT_EQ(store.copy().scheduledHour, 17u);
    if (c.throws) {
      EXPECT_THROW(store.load(ServiceConfig()), std::invalid_argument);
      EXPECT_FALSE(store.loaded());
      EXPECT_EQ(test::readFile(path()), c.file);
    } else {
      store.load(ServiceConfig());
      EXPECT_TRUE(store.loaded());
      EXPECT_EQ(store.copy().scheduledHour, c.hour);
      EXPECT_EQ(onDisk().scheduledHour, c.hour);
    }
    std::filesystem::remove(dir_.path() / "settings.ini");
  }
}

TEST_F(SettingsStoreTest, ReplaceKeepsEmptyPathsAndTheUpdateServer) {
  ServiceConfig initial;
  initial.signatureDb = L"main.db";
  initial.quarantineDir = L"q";
  initial.updateServer = "https://updates.example";
  SettingsStore store(path(), initial);

  const struct {
    std::wstring db, quarantine;
    std::wstring wantDb, wantQuarantine;
  } cases[] = {
      {L"", L"", L"main.db", L"q"},
      {L"other.db", L"", L"other.db", L"q"},
      {L"", L"q2", L"other.db", L"q2"},
  };
  for (const auto& c : cases) {
    ServiceConfig next;
    next.signatureDb = c.db;
    next.quarantineDir = c.quarantine;
    next.updateServer = "https://elsewhere.example";
    next.lastScanUtc = 99;
    const ServiceConfig before = store.copy();
    EXPECT_EQ(store.replace(next), before);
    const ServiceConfig now = store.copy();
    EXPECT_EQ(now.signatureDb, c.wantDb);
    EXPECT_EQ(now.quarantineDir, c.wantQuarantine);
    EXPECT_EQ(now.updateServer, "https://updates.example");
    EXPECT_EQ(now.lastScanUtc, 99u);
  }
}

TEST_F(SettingsStoreTest, ConcurrentSavesLeaveTheNewestRecordOnDisk) {
  SettingsStore store(path(), ServiceConfig());
  constexpr int kThreads = 4, kEach = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        store.update([](ServiceConfig& c) { ++c.lastThreatCount; });
        EXPECT_TRUE(store.save());
        store.copy();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(store.copy().lastThreatCount, uint64_t{kThreads} * kEach);
  // The last save in time wrote a copy at least as new as every update before it.
  EXPECT_EQ(onDisk(), store.copy());
}

}  // namespace
}  // namespace zorvek::svc
