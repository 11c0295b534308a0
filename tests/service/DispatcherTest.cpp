#include "service/main/Dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "TestUtil.h"
#include "common/Frame.h"
#include "common/Logger.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Wire.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/QuarantineStore.h"

namespace zorvek::svc {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = dir_.file(L"data");
    dataDir_.emplace(L"ZORVEK_DATA_DIR", data_);
    ASSERT_TRUE(createDirectories(data_));
    corpus_ = dir_.file(L"corpus");
    ASSERT_TRUE(createDirectories(corpus_));
    eicar_ = corpus_ + pathSeparator() + L"eicar.com";
    test::writeFile(eicar_, test::kEicar);
    test::writeFile(corpus_ + pathSeparator() + L"readme.txt", "hello");
    ServiceConfig config;
    config.signatureDb = test::sourcePath(L"data/signatures.seed.txt");
    config.updateServer = "https://updates.example";
    config.scheduledScan = false;
    config.realTimeEnabled = false;
    config.webShield = false;
    config.liveUpdates = false;
    ASSERT_TRUE(config.save(data_ + pathSeparator() + L"settings.ini"));
    engine_ = std::make_unique<ScanWorker>(EngineOptions{data_, nullptr, {}});
    std::string error;
    ASSERT_TRUE(engine_->init(&error)) << error;
    DispatcherOptions options;
    options.requestStop = [this] { ++stopRequests_; };
    options.minifilterRegistered = [this] { return minifilter_; };
    options.notificationOverflows = [this] { return overflows_; };
    options.firewall.status = [this]() -> std::string {
      if (firewallThrows_) throw std::runtime_error("boom");
      return firewallText_;
    };
    options.firewall.request = [this](uint32_t opcode, const std::string& argument) {
      firewallRequests_.push_back(std::to_string(opcode) + " " + argument);
      return ipc::FirewallReply{opcode != ipc::kOpFirewallRemoveRules, "answer " + argument};
    };
    dispatcher_ = std::make_unique<Dispatcher>(*engine_, options);
  }
  void TearDown() override {
    dispatcher_.reset();
    engine_.reset();
    Logger::instance().close();
  }

  // An unprivileged caller is this test process's own user.
  Reply call(uint32_t opcode, std::string_view payload = {}, bool privileged = false) {
    return dispatcher_->handle(
        opcode, payload,
        {[privileged] { return privileged; }, [] { return ClientIdentity::ofCurrentProcess(); }});
  }
  std::string errorOf(const Reply& r) {
    EXPECT_EQ(r.opcode, ipc::kOpError);
    return ipc::errorReplyText(r.payload);
  }
  ipc::ConfigPayload config() {
    ipc::ConfigPayload c;
    const Reply r = call(ipc::kOpGetConfig);
    EXPECT_EQ(r.opcode, ipc::kOpGetConfig);
    EXPECT_TRUE(ipc::decodeConfigPayload(r.payload, c));
    return c;
  }
  ipc::ProgressReply waitForScan() {
    ipc::ProgressReply p;
    for (int i = 0; i < 400; ++i) {
      const Reply r = call(ipc::kOpProgress);
      EXPECT_TRUE(ipc::decodeProgressReply(r.payload, p));
      if (!p.scanRunning) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return p;
  }

  test::TempDir dir_;
  std::optional<test::ScopedEnvironment> dataDir_;  // put back after TearDown
  std::wstring data_, corpus_, eicar_;
  std::unique_ptr<ScanWorker> engine_;
  std::unique_ptr<Dispatcher> dispatcher_;
  int stopRequests_ = 0;
  bool minifilter_ = false;
  uint64_t overflows_ = 0;
  bool firewallThrows_ = false;
  std::string firewallText_ = "profiles: on";
  std::vector<std::string> firewallRequests_;
};

