#include "service/engine/ScanWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "Gate.h"
#include "TestUtil.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek::svc {
namespace {

constexpr uint64_t kNowMs = 1796601600123;  // 2026-12-07 00:00:00.123 UTC

// Real waits, pinned wall-clock time.
class PinnedClock : public SystemClock {
 public:
  uint64_t unixMs() override { return kNowMs; }
};

using zorvek::test::Gate;

class ScanWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = dir_.file(L"данные");
    dataDir_.emplace(L"ZORVEK_DATA_DIR", data_);
    ASSERT_TRUE(createDirectories(data_));
    corpus_ = dir_.file(L"corpus");
    ASSERT_TRUE(createDirectories(corpus_));
    dropper_ = inCorpus(L"dropper.exe");
    tool_ = inCorpus(L"tool.exe");
    test::writeFile(dropper_, "malicious payload for the engine tests");
    test::writeFile(tool_, "an ordinary program");
    test::writeFile(inCorpus(L"notes.txt"), "not a scanned type");
    dbPath_ = dir_.file(L"main.db");
    writeDatabase({dropper_}, "Test.Dropper.A");
  }
  void TearDown() override {
    engine_.reset();
    Logger::instance().close();
  }

  std::wstring inCorpus(const std::wstring& name) const {
    return corpus_ + pathSeparator() + name;
  }
  std::wstring inData(const std::wstring& name) const { return data_ + pathSeparator() + name; }

  void writeDatabase(const std::vector<std::wstring>& files, const std::string& name) {
    std::string text = "ZORVEKDB/1\nVERSION t1\n";
    for (const auto& f : files) {
      text += hash::sha256File(f, 65536) + ":0:Test:high:" + name + ":https://ref.example\n";
    }
    test::writeFile(dbPath_, text);
  }

  // settings.ini with our database and no scheduled scan, then `extra` lines over it.
  void writeSettings(const std::string& extra = "") {
    ServiceConfig c;
    c.signatureDb = dbPath_;
    c.quarantineDir = inData(L"Quarantine");
    c.scheduledScan = false;
    c.parse(extra);
    ASSERT_TRUE(c.save(inData(L"settings.ini")));
  }

  ScanWorker& makeEngine(EngineHooks hooks = {}) {
    EngineOptions options;
    options.dataFolder = data_;
    options.clock = std::make_shared<PinnedClock>();
    options.hooks = std::move(hooks);
    engine_ = std::make_unique<ScanWorker>(std::move(options));
    return *engine_;
  }
  ScanWorker& initEngine(EngineHooks hooks = {}) {
    ScanWorker& w = makeEngine(std::move(hooks));
    std::string error;
    EXPECT_TRUE(w.init(&error)) << error;
    return w;
  }

  static bool waitIdle(const ScanWorker& w) {
    return test::waitUntil([&] { return !w.scanRunning(); });
  }
  void scanCorpus(ScanWorker& w) {
    std::string error;
    ASSERT_TRUE(w.requestScan(3, {corpus_}, &error)) << error;
    ASSERT_TRUE(waitIdle(w));
  }

  std::string log() const { return test::readFile(inData(L"zorvek.log")); }
  ServiceConfig savedSettings() const {
    ServiceConfig c;
    c.parse(test::readFile(inData(L"settings.ini")));
    return c;
  }

  test::TempDir dir_;
  std::optional<test::ScopedEnvironment> dataDir_;  // put back after TearDown
  std::wstring data_, corpus_, dropper_, tool_, dbPath_;
  std::unique_ptr<ScanWorker> engine_;
};

// Records every state the engine announces.
struct StateLog {
  std::mutex mutex;
  std::vector<std::wstring> states;
  void add(const std::wstring& s) {
    std::lock_guard lock(mutex);
    states.push_back(s);
  }
  std::vector<std::wstring> get() {
    std::lock_guard lock(mutex);
    return states;
  }
};

