// The engine with real-time protection on its hooks: the kernel path through an in-memory port,
// the watcher on a real folder, and what a client of the pipe receives.
#include "service/realtime/RealTimeProtection.h"

#include <gtest/gtest.h>

#include <optional>

#include "TestUtil.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/engine/Gate.h"
#include "service/realtime/DriverMessages.h"
#include "service/realtime/FakeEngine.h"
#include "service/realtime/FakeFilterPort.h"

namespace zorvek::svc {
namespace {

class RealTimeEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { prepare(false); }
  // The installed service keeps its data (and so its quarantine) inside a watched tree.
  void prepare(bool dataInsideWatched) {
    watched_ = dir_.file(L"watched");
    data_ = dataInsideWatched ? watched_ + pathSeparator() + L"ZORVEK Antivirus" : dir_.file(L"data");
    ASSERT_TRUE(createDirectories(data_));
    ASSERT_TRUE(createDirectories(watched_));
    const std::wstring db = dir_.file(L"main.db");
    zorvek::test::writeFile(db, test::databaseText());
    ServiceConfig c;
    c.signatureDb = db;
    c.quarantineDir = data_ + pathSeparator() + L"Quarantine";
    c.scheduledScan = false;
    c.liveUpdates = false;
    c.webShield = false;
    ASSERT_TRUE(c.save(data_ + pathSeparator() + L"settings.ini"));
  }
  void TearDown() override {
    engine_.reset();
    Logger::instance().close();
  }

  ScanWorker& startEngine(FilterPortFactory port = {}) {
    EngineOptions options;
    options.dataFolder = data_;
    RealTimeOptions rt;
    rt.watcher.folders = {watched_};
    rt.watcher.waitMs = 100;
    rt.watcher.settleMs = 50;
    rt.filterPort = std::move(port);
    realTime_ = RealTimeProtection::install(options.hooks, std::move(rt));
    engine_ = std::make_unique<ScanWorker>(std::move(options));
    std::string error;
    EXPECT_TRUE(engine_->init(&error)) << error;
    EXPECT_TRUE(engine_->start(&error)) << error;
    return *engine_;
  }
  std::string log() const { return zorvek::test::readFile(data_ + pathSeparator() + L"zorvek.log"); }
  std::wstring in(const std::wstring& name) const { return watched_ + pathSeparator() + name; }
  // Detections a client would receive over the next `ms`.
  std::vector<DetectionRecord> collect(ScanWorker& w, int ms) {
    std::vector<DetectionRecord> out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      for (auto& d : w.takeRealTimeDetections()) out.push_back(std::move(d));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return out;
  }

  zorvek::test::TempDir dir_;
  std::wstring data_, watched_;
  test::FakeDriver driver_;  // outlives the engine, which disconnects from it
  std::shared_ptr<RealTimeProtection> realTime_;
  std::unique_ptr<ScanWorker> engine_;
};

class RealTimeDropTest : public RealTimeEngineTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { prepare(GetParam()); }
};

TEST_P(RealTimeDropTest, DroppedFileReachesAClientExactlyOnce) {
  ScanWorker& w = startEngine();
  EXPECT_NE(log().find("minifilter unavailable (фильтр-драйвер недоступен (hr=0x"), std::string::npos)
      << log();
  EXPECT_NE(log().find("), using userspace realtime"), std::string::npos);
  EXPECT_FALSE(realTime_->minifilterConnected());
  ASSERT_TRUE(zorvek::test::waitUntil([&] { return log().find("real-time: watching") != std::string::npos; }));

  zorvek::test::writeFile(in(L"dropped.exe"), test::kThreat);
  std::vector<DetectionRecord> received;
  ASSERT_TRUE(zorvek::test::waitUntil([&] {
    for (auto& d : w.takeRealTimeDetections()) received.push_back(std::move(d));
    return !received.empty();
  }, std::chrono::seconds(10)));
  for (auto& d : collect(w, 600)) received.push_back(std::move(d));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].path, in(L"dropped.exe"));
  EXPECT_EQ(received[0].threatName, "Test.Eicar");

  // The client decides: the file goes to the quarantine.
  ThreatDecision decision;
  decision.path = received[0].path;
  decision.action = kActionQuarantine;
  decision.threatName = received[0].threatName;
  decision.level = static_cast<uint32_t>(received[0].level);
  std::string error;
  ASSERT_TRUE(w.decideThreat(decision, &error)) << error;
  EXPECT_FALSE(pathExists(in(L"dropped.exe")));
  EXPECT_EQ(w.quarantineList().size(), 1u);
  // Neither the move out of the folder nor the copy in the quarantine is a new detection.
  EXPECT_TRUE(collect(w, 400).empty());
  EXPECT_EQ(log().find("real-time detection: " + toUtf8(data_)), std::string::npos) << log();
}