TEST_F(DispatcherTest, RefusedRequestsGiveTheirErrorTexts) {
  const std::string scopeOnly = ipc::encodeU32Payload(3);
  const struct {
    uint32_t opcode;
    std::string payload;
    const char* error;
  } cases[] = {
      {0, "", "unsupported opcode 0"},
      {22, "", "unsupported opcode 22"},
      {0xFFFFFFFE, "", "unsupported opcode 4294967294"},
      {ipc::kOpStartScan, scopeOnly, "malformed StartScan payload"},
      {ipc::kOpThreatDecision, "\x01", "malformed ThreatDecision payload"},
      {ipc::kOpQuarantineDelete, "abc", "malformed quarantine id"},
      {ipc::kOpQuarantineRestore, "", "malformed quarantine id"},
      {ipc::kOpQuarantineRestore, ipc::encodeU64Payload(42), "access denied"},
      {ipc::kOpQuarantineDelete, ipc::encodeU64Payload(42), "access denied"},
      {ipc::kOpSetConfig, "\x01\x00\x00", "malformed SetConfig payload"},
      {ipc::kOpFirewallSetProfile, "xy", "malformed firewall payload"},
      {ipc::kOpLiveUpdate, "", "live update is not built yet"},
      {ipc::kOpSelfUpdate, "", "self-update is not built yet"},
      {ipc::kOpShutdown, "", "access denied"},
      {ipc::kOpThreatDecision,
       ipc::encodeThreatDecisionRequest({L"/etc/passwd", 2, "x", "", 4, 1, ""}), "no such detection"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.opcode) + " " + c.error);
    const Reply r = call(c.opcode, c.payload);
    EXPECT_EQ(errorOf(r), c.error);
    EXPECT_FALSE(r.endSession);
  }
  EXPECT_EQ(stopRequests_, 0);
  EXPECT_EQ(errorOf(call(ipc::kOpQuarantineRestore, ipc::encodeU64Payload(42), true)),
            "record not found");
}

TEST_F(DispatcherTest, HandlerExceptionBecomesInternalError) {
  firewallThrows_ = true;
  EXPECT_EQ(errorOf(call(ipc::kOpFirewallStatus)), "internal error: boom");
  firewallThrows_ = false;
  const Reply r = call(ipc::kOpFirewallStatus);
  EXPECT_EQ(r.opcode, ipc::kOpFirewallStatus);
  EXPECT_EQ(r.payload, "profiles: on");  // raw text, no length prefix
}