TEST_F(ScanWorkerTest, FirstStartWritesDefaultSettings) {
  ScanWorker& w = initEngine();
  const std::string text = log();
  EXPECT_NE(text.find("[INF] ZorvekService starting, version 1.2.0\n"), std::string::npos);
  EXPECT_NE(text.find("[WRN] config not found, using defaults\n"), std::string::npos);
  EXPECT_EQ(savedSettings(), w.snapshotConfig());
  EXPECT_TRUE(pathExists(inData(L"Quarantine") + pathSeparator() + L"quarantine.db"));
  EXPECT_EQ(w.progress().phase, L"");
}

TEST_F(ScanWorkerTest, MalformedScheduledHourFailsInitAndLeavesTheFileAlone) {
  writeSettings();
  const std::string before = test::readFile(inData(L"settings.ini")) + "ScheduledHour=\n";
  test::writeFile(inData(L"settings.ini"), before);
  ScanWorker& w = makeEngine();
  EXPECT_THROW(w.init(), std::invalid_argument);
  engine_.reset();  // stop() must not write defaults over the user's file
  EXPECT_EQ(test::readFile(inData(L"settings.ini")), before);
}

TEST_F(ScanWorkerTest, InitFailsWhenTheQuarantineCannotBeCreated) {
  test::writeFile(dir_.file(L"plain"), "a file, not a folder");
  writeSettings("QuarantineDir=" + toUtf8(dir_.file(L"plain")) + "/q\n");
  ScanWorker& w = makeEngine();
  std::string error;
  EXPECT_FALSE(w.init(&error));
  EXPECT_EQ(error.rfind("cannot create quarantine dir: ", 0), 0u) << error;
}

TEST_F(ScanWorkerTest, ScanRunsThroughItsStatesAndRecordsTheResult) {
  writeSettings("LastScanUtc=5\nLastThreatCount=7\n");
  StateLog states;
  EngineHooks hooks;
  hooks.stateChanged = [&](const std::wstring& s) { states.add(s); };
  ScanWorker& w = initEngine(hooks);
  EXPECT_NE(log().find("[INF] signatures loaded: 1 entries, version t1\n"), std::string::npos);
  scanCorpus(w);

  EXPECT_EQ(states.get(), (std::vector<std::wstring>{L"preparing", L"counting", L"scanning",
                                                     L"finishing", L"finished"}));
  const ScanProgressInfo p = w.progress();
  EXPECT_EQ(p.phase, L"finished");
  EXPECT_EQ(p.filesTotal, 2u);
  EXPECT_EQ(p.filesDone, 2u);
  EXPECT_EQ(p.bytesTotal, fileSize(dropper_) + fileSize(tool_));
  EXPECT_EQ(p.bytesDone, p.bytesTotal);
  const ScanSummary s = w.lastSummary();
  EXPECT_EQ(s.filesScanned, 2u);
  EXPECT_EQ(s.threats, 1u);
  EXPECT_EQ(s.suspicious, 0u);
  EXPECT_FALSE(s.cancelled);
  EXPECT_FALSE(w.lastScanFailed());

  const auto found = w.detections();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, dropper_);
  EXPECT_EQ(found[0].threatName, "Test.Dropper.A");
  EXPECT_EQ(found[0].secondText, hash::sha256File(dropper_, 65536));
  EXPECT_EQ(found[0].level, ThreatLevel::High);
  EXPECT_EQ(found[0].code, "SIG.MATCH");
  EXPECT_EQ(found[0].size, static_cast<uint64_t>(fileSize(dropper_)));

  EXPECT_EQ(savedSettings().lastScanUtc, kNowMs / 1000);
  EXPECT_EQ(savedSettings().lastThreatCount, 1u);
  const std::string cache = test::readFile(inData(L"scan.cache"));
  EXPECT_NE(cache.find(toUtf8(dropper_) + "|" + std::to_string(fileSize(dropper_)) + "|"),
            std::string::npos);
  EXPECT_NE(cache.find(toUtf8(tool_) + "|"), std::string::npos);
  EXPECT_EQ(cache.find("notes.txt"), std::string::npos);
  EXPECT_NE(log().find("[INF] scan finished: files=2 threats=1 ms="), std::string::npos);
  engine_.reset();
}

