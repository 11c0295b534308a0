#include "service/engine/ScanController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Gate.h"
#include "TestUtil.h"
#include "VirtualClock.h"
#include "common/Hash.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek::svc {
namespace {

constexpr uint64_t kNowMs = 1796601600123;  // 2026-12-07 00:00:00.123 UTC

class ScanControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corpus_ = dir_.file(L"corpus");
    ASSERT_TRUE(createDirectories(corpus_));
    dropper_ = corpus_ + pathSeparator() + L"dropper.exe";
    zorvek::test::writeFile(dropper_, "malicious payload for the controller tests");
    zorvek::test::writeFile(corpus_ + pathSeparator() + L"tool.exe", "an ordinary program");
    auto db = std::make_shared<SignatureDatabase>();
    ASSERT_TRUE(db->parse("ZORVEKDB/1\n" + hash::sha256File(dropper_, 65536) +
                              ":0:Test:high:Test.Dropper:https://ref.example\n",
                          "test"));
    database_ = db;
    ServiceConfig c;
    c.scanRemovable = true;
    settings_ = std::make_unique<SettingsStore>(dir_.file(L"settings.ini"), c);
  }
  void TearDown() override { controller_.reset(); }

  ScanController& make(ScanControllerOptions o = {}) {
    o.cachePath = dir_.file(L"scan.cache");
    o.clock = std::make_shared<test::VirtualClock>(kNowMs);
    if (!o.database) o.database = [this] { return database_; };
    if (!o.quickTargets) o.quickTargets = [this] { return std::vector<ScanTarget>{{corpus_}}; };
    controller_ = std::make_unique<ScanController>(*settings_, detections_, std::move(o));
    return *controller_;
  }
  static bool waitIdle(const ScanController& c) {
    return zorvek::test::waitUntil([&] { return !c.running(); });
  }

  zorvek::test::TempDir dir_;
  std::wstring corpus_, dropper_;
  std::shared_ptr<const SignatureDatabase> database_;
  std::unique_ptr<SettingsStore> settings_;
  DetectionStore detections_;
  std::unique_ptr<ScanController> controller_;
};

TEST_F(ScanControllerTest, EachScopeScansItsTargets) {
  std::atomic<int> fullCalls{0};
  std::atomic<bool> removable{false};
  ScanControllerOptions o;
  o.fullTargets = [&](bool includeRemovable) {
    ++fullCalls;
    removable = includeRemovable;
    return std::vector<ScanTarget>{{corpus_}};
  };
  ScanController& c = make(o);
  const struct {
    uint32_t scope;
    std::vector<std::wstring> paths;
    const wchar_t* state;
    uint64_t files;
  } cases[] = {
      {kScopeQuick, {}, L"finished", 2},
      {kScopeFull, {}, L"finished", 2},
      {kScopeMemory, {corpus_}, L"idle", 0},
      {7, {dropper_}, L"finished", 1},
      {7, {}, L"idle", 0},
  };
  for (const auto& s : cases) {
    SCOPED_TRACE(s.scope);
    std::string error;
    ASSERT_TRUE(c.request(s.scope, s.paths, &error)) << error;
    ASSERT_TRUE(waitIdle(c));
    EXPECT_EQ(c.progress().phase, s.state);
    if (s.files) {
      EXPECT_EQ(c.lastSummary().filesScanned, s.files);
      EXPECT_EQ(c.lastSummary().threats, 1u);
      ASSERT_EQ(detections_.scanDetections().size(), 1u);
      EXPECT_EQ(detections_.scanDetections()[0].path, dropper_);
    } else {
      // An accepted request starts a new detection list even when there is nothing to scan.
      EXPECT_TRUE(detections_.scanDetections().empty());
    }
  }
  EXPECT_EQ(fullCalls.load(), 1);
  EXPECT_TRUE(removable.load());
}

TEST_F(ScanControllerTest, AFinishedScanIsRecordedWithTheEngineClock) {
  ScanController& c = make();
  ASSERT_TRUE(c.request(kScopeQuick, {}));
  ASSERT_TRUE(waitIdle(c));
  const ServiceConfig now = settings_->copy();
  EXPECT_EQ(now.lastScanUtc, kNowMs / 1000);
  EXPECT_EQ(now.lastThreatCount, 1u);
  ServiceConfig saved;
  saved.parse(zorvek::test::readFile(settings_->path()));
  EXPECT_EQ(saved, now);
  EXPECT_NE(zorvek::test::readFile(dir_.file(L"scan.cache")).find(toUtf8(dropper_) + "|"),
            std::string::npos);
  EXPECT_FALSE(c.lastFailed());
}

TEST_F(ScanControllerTest, RefusalsLeaveNoTrace) {
  ScanControllerOptions o;
  o.database = [] { return std::shared_ptr<const SignatureDatabase>(); };
  ScanController& c = make(o);
  ASSERT_TRUE(c.request(kScopeQuick, {}));
  ASSERT_TRUE(waitIdle(c));
  EXPECT_EQ(c.progress().phase, L"failed");
  EXPECT_TRUE(c.lastFailed());
  EXPECT_EQ(settings_->copy().lastScanUtc, 0u);

  settings_->update([](ServiceConfig& s) { s.protectionEnabled = false; });
  std::string error;
  EXPECT_FALSE(c.request(kScopeQuick, {}, &error));
  EXPECT_EQ(error, "protection is disabled");
  EXPECT_EQ(c.progress().phase, L"failed");
  c.beginStop();
  settings_->update([](ServiceConfig& s) { s.protectionEnabled = true; });
  EXPECT_FALSE(c.request(kScopeQuick, {}, &error));
  EXPECT_EQ(error, "service is stopping");
  EXPECT_FALSE(c.running());
}

TEST_F(ScanControllerTest, StopCancelsTheRunningScanAndJoinsIt) {
  zorvek::test::Gate scanning, stopBegun;
  ScanControllerOptions o;
  o.stateChanged = [&](const std::wstring& s) {
    if (s != L"scanning") return;
    scanning.open();
    stopBegun.wait();
  };
  ScanController& c = make(o);
  ASSERT_TRUE(c.request(kScopeQuick, {}));
  ASSERT_TRUE(scanning.wait());
  c.beginStop();
  stopBegun.open();
  const auto t0 = std::chrono::steady_clock::now();
  c.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_FALSE(c.running());
  EXPECT_EQ(c.progress().phase, L"cancelled");
  EXPECT_TRUE(c.lastSummary().cancelled);
}

TEST_F(ScanControllerTest, ReadersSeeConsistentRecordsWhileScansRun) {
  ScanController& c = make();
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) {
      const ScanProgressInfo p = c.progress();
      EXPECT_LE(p.filesDone, std::max<uint64_t>(p.filesTotal, 2));
      c.lastSummary();
      c.lastFailed();
      detections_.scanDetections();
    }
  });
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(c.request(kScopeQuick, {}));
    if (i % 2) c.cancel();
    ASSERT_TRUE(waitIdle(c));
  }
  done = true;
  reader.join();
}

}  // namespace
}  // namespace zorvek::svc