// Status is for everybody; changes act with the service's rights, so they need a client that has
// them. The payload is checked first either way.
TEST_F(DispatcherTest, FirewallChangesOnlyFromPrivilegedClient) {
  const std::string denied = ipc::encodeFirewallReply(
      {false, "требуются права администратора (код 0x80070005)"});
  const struct {
    uint32_t opcode;
    std::string payload;
    const char* forwarded;
    ipc::FirewallReply reply;
  } cases[] = {
      {ipc::kOpFirewallSetProfile, ipc::encodeStringPayload("private,0"), "17 private,0",
       {true, "answer private,0"}},
      {ipc::kOpFirewallBlockInbound, ipc::encodeStringPayload("1"), "18 1", {true, "answer 1"}},
      {ipc::kOpFirewallAppRule, ipc::encodeStringPayload("allow|in|C:\\a.exe"),
       "19 allow|in|C:\\a.exe", {true, "answer allow|in|C:\\a.exe"}},
      {ipc::kOpFirewallAppRule, "", "19 ", {true, "answer "}},
      {ipc::kOpFirewallRemoveRules, "", "20 ", {false, "answer "}},
      {ipc::kOpFirewallRemoveRules, "ignored, not even a string", "20 ", {false, "answer "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.forwarded);
    firewallRequests_.clear();
    Reply r = call(c.opcode, c.payload, false);
    EXPECT_EQ(r.opcode, c.opcode);
    EXPECT_EQ(r.payload, denied);
    EXPECT_TRUE(firewallRequests_.empty());
    r = call(c.opcode, c.payload, true);
    EXPECT_EQ(r.opcode, c.opcode);
    EXPECT_EQ(r.payload, ipc::encodeFirewallReply(c.reply));
    EXPECT_EQ(firewallRequests_, std::vector<std::string>{c.forwarded});
  }
  int asked = 0;
  const Reply status = dispatcher_->handle(ipc::kOpFirewallStatus, {},
                                           {[&asked] {
                                              ++asked;
                                              return false;
                                            },
                                            {}});
  EXPECT_EQ(status.payload, "profiles: on");
  EXPECT_EQ(asked, 0);
  const std::string log = test::readFile(data_ + pathSeparator() + L"zorvek.log");
  EXPECT_NE(log.find("[WRN] firewall change refused: the client is not privileged"),
            std::string::npos)
      << log;
}

// A payload that is not exactly one string never reaches the firewall, whoever sends it.
TEST_F(DispatcherTest, MalformedFirewallPayloadsAreRefused) {
  const std::string one = ipc::encodeStringPayload("1");
  const struct {
    const char* what;
    std::string payload;
  } cases[] = {
      {"length cut short", std::string("\x05", 1)},
      {"length past the end", std::string("\x0a\x00\x00\x00", 4) + "abc"},
      {"huge length", std::string("\xff\xff\xff\xff", 4) + "xyz"},
      {"bytes after the string", one + "!"},
      {"two strings", one + one},
  };
  for (const uint32_t opcode :
       {ipc::kOpFirewallSetProfile, ipc::kOpFirewallBlockInbound, ipc::kOpFirewallAppRule}) {
    for (const auto& c : cases) {
      for (const bool privileged : {false, true}) {
        SCOPED_TRACE(std::to_string(opcode) + " " + c.what + (privileged ? " privileged" : ""));
        const Reply r = call(opcode, c.payload, privileged);
        EXPECT_EQ(errorOf(r), "malformed firewall payload");
        EXPECT_FALSE(r.endSession);
      }
    }
  }
  EXPECT_TRUE(firewallRequests_.empty());
}

TEST_F(DispatcherTest, ShutdownOnlyFromPrivilegedClient) {
  Reply r = call(ipc::kOpShutdown, {}, false);
  EXPECT_EQ(errorOf(r), "access denied");
  EXPECT_EQ(stopRequests_, 0);
  r = call(ipc::kOpShutdown, {}, true);
  EXPECT_EQ(r.opcode, ipc::kOpShutdown);
  EXPECT_TRUE(r.payload.empty());
  EXPECT_TRUE(r.endSession);
  EXPECT_TRUE(r.stopService);
  EXPECT_EQ(stopRequests_, 0);  // the session stops the service once the reply is out
  dispatcher_->stopService();
  EXPECT_EQ(stopRequests_, 1);
}

TEST_F(DispatcherTest, SetConfigKeepsPathsAndUpdateServerAndReducesHour) {
  const ipc::ConfigPayload before = config();
  ipc::ConfigPayload next = before;
  next.signatureDb.clear();
  next.quarantineDir.clear();
  next.scheduledHour = 30;
  next.scanArchives = true;
  // Where updates come from is the administrator's: a user's address would let it choose the
  // installer the service downloads and the lines it writes into hosts.
  next.updateServer = "http://attacker.example";
  const Reply r = call(ipc::kOpSetConfig, ipc::encodeConfigPayload(next));
  ASSERT_EQ(r.opcode, ipc::kOpSetConfig) << ipc::errorReplyText(r.payload);
  const ipc::ConfigPayload after = config();
  EXPECT_EQ(after.scheduledHour, 6u);
  EXPECT_TRUE(after.scanArchives);
  EXPECT_EQ(after.signatureDb, before.signatureDb);
  EXPECT_EQ(after.quarantineDir, before.quarantineDir);
  EXPECT_EQ(engine_->snapshotConfig().updateServer, "https://updates.example");
  // And it is on disk.
  ServiceConfig saved;
  ASSERT_TRUE(saved.load(data_ + pathSeparator() + L"settings.ini"));
  EXPECT_EQ(saved.scheduledHour, 6u);
  EXPECT_EQ(saved.updateServer, "https://updates.example");
}

TEST_F(DispatcherTest, PathChangesNeedAPrivilegedClient) {
  const ipc::ConfigPayload before = config();
  const std::wstring elsewhere = dir_.file(L"elsewhere");
  const struct {
    const char* name;
    bool signatures;
  } fields[] = {{"SignatureDb", true}, {"QuarantineDir", false}};
  for (const auto& f : fields) {
    SCOPED_TRACE(f.name);
    ipc::ConfigPayload next = before;
    next.protectionEnabled = false;
    (f.signatures ? next.signatureDb : next.quarantineDir) = elsewhere;
    EXPECT_EQ(errorOf(call(ipc::kOpSetConfig, ipc::encodeConfigPayload(next), false)),
              "access denied");
    EXPECT_EQ(config(), before);  // nothing changed, not even the switch
    // The current path itself is no change.
    ipc::ConfigPayload same = before;
    same.scanRemovable = !before.scanRemovable;
    EXPECT_EQ(call(ipc::kOpSetConfig, ipc::encodeConfigPayload(same), false).opcode,
              ipc::kOpSetConfig);
    EXPECT_EQ(call(ipc::kOpSetConfig, ipc::encodeConfigPayload(before), false).opcode,
              ipc::kOpSetConfig);
  }
  ipc::ConfigPayload next = before;
  next.quarantineDir = elsewhere;
  EXPECT_EQ(call(ipc::kOpSetConfig, ipc::encodeConfigPayload(next), true).opcode, ipc::kOpSetConfig);
  EXPECT_EQ(config().quarantineDir, elsewhere);
}

TEST_F(DispatcherTest, ScanDecideAndQuarantineThroughRequests) {
  Reply r = call(ipc::kOpHello);
  ipc::HelloReply hello;
  ASSERT_TRUE(ipc::decodeHelloReply(r.payload, hello));
  EXPECT_EQ(hello.version, "1.2.0");
  EXPECT_GT(hello.signatureCount, 0u);
  EXPECT_FALSE(hello.scanRunning);

  ipc::StartScanRequest scan{ipc::ScanScope::Paths, {corpus_}};
  r = call(ipc::kOpStartScan, ipc::encodeStartScanRequest(scan));
  ASSERT_EQ(r.opcode, ipc::kOpStartScan) << ipc::errorReplyText(r.payload);
  const ipc::ProgressReply p = waitForScan();
  EXPECT_FALSE(p.scanRunning);
  EXPECT_EQ(p.progress.phase, L"finished");
  EXPECT_EQ(p.summary.threats, 1u);

  r = call(ipc::kOpScanDetections);
  std::vector<ipc::DetectionRecord> found;
  ASSERT_TRUE(ipc::decodeDetectionList(r.payload, found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, eicar_);
  EXPECT_FALSE(found[0].findings.empty());

  // The texts of a decision are the client's: the quarantine record keeps the engine's own.
  ipc::ThreatDecisionRequest decision{eicar_, 3, "Forged.Name", found[0].secondText, 0,
                                      found[0].size, found[0].detail};
  EXPECT_EQ(call(ipc::kOpThreatDecision, ipc::encodeThreatDecisionRequest(decision)).opcode,
            ipc::kOpThreatDecision);
  EXPECT_TRUE(std::filesystem::exists(toPath(eicar_)));

  decision.action = 1;
  r = call(ipc::kOpThreatDecision, ipc::encodeThreatDecisionRequest(decision));
  ASSERT_EQ(r.opcode, ipc::kOpThreatDecision) << ipc::errorReplyText(r.payload);
  EXPECT_FALSE(std::filesystem::exists(toPath(eicar_)));

  // Hello tells clients that the quarantine changed.
  ipc::HelloReply after;
  ASSERT_TRUE(ipc::decodeHelloReply(call(ipc::kOpHello).payload, after));
  EXPECT_NE(hello.quarantineGeneration, 0u);
  EXPECT_NE(after.quarantineGeneration, hello.quarantineGeneration);

  std::vector<ipc::QuarantineRecord> list;
  ASSERT_TRUE(ipc::decodeQuarantineList(call(ipc::kOpQuarantineList).payload, list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].originPath, eicar_);
  EXPECT_EQ(list[0].threat, found[0].threatName);
  EXPECT_EQ(list[0].severity, found[0].level);
  // Putting it back, or deleting it for good, is for privileged clients only.
  for (const uint32_t op : {ipc::kOpQuarantineRestore, ipc::kOpQuarantineDelete}) {
    EXPECT_EQ(errorOf(call(op, ipc::encodeU64Payload(list[0].id))), "access denied");
  }
  EXPECT_FALSE(std::filesystem::exists(toPath(eicar_)));
  r = call(ipc::kOpQuarantineRestore, ipc::encodeU64Payload(list[0].id), true);
  ASSERT_EQ(r.opcode, ipc::kOpQuarantineRestore) << ipc::errorReplyText(r.payload);
  EXPECT_EQ(test::readFile(eicar_), test::kEicar);

  EXPECT_EQ(call(ipc::kOpCancelScan).opcode, ipc::kOpCancelScan);
  EXPECT_EQ(call(ipc::kOpUpdateSignatures).opcode, ipc::kOpUpdateSignatures);
  uint32_t tick = 0;
  EXPECT_TRUE(ipc::decodeU32Payload(call(ipc::kOpPing).payload, tick));
}

TEST_F(DispatcherTest, HelloCarriesRealTimeStateAsItIsNow) {
  const auto hello = [&] {
    ipc::HelloReply h;
    EXPECT_TRUE(ipc::decodeHelloReply(call(ipc::kOpHello).payload, h));
    return h;
  };
  EXPECT_FALSE(hello().minifilter);
  EXPECT_EQ(hello().notificationOverflows, 0u);
  minifilter_ = true;
  overflows_ = 3;
  EXPECT_TRUE(hello().minifilter);
  EXPECT_EQ(hello().notificationOverflows, 3u);
}

TEST_F(DispatcherTest, ScanRequestsRefusedByTheEngine) {
  ipc::ConfigPayload off = config();
  off.protectionEnabled = false;
  off.signatureDb.clear();
  off.quarantineDir.clear();
  ASSERT_EQ(call(ipc::kOpSetConfig, ipc::encodeConfigPayload(off)).opcode, ipc::kOpSetConfig);
  const ipc::StartScanRequest scan{ipc::ScanScope::Memory, {}};
  EXPECT_EQ(errorOf(call(ipc::kOpStartScan, ipc::encodeStartScanRequest(scan))),
            "protection is disabled");
}

// The pipe server over this dispatcher, on a pipe of its own, with short session bounds.
class SessionTest : public DispatcherTest {
 protected:
  void SetUp() override {
    DispatcherTest::SetUp();
    static int counter = 0;
    pipe_ = pathSeparator() == L'\\'
                ? L"\\\\.\\pipe\\ZorvekSession-" + std::to_wstring(currentProcessId()) + L"-" +
                      std::to_wstring(counter++)
                : dir_.file(L"session.sock");
  }
  void TearDown() override {
    stopServer();
    sessionDispatcher_.reset();
    DispatcherTest::TearDown();
  }
  // Serves on a thread; Shutdown sets the flag and the event, as the service's does.
  void startServer(ipc::SessionLimits limits) {
    DispatcherOptions options;
    options.requestStop = [this] {
      stopping_.store(true);
      stop_.set();
    };
    options.firewall.status = [this] { return firewallText_; };
    sessionDispatcher_ = std::make_unique<Dispatcher>(*engine_, options);
    server_ = std::make_unique<ipc::PipeServer>(pipe_);
    ASSERT_TRUE(server_->listen());
    thread_ = std::thread([this, limits] {
      runPipeServer(*server_, stop_, stopping_, *sessionDispatcher_, limits);
    });
  }
  void stopServer() {
    stopping_.store(true);
    stop_.set();
    if (thread_.joinable()) thread_.join();
  }
  ipc::PipeHandle connect() {
    std::string error;
    ipc::PipeHandle p = ipc::connectPipe(pipe_, &error);
    EXPECT_TRUE(p) << error;
    return p;
  }
  bool ping() {
    ipc::PipeHandle p = connect();
    uint32_t opcode = 0;
    std::string reply, error;
    return p && ipc::exchange(p, ipc::kOpPing, "", opcode, reply, &error, 5000) &&
           opcode == ipc::kOpPing;
  }
  static std::string frame(uint32_t opcode, std::string_view payload = {}) {
    const ipc::FrameHeader h = ipc::encodeFrameHeader(opcode, static_cast<uint32_t>(payload.size()));
    return std::string(h.begin(), h.end()) + std::string(payload);
  }
  size_t logCount(std::string_view text) {
    const std::string log = test::readFile(data_ + pathSeparator() + L"zorvek.log");
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  std::wstring pipe_;
  Event stop_;
  std::atomic<bool> stopping_{false};
  std::unique_ptr<Dispatcher> sessionDispatcher_;
  std::unique_ptr<ipc::PipeServer> server_;
  std::thread thread_;
};

// One stalled client at a time holds the service only until its bound runs out; then the next
// client is served, and only the stalls midway leave a status line.
TEST_F(SessionTest, StalledClientsEndAtTheirBoundsAndLetTheNextIn) {
  startServer({300, 300, 300});
  firewallText_ = std::string(4 << 20, 'f');  // more than the pipe buffers hold
  const struct {
    const char* what;
    std::string sent;
    const char* line;  // nullptr: the session ends without one
  } cases[] = {
      {"silent", "", nullptr},
      {"half a header", frame(ipc::kOpHello).substr(0, 10), "request read failed: timed out"},
      {"reply never read", frame(ipc::kOpFirewallStatus), "reply write failed: timed out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ipc::PipeHandle stalled = connect();
    std::string error;
    if (!c.sent.empty()) {
      ASSERT_TRUE(ipc::writeRaw(stalled, c.sent, &error)) << error;
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ping());  // waits for the stalled session to end
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    if (c.line) {
      EXPECT_EQ(logCount(c.line), 1u);
    }
  }
  EXPECT_EQ(logCount("request read failed"), 1u);
  EXPECT_EQ(logCount("reply write failed"), 1u);
}

TEST_F(SessionTest, AClientThatKeepsAskingKeepsItsSession) {
  startServer({400, 400, 400});
  ipc::PipeHandle p = connect();
  for (int i = 0; i < 6; ++i) {  // three times the idle bound in all
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint32_t opcode = 0;
    std::string reply, error;
    ASSERT_TRUE(ipc::exchange(p, ipc::kOpPing, "", opcode, reply, &error)) << i << ": " << error;
  }
  EXPECT_EQ(logCount("client connected"), 1u);
}

// The stop that Shutdown causes must not throw its reply away before a slow client reads it.
TEST_F(SessionTest, ShutdownReplyReachesAClientThatReadsLate) {
  startServer({});
  ipc::PipeHandle p = connect();
  std::string error;
  ASSERT_TRUE(ipc::writeRaw(p, frame(ipc::kOpShutdown), &error)) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Event never;
  uint32_t opcode = 0;
  std::string reply;
  ASSERT_TRUE(ipc::readFrame(p, never, opcode, reply, &error)) << error;
  if (opcode == ipc::kOpError && ipc::errorReplyText(reply) == "access denied")
    GTEST_SKIP() << "this system does not let the server identify the pipe client";
  EXPECT_EQ(opcode, ipc::kOpShutdown);
  p.reset();
  thread_.join();  // the server returned by itself
  EXPECT_TRUE(stopping_.load());
}

TEST_F(DispatcherTest, StartScanRefusesTooManyPathsBeforeKeepingAny) {
  const std::string frameOfEmptyPaths =
      ipc::WireWriter().u32(3).u32((ipc::kMaxPayloadSize - 8) / 4).take() +
      std::string(ipc::kMaxPayloadSize - 8, '\0');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(errorOf(call(ipc::kOpStartScan, frameOfEmptyPaths)), "too many scan paths");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(engine_->scanRunning());
}

TEST_F(DispatcherTest, QuarantineListCarriesTheNewestRecords) {
  const size_t total = kMaxQuarantineReply + 25;
  std::vector<QuarantineRecord> records(total);
  for (size_t i = 0; i < total; ++i) {
    records[i].id = i + 1;
    records[i].originPath = L"/x/" + std::to_wstring(i);
    records[i].storedPath = L"/q/" + std::to_wstring(i);
    records[i].name = L"f";
    records[i].sha256 = std::string(64, 'a');
  }
  QuarantineStore store(engine_->snapshotConfig().quarantineDir);
  ASSERT_TRUE(store.save(records));
  std::vector<ipc::QuarantineRecord> list;
  ASSERT_TRUE(ipc::decodeQuarantineList(call(ipc::kOpQuarantineList).payload, list));
  ASSERT_EQ(list.size(), kMaxQuarantineReply);
  EXPECT_EQ(list.front().id, 26u);
  EXPECT_EQ(list.back().id, total);
  call(ipc::kOpQuarantineList);
  const std::string log = test::readFile(data_ + pathSeparator() + L"zorvek.log");
  const std::string warning = "quarantine list reply full: 10000 of 10025 records sent";
  EXPECT_NE(log.find(warning), std::string::npos) << log;
  EXPECT_EQ(log.find(warning), log.rfind(warning));  // once
}

}  // namespace
}  // namespace zorvek::svc