TEST_F(ScanWorkerTest, NamedFilesAreEvaluatedDirectly) {
  writeSettings();
  ScanWorker& w = initEngine();
  std::string error;
  ASSERT_TRUE(w.requestScan(3, {dropper_, inCorpus(L"notes.txt")}, &error)) << error;
  ASSERT_TRUE(waitIdle(w));
  EXPECT_EQ(w.progress().phase, L"finished");
  EXPECT_EQ(w.lastSummary().filesScanned, 2u);
  EXPECT_EQ(w.lastSummary().threats, 1u);
  EXPECT_EQ(w.progress().filesDone, 2u);
  EXPECT_EQ(w.progress().filesTotal, 2u);
}

TEST_F(ScanWorkerTest, FilesAndFoldersThatCannotBeReadAreCountedAndLogged) {
  writeSettings();
  ScanWorker& w = initEngine();
  std::string error;
  // Named but gone by the time the scan gets to them: a file and a folder-like path.
  ASSERT_TRUE(w.requestScan(3, {dropper_, inCorpus(L"vanished.exe"), inCorpus(L"gone")}, &error))
      << error;
  ASSERT_TRUE(waitIdle(w));
  const ScanSummary s = w.lastSummary();
  EXPECT_EQ(s.filesScanned, 1u);
  EXPECT_EQ(s.threats, 1u);
  EXPECT_EQ(s.filesUnreadable, 2u);
  EXPECT_EQ(w.progress().filesDone, 3u);
  const std::string text = log();
  EXPECT_NE(text.find("scan finished: files=1 threats=1"), std::string::npos) << text;
  EXPECT_NE(text.find("scan skipped 2 files that could not be read"), std::string::npos) << text;
  // A clean scan says nothing of the kind.
  ASSERT_TRUE(w.requestScan(3, {tool_}, &error)) << error;
  ASSERT_TRUE(waitIdle(w));
  EXPECT_EQ(w.lastSummary().filesUnreadable, 0u);
  EXPECT_EQ(log().find("scan skipped", text.size()), std::string::npos);
}

TEST_F(ScanWorkerTest, CancelDuringCountingOrScanningEndsCancelled) {
  for (const wchar_t* when : {L"counting", L"scanning"}) {
    SCOPED_TRACE(toUtf8(when));
    writeSettings("LastScanUtc=5\nLastThreatCount=7\n");
    EngineHooks hooks;
    hooks.stateChanged = [this, when](const std::wstring& s) {
      if (s == when) engine_->cancelScan();
    };
    ScanWorker& w = initEngine(hooks);
    scanCorpus(w);
    EXPECT_EQ(w.progress().phase, L"cancelled");
    EXPECT_TRUE(w.lastSummary().cancelled);
    EXPECT_EQ(w.lastSummary().filesScanned, 0u);
    // The cancel came before the count: the count gives up too rather than walk everything.
    if (when == std::wstring_view(L"counting")) {
      EXPECT_EQ(w.progress().filesTotal, 0u);
    }
    EXPECT_EQ(savedSettings().lastScanUtc, kNowMs / 1000);
    EXPECT_EQ(savedSettings().lastThreatCount, 0u);
    // The next scan is not cancelled by the old request.
    w.requestScan(3, {corpus_});
    ASSERT_TRUE(waitIdle(w));
  }
}

TEST_F(ScanWorkerTest, SecondRequestIsRefusedWhileAScanRuns) {
  writeSettings();
  Gate entered, release;
  EngineHooks hooks;
  hooks.stateChanged = [&](const std::wstring& s) {
    if (s == L"scanning") {
      entered.open();
      release.wait();
    }
  };
  ScanWorker& w = initEngine(hooks);
  ASSERT_TRUE(w.requestScan(3, {corpus_}));
  ASSERT_TRUE(entered.wait());
  std::string error;
  EXPECT_FALSE(w.requestScan(0, {}, &error));
  EXPECT_EQ(error, "a scan is already running");
  EXPECT_TRUE(w.scanRunning());
  EXPECT_EQ(w.progress().phase, L"scanning");
  release.open();
  ASSERT_TRUE(waitIdle(w));
  EXPECT_EQ(w.progress().phase, L"finished");
  EXPECT_EQ(w.detections().size(), 1u);
  engine_.reset();
}