INSTANTIATE_TEST_SUITE_P(DataFolder, RealTimeDropTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                           return p.param ? "InsideWatchedTree" : "Elsewhere";
                         });

TEST_F(RealTimeEngineTest, KernelPathBlocksHighAllowsMediumAndTheWatcherReportsBoth) {
  ScanWorker& w = startEngine(driver_.factory());
  EXPECT_NE(log().find("minifilter connected, kernel protection active"), std::string::npos);
  EXPECT_TRUE(realTime_->minifilterConnected());

  zorvek::test::writeFile(dir_.file(L"high.exe"), test::kThreat);
  zorvek::test::writeFile(dir_.file(L"medium.exe"), test::kSuspicious);
  const auto check = [&](uint64_t id, const std::wstring& path) {
    test::DriverMessage m;
    m.messageId = id;
    m.path.clear();
    for (wchar_t c : path) m.path.push_back(static_cast<char16_t>(c));  // ASCII test paths
    driver_.send(m.build());
  };
  check(1, dir_.file(L"high.exe"));
  check(2, dir_.file(L"medium.exe"));
  check(3, dir_.file(L"high.exe"));  // opened again before any client asked
  ASSERT_TRUE(driver_.waitForAnswers(3));
  const auto answers = driver_.answers();
  const auto expected = [](uint64_t id, bool block) {
    const DriverAnswer a = buildDriverAnswer(id, block);
    return std::vector<uint8_t>(a.begin(), a.end());
  };
  EXPECT_EQ(answers[0], expected(1, true));
  EXPECT_EQ(answers[1], expected(2, false));
  EXPECT_EQ(answers[2], expected(3, true));
  EXPECT_EQ(realTime_->filesAnswered(), 3u);
  // The kernel path reports only what it blocked, once however often it was asked.
  const auto kernel = w.takeRealTimeDetections();
  ASSERT_EQ(kernel.size(), 1u);
  EXPECT_EQ(kernel[0].path, dir_.file(L"high.exe"));

  // The watcher reports level medium too.
  ASSERT_TRUE(zorvek::test::waitUntil([&] { return log().find("real-time: watching") != std::string::npos; }));
  zorvek::test::writeFile(in(L"medium.exe"), test::kSuspicious);
  std::vector<DetectionRecord> watched;
  ASSERT_TRUE(zorvek::test::waitUntil([&] {
    for (auto& d : w.takeRealTimeDetections()) watched.push_back(std::move(d));
    return !watched.empty();
  }, std::chrono::seconds(10)));
  EXPECT_EQ(watched[0].path, in(L"medium.exe"));
  EXPECT_EQ(watched[0].level, ThreatLevel::Medium);

  // Stopping the engine disconnects first: the listener is not left waiting.
  engine_->stop();
  EXPECT_FALSE(realTime_->minifilterConnected());
  EXPECT_TRUE(driver_.interrupted());
}

TEST_F(RealTimeEngineTest, WithoutDatabaseTheKernelPathAllowsAndTheWatcherEnds) {
  zorvek::test::writeFile(dir_.file(L"main.db"), "");  // loads nothing
  ScanWorker& w = startEngine(driver_.factory());
  zorvek::test::writeFile(dir_.file(L"high.exe"), test::kThreat);
  test::DriverMessage m;
  m.path.clear();
  for (wchar_t c : dir_.file(L"high.exe")) m.path.push_back(static_cast<char16_t>(c));
  driver_.send(m.build());
  ASSERT_TRUE(driver_.waitForAnswers(1));
  const DriverAnswer allow = buildDriverAnswer(m.messageId, false);
  EXPECT_EQ(driver_.answers()[0], std::vector<uint8_t>(allow.begin(), allow.end()));
  ASSERT_TRUE(zorvek::test::waitUntil([&] {
    return log().find("[ERR] real-time: signature database is not loaded") != std::string::npos;
  }));
  EXPECT_TRUE(w.takeRealTimeDetections().empty());
}

}  // namespace
}  // namespace zorvek::svc
