// The live update as the engine runs it: updateSignaturesNow against a fake engine, and the
// whole road through a real engine and a local update server — the on-demand request, the
// reload, the next scan and the next start.

#include <gtest/gtest.h>

#include <chrono>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "service/engine/EngineAccess.h"
#include "service/engine/ScanWorker.h"
#include "service/net/LiveUpdate.h"
#include "tests/service/engine/Gate.h"

namespace zorvek::svc {
namespace {

constexpr uint64_t kMarch1At0030Ms = 1740789000000;  // 2025-03-01 00:30:00 UTC

std::string digestOf(char c) { return std::string(64, c); }

class FakeEngine : public LiveUpdateAccess {
 public:
  explicit FakeEngine(std::wstring livePath) : livePath_(std::move(livePath)) {}
  ServiceConfig snapshotConfig() const override { return config; }
  std::wstring liveDatabasePath() const override { return livePath_; }
  bool reloadSignatures(std::string* error) override {
    ++reloads;
    if (!reloadError.empty()) *error = reloadError;
    return reloadError.empty();
  }
  bool recordLiveUpdate(std::string*) override {
    ++records;
    return true;
  }
  uint64_t unixMs() override { return kMarch1At0030Ms; }
  bool stopping() const override { return stop; }

  ServiceConfig config;
  std::string reloadError;
  bool stop = false;
  int reloads = 0, records = 0;

 private:
  std::wstring livePath_;
};

TEST(UpdateSignaturesNowTest, FetchesReloadsRecordsAndLogs) {
  const struct {
    const char* what;
    int status;            // the update server's answer
    std::string reloadError;
    bool stopping;
    const char* error;     // empty: success
    const char* logLine;   // expected in the log
    int reloads, records;
  } cases[] = {
      {"success", 200, "", false, "", "[INF] live signatures updated: 2 hashes\n", 1, 1},
      {"server fails", 503, "", false, "http status 503", "", 0, 0},
      {"reload fails", 200, "cannot open: main.db", false, "",
       "[WRN] live db fetched but reload failed: cannot open: main.db\n", 1, 1},
      {"engine stopping", 200, "", true, "live update cancelled", "", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::wstring log = dir.file(L"zorvek.log");
    Logger::instance().open(log);
    test::TestHttpServer server([&](const std::string&) {
      return test::HttpReply{c.status, digestOf('a') + "\n" + digestOf('B') + " Named\n"};
    });
    FakeEngine engine(dir.file(L"signatures.live.txt"));
    engine.config.updateServer = server.url("/");
    engine.reloadError = c.reloadError;
    engine.stop = c.stopping;
    std::string error = "stale";
    EXPECT_EQ(updateSignaturesNow(engine, &error), *c.error == 0);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(engine.reloads, c.reloads);
    EXPECT_EQ(engine.records, c.records);
    Logger::instance().close();
    const std::string text = test::readFile(log);
    if (*c.logLine) {
      EXPECT_NE(text.find(c.logLine), std::string::npos) << text;
    }
    if (*c.error) {
      EXPECT_EQ(text.find("live signatures updated"), std::string::npos) << text;
      EXPECT_FALSE(pathExists(engine.liveDatabasePath()));
    } else {
      // The version is the engine's date, not the machine's.
      EXPECT_NE(test::readFile(engine.liveDatabasePath()).find("\nVERSION live-20250301\n"),
                std::string::npos);
    }
  }
}

// Real waits, pinned wall-clock time.
class PinnedClock : public SystemClock {
 public:
  uint64_t unixMs() override { return kMarch1At0030Ms; }
};

class LiveUpdateEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = dir_.file(L"data");
    ASSERT_TRUE(createDirectories(data_));
    sample_ = dir_.file(L"sample.exe");
    test::writeFile(sample_, "a program only the live feed knows about");
    clean_ = dir_.file(L"clean.exe");
    test::writeFile(clean_, "an ordinary program");
    // The main database knows something else, so only the live digest can find the sample.
    test::writeFile(dir_.file(L"main.db"), "ZORVEKDB/1\n" + digestOf('c') + ":Test.Other\n");
    ServiceConfig c;
    c.signatureDb = dir_.file(L"main.db");
    c.quarantineDir = data_ + pathSeparator() + L"Quarantine";
    c.scheduledScan = false;
    c.updateServer = server_.url("///");
    ASSERT_TRUE(c.save(data_ + pathSeparator() + L"settings.ini"));
  }
  void TearDown() override {
    engine_.reset();
    Logger::instance().close();
  }