TEST_F(ScanWorkerTest, MemoryScopeAndEmptyPathListsEndIdle) {
  const struct {
    uint32_t scope;
    bool memoryWarning;
  } cases[] = {{2, true}, {3, false}, {77, false}};
  writeSettings();
  ScanWorker& w = initEngine();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scope);
    Logger::instance().close();
    test::writeFile(inData(L"zorvek.log"), "");
    Logger::instance().open(inData(L"zorvek.log"));
    ASSERT_TRUE(w.requestScan(c.scope, {}));
    ASSERT_TRUE(waitIdle(w));
    EXPECT_EQ(w.progress().phase, L"idle");
    EXPECT_FALSE(w.lastScanFailed());
    EXPECT_EQ(log().find("[WRN] memory scan requested but not implemented\n") !=
                  std::string::npos,
              c.memoryWarning);
    EXPECT_EQ(savedSettings().lastScanUtc, 0u);
  }
}

TEST_F(ScanWorkerTest, WithoutADatabaseScansFailUntilAReloadSucceeds) {
  removeFile(dbPath_);
  writeSettings();
  ScanWorker& w = initEngine();
  EXPECT_NE(log().find("[WRN] signature database not loaded: cannot open: "), std::string::npos);
  EXPECT_EQ(w.database(), nullptr);
  std::string error;
  ASSERT_TRUE(w.requestScan(3, {corpus_}, &error)) << error;
  ASSERT_TRUE(waitIdle(w));
  EXPECT_EQ(w.progress().phase, L"failed");
  EXPECT_TRUE(w.lastScanFailed());
  EXPECT_NE(log().find("[ERR] scan aborted: signature database is not loaded\n"),
            std::string::npos);

  test::writeFile(dbPath_, "ZORVEKDB/1\n");
  EXPECT_FALSE(w.reloadSignatures(&error));
  EXPECT_EQ(error, "database is empty");
  writeDatabase({dropper_}, "Test.Dropper.A");
  ASSERT_TRUE(w.reloadSignatures(&error)) << error;
  EXPECT_NE(log().find("[INF] signatures reloaded: 1 entries\n"), std::string::npos);
  scanCorpus(w);
  EXPECT_EQ(w.progress().phase, L"finished");
  EXPECT_FALSE(w.lastScanFailed());
}

TEST_F(ScanWorkerTest, RefusesScansWhenProtectionIsOffOrTheServiceStops) {
  writeSettings("ProtectionEnabled=0\n");
  ScanWorker& w = initEngine();
  std::string error;
  EXPECT_FALSE(w.requestScan(0, {}, &error));
  EXPECT_EQ(error, "protection is disabled");
  EXPECT_FALSE(w.scanRunning());
  w.stop();
  EXPECT_FALSE(w.requestScan(0, {}, &error));
  EXPECT_EQ(error, "service is stopping");
  EXPECT_FALSE(w.start(&error));
  EXPECT_NE(log().find("[INF] workers stopped\n"), std::string::npos);
}

TEST_F(ScanWorkerTest, ApplyConfigKeepsEmptyPathsAndTheUpdateServer) {
  writeSettings("UpdateServer=https://updates.example\n");
  ScanWorker& w = initEngine();
  const ServiceConfig before = w.snapshotConfig();

  ServiceConfig sent;  // as a client sends it: no paths, no update server
  sent.signatureDb.clear();
  sent.quarantineDir.clear();
  sent.scheduledHour = 7;
  sent.realTimeEnabled = false;
  sent.lastScanUtc = 42;
  ASSERT_TRUE(w.applyConfig(sent));
  ServiceConfig now = w.snapshotConfig();
  EXPECT_EQ(now.signatureDb, before.signatureDb);
  EXPECT_EQ(now.quarantineDir, before.quarantineDir);
  EXPECT_EQ(now.updateServer, "https://updates.example");
  EXPECT_EQ(now.scheduledHour, 7u);
  EXPECT_EQ(now.lastScanUtc, 42u);
  EXPECT_EQ(savedSettings(), now);
  EXPECT_NE(log().find("[INF] real-time setting changed, service restart required\n"),
            std::string::npos);

  sent.signatureDb = L"other.db";
  sent.updateServer = "https://elsewhere.example";
  ASSERT_TRUE(w.applyConfig(sent));
  now = w.snapshotConfig();
  EXPECT_EQ(now.signatureDb, L"other.db");
  EXPECT_EQ(now.updateServer, "https://updates.example");
}

