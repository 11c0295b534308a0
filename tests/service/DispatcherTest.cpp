#include "service/main/Dispatcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "TestUtil.h"
#include "common/Logger.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

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
    options.firewall.status = [this]() -> std::string {
      if (firewallThrows_) throw std::runtime_error("boom");
      return "profiles: on";
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
  bool firewallThrows_ = false;
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

}  // namespace
}  // namespace zorvek::svc