  ScanWorker& startEngine() {
    EngineOptions options;
    options.dataFolder = data_;
    options.clock = std::make_shared<PinnedClock>();
    options.hooks.liveUpdate = [](LiveUpdateAccess& e, std::string* error) {
      return updateSignaturesNow(e, error);
    };
    engine_ = std::make_unique<ScanWorker>(std::move(options));
    std::string error;
    EXPECT_TRUE(engine_->init(&error)) << error;
    EXPECT_TRUE(engine_->start(&error)) << error;
    return *engine_;
  }
  std::vector<DetectionRecord> scan(ScanWorker& w) {
    std::string error;
    EXPECT_TRUE(w.requestScan(3, {sample_, clean_}, &error)) << error;
    EXPECT_TRUE(test::waitUntil([&] { return !w.scanRunning(); }));
    return w.detections();
  }
  bool runOnDemand(ScanWorker& w) {
    std::string error;
    EXPECT_TRUE(w.startLiveUpdate(&error)) << error;
    return test::waitUntil([&] { return !w.liveUpdateRunning(); });
  }

  test::TempDir dir_;
  std::wstring data_, sample_, clean_;
  int status_ = 200;
  std::string feed_;
  test::TestHttpServer server_{[this](const std::string& target) {
    if (target != "/api/v1/signatures") return test::HttpReply{404, ""};
    return test::HttpReply{status_, feed_};
  }};
  std::unique_ptr<ScanWorker> engine_;
};

TEST_F(LiveUpdateEngineTest, AFileKnownOnlyToTheFeedIsFoundAfterTheUpdateAndAfterARestart) {
  const std::string sampleDigest = hash::sha256File(sample_, 65536);
  feed_ = "# from the update server\n" + asciiLower(sampleDigest) + "\n" + digestOf('d') + "\n";
  ScanWorker& w = startEngine();
  EXPECT_TRUE(scan(w).empty());
  const auto before = w.database();

  ASSERT_TRUE(runOnDemand(w));
  EXPECT_EQ(w.lastLiveUpdateError(), "");
  EXPECT_EQ(w.snapshotConfig().lastLiveUpdateUtc, kMarch1At0030Ms / 1000);
  auto found = scan(w);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, sample_);
  EXPECT_EQ(found[0].threatName, kGenericSignatureName);
  // A scan that started before the reload keeps the instance it holds.
  EXPECT_FALSE(before->lookup("", "", sampleDigest));
  EXPECT_NE(test::readFile(data_ + pathSeparator() + L"zorvek.log").find(
                "[INF] live signatures updated: 2 hashes\n"),
            std::string::npos);

  // The next start loads the live database without asking the server.
  engine_.reset();
  status_ = 500;
  ScanWorker& again = startEngine();
  EXPECT_EQ(again.snapshotConfig().lastLiveUpdateUtc, kMarch1At0030Ms / 1000);
  found = scan(again);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, sample_);
}

TEST_F(LiveUpdateEngineTest, AFailedOnDemandRunShowsItsErrorAndKeepsTheDatabase) {
  feed_ = digestOf('e') + "\n";
  ScanWorker& w = startEngine();
  ASSERT_TRUE(runOnDemand(w));
  const std::wstring live = data_ + pathSeparator() + L"signatures.live.txt";
  const std::string good = test::readFile(live);

  status_ = 503;
  ASSERT_TRUE(runOnDemand(w));
  EXPECT_EQ(w.lastLiveUpdateError(), "http status 503");
  EXPECT_EQ(test::readFile(live), good);
  EXPECT_TRUE(w.database()->lookup("", "", digestOf('e')));

  // The next good run clears it.
  status_ = 200;
  ASSERT_TRUE(runOnDemand(w));
  EXPECT_EQ(w.lastLiveUpdateError(), "");
}

TEST_F(LiveUpdateEngineTest, StoppingEndsARunThatWaitsForTheServer) {
  if (pathSeparator() == L'\\') {
    GTEST_SKIP() << "a blocked WinHTTP call is not interrupted; it ends at its own time-out";
  }
  test::TestHttpServer slow([](const std::string&) {
    test::HttpReply r;
    r.generatedBytes = 1 << 20;
    r.cutAfter = 1000;
    r.stallAtCut = true;
    return r;
  });
  ServiceConfig c;
  c.parse(test::readFile(data_ + pathSeparator() + L"settings.ini"));
  c.updateServer = slow.url("");
  ASSERT_TRUE(c.save(data_ + pathSeparator() + L"settings.ini"));
  ScanWorker& w = startEngine();
  std::string error;
  ASSERT_TRUE(w.startLiveUpdate(&error)) << error;
  ASSERT_TRUE(test::waitUntil([&] { return !slow.requests().empty(); }));
  const auto t0 = std::chrono::steady_clock::now();
  w.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  EXPECT_FALSE(pathExists(data_ + pathSeparator() + L"signatures.live.txt"));
}

}  // namespace
}  // namespace zorvek::svc