TEST_F(ScanWorkerTest, FlippingTheWebShieldRunsItAtOnce) {
  writeSettings();
  Gate ran;
  EngineHooks hooks;
  hooks.webShield = [&](WebShieldAccess&) { ran.open(); };
  ScanWorker& w = initEngine(hooks);
  ASSERT_TRUE(w.start());
  ServiceConfig c = w.snapshotConfig();
  c.webShield = !c.webShield;
  ASSERT_TRUE(w.applyConfig(c));
  // The first pass would come after 30 s without the wake.
  EXPECT_TRUE(ran.wait(std::chrono::seconds(10)));
  engine_.reset();  // before the gate the hook uses goes away
}

TEST_F(ScanWorkerTest, ReloadDuringAScanLeavesTheScanOnItsDatabase) {
  writeSettings();
  Gate entered, release;
  bool block = true;
  EngineHooks hooks;
  hooks.stateChanged = [&](const std::wstring& s) {
    if (s == L"scanning" && block) {
      entered.open();
      release.wait();
    }
  };
  ScanWorker& w = initEngine(hooks);
  const auto old = w.database();
  ASSERT_TRUE(w.requestScan(3, {corpus_}));
  ASSERT_TRUE(entered.wait());
  writeDatabase({tool_}, "Test.Tool.B");
  std::string error;
  ASSERT_TRUE(w.reloadSignatures(&error)) << error;
  EXPECT_NE(w.database(), old);
  release.open();
  ASSERT_TRUE(waitIdle(w));
  auto found = w.detections();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, dropper_);

  block = false;
  scanCorpus(w);
  found = w.detections();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, tool_);
  EXPECT_EQ(found[0].threatName, "Test.Tool.B");
  engine_.reset();
}

