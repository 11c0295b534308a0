#include "gui/model/SessionClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "Recorders.h"
#include "ScriptedPipeServer.h"
#include "TestUtil.h"
#include "common/Wire.h"

namespace zorvek::gui {
namespace {

using Server = zorvek::test::ScriptedPipeServer;
using test::RecordedClient;
using Call = std::function<bool(SessionClient&, std::string*)>;
using namespace std::chrono_literals;

// One well-formed reply per request, and a call that makes the request.
struct Exchange {
  const char* name;
  uint32_t opcode;
  std::string reply;
  Call call;
};

const ipc::ThreatRecord kThreat{L"C:\\Users\\Анна\\eicar.com", "EICAR-Test-File", "SIG.MATCH", 4, 68};

std::vector<Exchange> retriedReads() {
  ipc::HelloReply hello;
  hello.version = "1.2.0";
  ipc::ProgressReply progress;
  progress.detections = {kThreat};
  return {
      {"hello", ipc::kOpHello, ipc::encodeHelloReply(hello),
       [](SessionClient& c, std::string* e) { ipc::HelloReply r; return c.hello(r, e); }},
      {"progress", ipc::kOpProgress, ipc::encodeProgressReply(progress),
       [](SessionClient& c, std::string* e) { ipc::ProgressReply r; return c.progress(r, e); }},
      {"quarantineList", ipc::kOpQuarantineList, ipc::encodeQuarantineList({{}}),
       [](SessionClient& c, std::string* e) {
         std::vector<ipc::QuarantineRecord> r;
         return c.quarantineList(r, e);
       }},
      {"getSettings", ipc::kOpGetConfig, ipc::encodeConfigPayload({}),
       [](SessionClient& c, std::string* e) { Settings s; return c.getSettings(s, e); }},
  };
}

std::vector<Exchange> commands() {
  const std::string fwOk = ipc::encodeFirewallReply({true, ""});
  return {
      {"startScan", ipc::kOpStartScan, "",
       [](SessionClient& c, std::string* e) { return c.startScan(ipc::ScanScope::Quick, {}, e); }},
      {"cancelScan", ipc::kOpCancelScan, "", [](SessionClient& c, std::string* e) { return c.cancelScan(e); }},
      {"decide", ipc::kOpThreatDecision, "",
       [](SessionClient& c, std::string* e) { return c.decide(kThreat, ipc::ThreatAction::Allow, e); }},
      {"quarantineDelete", ipc::kOpQuarantineDelete, "",
       [](SessionClient& c, std::string* e) { return c.quarantineDelete(7, e); }},
      {"quarantineRestore", ipc::kOpQuarantineRestore, "",
       [](SessionClient& c, std::string* e) { return c.quarantineRestore(7, e); }},
      {"setSettings", ipc::kOpSetConfig, "",
       [](SessionClient& c, std::string* e) { return c.setSettings({}, e); }},
      {"updateSignatures", ipc::kOpUpdateSignatures, "",
       [](SessionClient& c, std::string* e) { return c.updateSignatures(e); }},
      {"startLiveUpdate", ipc::kOpLiveUpdate, "",
       [](SessionClient& c, std::string* e) { return c.startLiveUpdate(e); }},
      {"startSelfUpdate", ipc::kOpSelfUpdate, "",
       [](SessionClient& c, std::string* e) { return c.startSelfUpdate(e); }},
      {"firewallStatus", ipc::kOpFirewallStatus, "prof,domain,on\n",
       [](SessionClient& c, std::string* e) { std::string t; return c.firewallStatus(t, e); }},
      {"firewallSetProfile", ipc::kOpFirewallSetProfile, fwOk,
       [](SessionClient& c, std::string* e) { return c.firewallSetProfile("private,1", e); }},
      {"firewallBlockInbound", ipc::kOpFirewallBlockInbound, fwOk,
       [](SessionClient& c, std::string* e) { return c.firewallBlockInbound("1", e); }},
      {"firewallAppRule", ipc::kOpFirewallAppRule, fwOk,
       [](SessionClient& c, std::string* e) { return c.firewallAppRule("allow|in|C:\\a.exe", e); }},
      {"firewallRemoveRules", ipc::kOpFirewallRemoveRules, fwOk,
       [](SessionClient& c, std::string* e) { return c.firewallRemoveRules(e); }},
  };
}

TEST(SessionClientTest, ReadsAreRetriedOnceAfter120Ms) {
  for (const auto& x : retriedReads()) {
    SCOPED_TRACE(x.name);
    Server server({Server::hangUp(), Server::reply(x.opcode, x.reply)});
    RecordedClient rc(server.path());
    std::string error;
    EXPECT_TRUE(x.call(rc.client, &error)) << error;
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(rc.sleeps, std::vector<std::chrono::milliseconds>{120ms});
    ASSERT_EQ(rc.warnings.size(), 1u);
    EXPECT_EQ(rc.warnings[0].rfind("gui: обмен прерван: connection closed", 0), 0u) << rc.warnings[0];
  }
}

TEST(SessionClientTest, CommandsAreNotRetried) {
  for (const auto& x : commands()) {
    SCOPED_TRACE(x.name);
    Server server({Server::hangUp(), Server::reply(x.opcode, x.reply)});
    RecordedClient rc(server.path());
    std::string error;
    EXPECT_FALSE(x.call(rc.client, &error));
    EXPECT_EQ(error.rfind("connection closed", 0), 0u) << error;
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(rc.sleeps.empty());
    // The same request answered works.
    Server answering({Server::reply(x.opcode, x.reply)});
    RecordedClient ok(answering.path());
    EXPECT_TRUE(x.call(ok.client, &error)) << error;
    ASSERT_EQ(answering.requests().size(), 1u);
    EXPECT_EQ(answering.requests()[0].opcode, x.opcode);
  }
}

TEST(SessionClientTest, FailedReadsReportTheSecondAttempt) {
  const struct {
    const char* what;
    Server::Step first, second;
    std::string error;
    size_t requests;
  } cases[] = {
      {"error reply twice", Server::reply(ipc::kOpError, ipc::encodeStringPayload("busy")),
       Server::reply(ipc::kOpError), "service reported an error", 2},
      {"wrong opcode twice", Server::reply(ipc::kOpPing, ipc::encodeU32Payload(1)),
       Server::reply(ipc::kOpProgress), "unexpected reply opcode", 2},
      {"error reply, then wrong opcode", Server::reply(ipc::kOpError, ipc::encodeStringPayload("busy")),
       Server::reply(ipc::kOpPing), "unexpected reply opcode", 2},
      // Malformed replies end at once: the same bytes would come back.
      {"malformed", Server::reply(ipc::kOpHello, "x"), Server::reply(ipc::kOpHello, ipc::encodeHelloReply({})),
       "malformed Hello reply", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server({c.first, c.second});
    RecordedClient rc(server.path());
    ipc::HelloReply hello;
    std::string error;
    EXPECT_FALSE(rc.client.hello(hello, &error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(server.requests().size(), c.requests);
    EXPECT_EQ(rc.sleeps.size(), c.requests - 1);
    // Only the transport's failures are logged.
    EXPECT_TRUE(rc.warnings.empty());
  }
}

TEST(SessionClientTest, AbsentServiceIsLoggedPerAttemptAndReportedWithoutThePrefix) {
  zorvek::test::TempDir dir;
  RecordedClient rc(zorvek::test::unusedPipePath(dir));
  ipc::HelloReply hello;
  std::string error;
  EXPECT_FALSE(rc.client.hello(hello, &error));
  EXPECT_EQ(error.rfind("cannot connect to service pipe (", 0), 0u) << error;
  ASSERT_EQ(rc.warnings.size(), 2u);
  for (const auto& w : rc.warnings) EXPECT_EQ(w, "gui: не удалось подключиться к службе: " + error);
  EXPECT_EQ(rc.sleeps.size(), 1u);
}

TEST(SessionClientTest, TheRetryReallyPauses) {
  Server server({Server::hangUp(), Server::reply(ipc::kOpHello, ipc::encodeHelloReply({}))});
  SessionOptions o;
  o.client.pipe = server.path();
  o.logWarning = [](std::string_view) {};
  SessionClient client(o);
  ipc::HelloReply hello;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.hello(hello));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 120ms);
}

TEST(SessionClientTest, ProgressDetectionsAreBoundedAt100000) {
  // Each all-zero record is a valid empty detection.
  constexpr size_t kZeroRecord = 24;
  const auto reply = [](uint32_t count) {
    return ipc::encodeProgressReply({}).substr(0, ipc::encodeProgressReply({}).size() - 4) +
           ipc::WireWriter().u32(count).take() + std::string(count * kZeroRecord, '\0');
  };
  Server server({Server::reply(ipc::kOpProgress, reply(100000)),
                 Server::reply(ipc::kOpProgress, reply(100001))});
  RecordedClient rc(server.path());
  ipc::ProgressReply progress;
  std::string error;
  ASSERT_TRUE(rc.client.progress(progress, &error)) << error;
  EXPECT_EQ(progress.detections.size(), 100000u);
  EXPECT_FALSE(rc.client.progress(progress, &error));
  EXPECT_EQ(error, "malformed progress reply");
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(SessionClientTest, SettingsTravelWithoutThePaths) {
  Settings onService;
  onService.scheduledHour = 23;
  onService.showThreatModal = false;
  onService.signatureDb = L"D:\\базы\\main.db";
  onService.quarantineDir = L"D:\\Quarantine";
  Server server({Server::reply(ipc::kOpGetConfig, ipc::encodeConfigPayload(onService)),
                 Server::reply(ipc::kOpSetConfig)});
  RecordedClient rc(server.path());
  Settings copy;
  ASSERT_TRUE(rc.client.getSettings(copy));
  EXPECT_EQ(copy.scheduledHour, 23u);
  EXPECT_FALSE(copy.showThreatModal);
  EXPECT_TRUE(copy.signatureDb.empty());
  EXPECT_TRUE(copy.quarantineDir.empty());

  copy.signatureDb = L"C:\\elsewhere.db";  // never leaves the program
  ASSERT_TRUE(rc.client.setSettings(copy));
  Settings sent;
  sent.signatureDb = L"x";
  sent.quarantineDir = L"y";
  ASSERT_TRUE(ipc::decodeConfigPayload(server.requests()[1].payload, sent));
  EXPECT_TRUE(sent.signatureDb.empty());
  EXPECT_TRUE(sent.quarantineDir.empty());
  EXPECT_EQ(sent.scheduledHour, 23u);
}

TEST(SessionClientTest, AFailedSettingsReadLeavesTheCopy) {
  Server server({Server::reply(ipc::kOpGetConfig, "short")});
  RecordedClient rc(server.path());
  Settings copy;
  copy.scheduledHour = 9;
  std::string error;
  EXPECT_FALSE(rc.client.getSettings(copy, &error));
  EXPECT_EQ(error, "malformed settings");
  EXPECT_EQ(copy.scheduledHour, 9u);
}

TEST(SessionClientTest, RequestsCarryWhatTheServiceExpects) {
  Server server({Server::reply(ipc::kOpThreatDecision), Server::reply(ipc::kOpFirewallRemoveRules,
                                                                       ipc::encodeFirewallReply({true, ""})),
                 Server::reply(ipc::kOpFirewallAppRule, ipc::encodeFirewallReply({false, ""})),
                 Server::reply(ipc::kOpFirewallBlockInbound, ipc::encodeFirewallReply({false, "denied"}))});
  RecordedClient rc(server.path());
  ASSERT_TRUE(rc.client.decide(kThreat, ipc::ThreatAction::Quarantine));
  ASSERT_TRUE(rc.client.firewallRemoveRules());
  std::string error;
  EXPECT_FALSE(rc.client.firewallAppRule("block|in|C:\\a.exe", &error));
  EXPECT_EQ(error, "брандмауэр: операция не выполнена");
  EXPECT_FALSE(rc.client.firewallBlockInbound("1", &error));
  EXPECT_EQ(error, "denied");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  ipc::ThreatDecisionRequest decision;
  ASSERT_TRUE(ipc::decodeThreatDecisionRequest(requests[0].payload, decision));
  EXPECT_EQ(decision, (ipc::ThreatDecisionRequest{kThreat.path, 1, kThreat.threatName,
                                                  kThreat.secondText, kThreat.level, kThreat.size, ""}));
  // No length prefix at all, not an empty string.
  EXPECT_EQ(requests[1].payload, "");
  EXPECT_EQ(requests[2].payload, ipc::encodeStringPayload("block|in|C:\\a.exe"));
}

}  // namespace
}  // namespace zorvek::gui