TEST_F(ScanWorkerTest, StopsWithinASecondWithEveryThreadRunning) {
  writeSettings("ScheduledScan=1\n");
  Gate scanning;
  EngineHooks hooks;
  hooks.connectMinifilter = [](RealTimeAccess&, std::string* error) {
    *error = "no driver";
    return false;
  };
  hooks.realTimeWatch = [](RealTimeAccess& w) {
    while (!w.waitForStop(60'000)) {
    }
  };
  hooks.liveUpdate = [](LiveUpdateAccess&, std::string*) { return true; };
  hooks.webShield = [](WebShieldAccess&) {};
  // A scan busy with one long file: it must notice the stop too.
  hooks.stateChanged = [&](const std::wstring& s) {
    if (s == L"scanning") {
      scanning.open();
      engine_->waitForStop(60'000);
    }
  };
  ScanWorker& w = initEngine(hooks);
  ASSERT_TRUE(w.start());
  ASSERT_TRUE(w.requestScan(3, {corpus_}));
  ASSERT_TRUE(scanning.wait());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // every thread in its wait

  const auto t0 = std::chrono::steady_clock::now();
  w.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  EXPECT_FALSE(w.scanRunning());
  EXPECT_EQ(w.progress().phase, L"cancelled");
  const std::string text = log();
  EXPECT_NE(text.find("[INF] minifilter unavailable (no driver), using userspace realtime\n"),
            std::string::npos);
  EXPECT_NE(text.find("[INF] workers started (scheduled=on, realtime=on)\n"), std::string::npos);
  EXPECT_NE(text.find("[INF] workers stopped\n"), std::string::npos);
}

// A file just under the size limit, all holes, that grows to 15 TiB once the scan has it open:
// the read stops at the size it had, and a cancel or a stop ends it within a second.
TEST_F(ScanWorkerTest, AHugeFileGrowingDuringTheScanCannotHoldCancelOrStop) {
  const std::wstring huge = inCorpus(L"huge.exe");
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "cancel");
    writeSettings();
    test::writeFile(huge, "");
    std::filesystem::resize_file(toPath(huge), kEngineMaxFileSize - 1);
    Gate scanning;
    EngineHooks hooks;
    hooks.stateChanged = [&](const std::wstring& s) {
      if (s == L"scanning") scanning.open();
    };
    ScanWorker& w = initEngine(hooks);
    ASSERT_TRUE(w.requestScan(3, {huge}));
    ASSERT_TRUE(scanning.wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // well into its read
    // Windows keeps writers out while the scan reads: there it cannot grow at all.
    std::error_code grown;
    std::filesystem::resize_file(toPath(huge), uint64_t{15} << 40, grown);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto t0 = std::chrono::steady_clock::now();
    if (stop) {
      w.stop();
    } else {
      w.cancelScan();
      ASSERT_TRUE(waitIdle(w));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_FALSE(w.scanRunning());
    EXPECT_EQ(w.progress().phase, L"cancelled");
    EXPECT_EQ(w.lastSummary().filesScanned, 0u);
    engine_.reset();
    Logger::instance().close();
  }
  std::filesystem::resize_file(toPath(huge), 0);
}

TEST_F(ScanWorkerTest, DecisionsTouchOnlyFilesTheEngineReported) {
  writeSettings();
  ScanWorker& w = initEngine();
  scanCorpus(w);
  ASSERT_EQ(w.detections().size(), 1u);
  const DetectionRecord d = w.detections()[0];
  const auto decide = [&](const std::wstring& path, uint32_t action, std::string* error) {
    ThreatDecision t{path, action, d.threatName, d.secondText,
                     static_cast<uint32_t>(d.level), d.size, ""};
    return w.decideThreat(t, error);
  };
  // Clients refetch the quarantine list when its generation moves: it must move with every
  // change, and a decision that leaves the file alone must not cost them a fetch.
  uint64_t generation = w.quarantineGeneration();
  EXPECT_NE(generation, 0u);  // 0 is what an older service reports
  const auto generationMoved = [&] {
    const uint64_t now = w.quarantineGeneration();
    return std::exchange(generation, now) != now;
  };

  // Paths the engine never reported, whatever the action.
  const std::wstring victim = dir_.file(L"important.dll");
  test::writeFile(victim, "someone else's file");
  for (const auto& path : {tool_, victim, dropper_ + L"x", std::wstring()}) {
    for (uint32_t action : {1u, 2u, 3u}) {
      SCOPED_TRACE(toUtf8(path) + " action " + std::to_string(action));
      std::string error;
      EXPECT_FALSE(decide(path, action, &error));
      EXPECT_EQ(error, "no such detection");
    }
  }
  EXPECT_TRUE(pathExists(tool_));
  EXPECT_TRUE(pathExists(victim));
  EXPECT_TRUE(w.quarantineList().empty());

  std::string error;
  EXPECT_TRUE(decide(dropper_, 3, &error)) << error;  // leave it alone
  EXPECT_TRUE(pathExists(dropper_));
  EXPECT_FALSE(generationMoved());

  // The file at the reported path is no longer the one judged.
  const std::string original = test::readFile(dropper_);
  test::writeFile(dropper_, "another file put in its place");
  EXPECT_FALSE(decide(dropper_, 1, &error));
  EXPECT_EQ(error, "file changed since detection");
  test::writeFile(dropper_, std::string(original.size(), 'x'));  // same size, other bytes
  EXPECT_FALSE(decide(dropper_, 2, &error));
  EXPECT_TRUE(pathExists(dropper_));
  EXPECT_TRUE(w.quarantineList().empty());
  test::writeFile(dropper_, original);

  ASSERT_TRUE(decide(dropper_, 1, &error)) << error;
  EXPECT_FALSE(pathExists(dropper_));
  EXPECT_TRUE(generationMoved());
  auto list = w.quarantineList();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].originPath, dropper_);
  EXPECT_EQ(list[0].threat, "Test.Dropper.A");
  EXPECT_EQ(list[0].code, "SIG.MATCH");
  EXPECT_EQ(list[0].sha256, d.secondText);
  EXPECT_NE(log().find("[INF] quarantined: " + toUtf8(dropper_) + "\n"), std::string::npos);

  ASSERT_TRUE(w.quarantineRestore(list[0].id, &error)) << error;
  EXPECT_EQ(test::readFile(dropper_), original);
  EXPECT_TRUE(generationMoved());
  EXPECT_FALSE(w.quarantineDelete(list[0].id, &error));
  EXPECT_EQ(error, "record not found");
}

TEST_F(ScanWorkerTest, RealTimeDetectionsAreDeliveredOnceAndDecidedOnce) {
  writeSettings();
  ScanWorker& w = initEngine();
  const std::wstring path = inCorpus(L"fresh.exe");
  const std::string bytes = test::readFile(dropper_);
  test::writeFile(path, bytes);
  const auto db = w.database();
  w.addRealTimeDetection(evaluateFile(path, db.get(), {}));

  const auto first = w.takeRealTimeDetections();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].path, path);
  EXPECT_TRUE(w.takeRealTimeDetections().empty());

  ThreatDecision t{path, 2, first[0].threatName, first[0].secondText,
                   static_cast<uint32_t>(first[0].level), first[0].size, ""};
  std::string error;
  ASSERT_TRUE(w.decideThreat(t, &error)) << error;
  EXPECT_FALSE(pathExists(path));
  EXPECT_TRUE(w.quarantineList().empty());
  EXPECT_NE(log().find("[INF] deleted: " + toUtf8(path) + "\n"), std::string::npos);

  // Decided: the same path is not the engine's to touch any more.
  test::writeFile(path, bytes);
  EXPECT_FALSE(w.decideThreat(t, &error));
  EXPECT_EQ(error, "no such detection");
  EXPECT_TRUE(pathExists(path));
}

TEST_F(ScanWorkerTest, RealTimeCheckBlocksHighLevelFilesAndReportsThem) {
  writeSettings();
  ScanWorker& w = initEngine();
  EXPECT_FALSE(w.realTimeCheck(dropper_));
  EXPECT_TRUE(w.realTimeCheck(tool_));
  EXPECT_TRUE(w.realTimeCheck(inCorpus(L"missing.exe")));
  const auto reported = w.takeRealTimeDetections();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].path, dropper_);
}

TEST_F(ScanWorkerTest, OneShotUpdatesRefuseASecondRunAndKeepTheirError) {
  writeSettings();
  Gate entered, release;
  EngineHooks hooks;
  hooks.liveUpdate = [&](LiveUpdateAccess&, std::string* error) {
    entered.open();
    release.wait();
    *error = "all feeds unavailable";
    return false;
  };
  ScanWorker& w = initEngine(hooks);
  std::string error;
  ASSERT_TRUE(w.startLiveUpdate(&error)) << error;
  ASSERT_TRUE(entered.wait());
  EXPECT_TRUE(w.liveUpdateRunning());
  EXPECT_FALSE(w.startLiveUpdate(&error));
  EXPECT_EQ(error, "обновление уже выполняется");
  release.open();
  EXPECT_TRUE(test::waitUntil([&] { return !w.liveUpdateRunning(); }));
  EXPECT_EQ(w.lastLiveUpdateError(), "all feeds unavailable");
  engine_.reset();
}

TEST_F(ScanWorkerTest, RealTimeHooksJudgeAndReportThroughTheirView) {
  for (const bool withDatabase : {true, false}) {
    SCOPED_TRACE(withDatabase ? "with a database" : "without a database");
    if (!withDatabase) removeFile(dbPath_);
    writeSettings();
    Gate watched;
    bool hadScanner = false, filtered = false, blocked = false;
    int disconnects = 0;
    EngineHooks hooks;
    hooks.connectMinifilter = [&](RealTimeAccess& rt, std::string*) {
      blocked = !rt.realTimeCheck(dropper_);  // the kernel path's question
      return true;
    };
    hooks.disconnectMinifilter = [&] { ++disconnects; };
    hooks.realTimeWatch = [&](RealTimeAccess& rt) {
      const auto scanner = rt.makeScanner();
      hadScanner = scanner != nullptr;
      if (scanner) {
        filtered = scanner->shouldScan(dropper_) && !scanner->shouldScan(inCorpus(L"notes.txt"));
        rt.addRealTimeDetection(scanner->evaluate(dropper_));
      }
      watched.open();
      while (!rt.waitForStop(60'000)) {
      }
      EXPECT_TRUE(rt.stopping());
    };
    ScanWorker& w = initEngine(hooks);
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(watched.wait());
    EXPECT_EQ(hadScanner, withDatabase);
    EXPECT_EQ(filtered, withDatabase);
    EXPECT_EQ(blocked, withDatabase);
    const auto reported = w.takeRealTimeDetections();
    // The kernel path and the watcher both reported the file: it waits for a client once.
    EXPECT_EQ(reported.size(), withDatabase ? 1u : 0u);
    for (const auto& r : reported) EXPECT_EQ(r.path, dropper_);
    w.stop();
    EXPECT_EQ(disconnects, 1);
    EXPECT_NE(log().find("[INF] minifilter connected, kernel protection active\n"),
              std::string::npos);
    engine_.reset();
  }
}

TEST_F(ScanWorkerTest, UpdateHooksReachSettingsSignaturesAndTheInstallerThroughTheirViews) {
  writeSettings();
  EngineHooks hooks;
  hooks.liveUpdate = [&](LiveUpdateAccess& live, std::string* error) {
    EXPECT_EQ(live.liveDatabasePath(), inData(L"signatures.live.txt"));
    EXPECT_EQ(live.unixMs(), kNowMs);
    EXPECT_EQ(live.snapshotConfig().signatureDb, dbPath_);
    test::writeFile(live.liveDatabasePath(), hash::sha256File(tool_, 65536) + "\n");
    return live.reloadSignatures(error) && live.recordLiveUpdate(error);
  };
  std::wstring offered;
  hooks.selfUpdate = [&](SelfUpdateAccess& self, std::string* error) {
    EXPECT_EQ(self.dataFolder(), data_);
    if (offered.empty()) {
      *error = "no update server";
      return false;
    }
    self.setDownloadedInstaller(offered);
    return true;
  };
  ScanWorker& w = initEngine(hooks);

  std::string error;
  ASSERT_TRUE(w.startLiveUpdate(&error)) << error;
  ASSERT_TRUE(test::waitUntil([&] { return !w.liveUpdateRunning(); }));
  EXPECT_EQ(w.lastLiveUpdateError(), "");
  EXPECT_EQ(w.database()->info().count, 2u);
  EXPECT_EQ(w.snapshotConfig().lastLiveUpdateUtc, kNowMs / 1000);
  EXPECT_EQ(savedSettings().lastLiveUpdateUtc, kNowMs / 1000);

  offered = data_ + pathSeparator() + L"updates" + pathSeparator() + L"ZorvekSetup-9.9.exe";
  ASSERT_TRUE(w.startSelfUpdate(&error)) << error;
  ASSERT_TRUE(test::waitUntil([&] { return !w.selfUpdateRunning(); }));
  EXPECT_EQ(w.downloadedInstaller(), offered);
  EXPECT_EQ(w.lastSelfUpdateError(), "");
  // A later check that fails forgets the earlier installer.
  offered.clear();
  ASSERT_TRUE(w.startSelfUpdate(&error)) << error;
  ASSERT_TRUE(test::waitUntil([&] { return !w.selfUpdateRunning(); }));
  EXPECT_EQ(w.downloadedInstaller(), L"");
  EXPECT_EQ(w.lastSelfUpdateError(), "no update server");
}

}  // namespace
}  // namespace zorvek::svc
