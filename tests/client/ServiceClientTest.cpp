#include "common/client/ServiceClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "ScriptedPipeServer.h"
#include "TestUtil.h"
#include "common/Frame.h"
#include "common/Wire.h"

namespace zorvek::ipc {
namespace {

using Clock = std::chrono::steady_clock;
using Server = test::ScriptedPipeServer;
using Call = std::function<bool(ServiceClient&, std::string*)>;

constexpr uint32_t kShortTimeoutMs = 300;

ClientOptions optionsFor(const std::wstring& pipe) {
  ClientOptions o;
  o.pipe = pipe;
  o.connectBudgetMs = 400;
  o.replyTimeoutMs = kShortTimeoutMs;
  return o;
}

HelloReply sampleHello() {
  HelloReply h;
  h.version = "1.2.0";
  h.signatureCount = 42;
  h.databaseVersion = "2026.01.02";
  h.protectionEnabled = true;
  h.installerPath = L"C:\\ProgramData\\ZORVEK Antivirus\\updates\\Установщик.exe";
  return h;
}

// More than one transfer chunk, so a bounded read has to go round.
std::vector<QuarantineRecord> manyQuarantineRecords() {
  std::vector<QuarantineRecord> list(3000);
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].id = i + 1;
    list[i].originPath = L"C:\\Users\\Анна\\Загрузки\\файл-" + std::to_wstring(i) + L".exe";
    list[i].sha256 = std::string(64, 'a');
  }
  return list;
}

bool hello(ServiceClient& c, std::string* error) {
  HelloReply h;
  return c.hello(h, error);
}

TEST(ServiceClientTest, EveryCallSendsItsRequestAndReadsItsReply) {
  const HelloReply helloReply = sampleHello();
  ProgressReply progressReply;
  progressReply.scanRunning = true;
  progressReply.detections = {{L"C:\\a.exe", "EICAR", "SIG.MATCH", 4, 68}};
  std::vector<DetectionRecord> detections(2);
  detections[0].path = L"/tmp/eicar.com";
  const std::vector<QuarantineRecord> quarantine = manyQuarantineRecords();
  ConfigPayload settings;
  settings.scheduledHour = 17;
  settings.signatureDb = L"D:\\базы\\main.db";
  const StartScanRequest scan{ScanScope::Paths, {L"C:\\Users", L"D:\\"}};
  const ThreatDecisionRequest decision{L"C:\\a.exe", 1, "EICAR", "SIG.MATCH", 4, 68, ""};
  const FirewallReply firewallOk{true, "правило добавлено"};

  const struct {
    const char* name;
    uint32_t opcode;
    std::string request;
    std::string reply;
    Call call;
  } rows[] = {
      {"hello", kOpHello, "", encodeHelloReply(helloReply),
       [&](ServiceClient& c, std::string* e) {
         HelloReply h;
         return c.hello(h, e) && h == helloReply;
       }},
      {"ping", kOpPing, "", encodeU32Payload(77),
       [](ServiceClient& c, std::string* e) {
         uint32_t ticks = 0;
         return c.ping(ticks, e) && ticks == 77;
       }},
      {"startScan", kOpStartScan, encodeStartScanRequest(scan), "",
       [&](ServiceClient& c, std::string* e) { return c.startScan(scan, e); }},
      {"progress", kOpProgress, "", encodeProgressReply(progressReply),
       [&](ServiceClient& c, std::string* e) {
         ProgressReply p;
         return c.progress(p, e) && p == progressReply;
       }},
      {"cancelScan", kOpCancelScan, "", "",
       [](ServiceClient& c, std::string* e) { return c.cancelScan(e); }},
      {"scanDetections", kOpScanDetections, "", encodeDetectionList(detections),
       [&](ServiceClient& c, std::string* e) {
         std::vector<DetectionRecord> list;
         return c.scanDetections(list, e) && list == detections;
       }},
      {"decide", kOpThreatDecision, encodeThreatDecisionRequest(decision), "",
       [&](ServiceClient& c, std::string* e) { return c.decide(decision, e); }},
      {"quarantineList", kOpQuarantineList, "", encodeQuarantineList(quarantine),
       [&](ServiceClient& c, std::string* e) {
         std::vector<QuarantineRecord> list;
         return c.quarantineList(list, e) && list == quarantine;
       }},
      {"quarantineDelete", kOpQuarantineDelete, encodeU64Payload(7), "",
       [](ServiceClient& c, std::string* e) { return c.quarantineDelete(7, e); }},
      {"quarantineRestore", kOpQuarantineRestore, encodeU64Payload(0x100000002), "",
       [](ServiceClient& c, std::string* e) { return c.quarantineRestore(0x100000002, e); }},
      {"getSettings", kOpGetConfig, "", encodeConfigPayload(settings),
       [&](ServiceClient& c, std::string* e) {
         ConfigPayload s;
         return c.getSettings(s, e) && s == settings;
       }},
      {"setSettings", kOpSetConfig, encodeConfigPayload(settings), "",
       [&](ServiceClient& c, std::string* e) { return c.setSettings(settings, e); }},
      {"updateSignatures", kOpUpdateSignatures, "", "",
       [](ServiceClient& c, std::string* e) { return c.updateSignatures(e); }},
      {"startLiveUpdate", kOpLiveUpdate, "", encodeU32Payload(1),
       [](ServiceClient& c, std::string* e) { return c.startLiveUpdate(e); }},
      {"startSelfUpdate", kOpSelfUpdate, "", encodeU32Payload(1),
       [](ServiceClient& c, std::string* e) { return c.startSelfUpdate(e); }},
      {"firewallStatus", kOpFirewallStatus, "", "domain=1\nprivate=0\n",
       [](ServiceClient& c, std::string* e) {
         std::string text;
         return c.firewallStatus(text, e) && text == "domain=1\nprivate=0\n";
       }},
      {"firewallSetProfile", kOpFirewallSetProfile, encodeStringPayload("public,0"),
       encodeFirewallReply(firewallOk),
       [&](ServiceClient& c, std::string* e) {
         FirewallReply r;
         return c.firewallSetProfile("public,0", r, e) && r == firewallOk;
       }},
      {"firewallBlockInbound", kOpFirewallBlockInbound, encodeStringPayload("1"),
       encodeFirewallReply(firewallOk),
       [](ServiceClient& c, std::string* e) {
         FirewallReply r;
         return c.firewallBlockInbound("1", r, e);
       }},
      {"firewallAppRule", kOpFirewallAppRule, encodeStringPayload("block|in|C:\\x.exe"),
       encodeFirewallReply(firewallOk),
       [](ServiceClient& c, std::string* e) {
         FirewallReply r;
         return c.firewallAppRule("block|in|C:\\x.exe", r, e);
       }},
      // No length prefix at all, not an empty string.
      {"firewallRemoveRules", kOpFirewallRemoveRules, "", encodeFirewallReply(firewallOk),
       [](ServiceClient& c, std::string* e) {
         FirewallReply r;
         return c.firewallRemoveRules(r, e);
       }},
      {"shutdown", kOpShutdown, "", "",
       [](ServiceClient& c, std::string* e) { return c.shutdown(e); }},
  };
  std::vector<Server::Step> script;
  for (const auto& row : rows) script.push_back(Server::reply(row.opcode, row.reply));
  Server server(script);
  ServiceClient client(optionsFor(server.path()));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_TRUE(row.call(client, &error)) << error;
    EXPECT_EQ(client.failure(), CallFailure::None);
  }
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(rows));
  for (size_t i = 0; i < requests.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(requests[i].opcode, rows[i].opcode);
    EXPECT_EQ(requests[i].payload, rows[i].request);
  }
}

std::string header(const char* magic, uint32_t version, uint32_t opcode, uint32_t length) {
  return std::string(magic, 4) + WireWriter().u32(version).u32(opcode).u32(length).u64(0).take();
}

TEST(ServiceClientTest, FailuresSayWhatWentWrong) {
  const FirewallReply refused{false, "доступ запрещён"};
  const Call firewall = [](ServiceClient& c, std::string* e) {
    FirewallReply r;
    return c.firewallBlockInbound("1", r, e);
  };
  const struct {
    const char* name;
    Server::Step step;
    CallFailure failure;
    std::string error;  // a trailing '*' matches any rest
    Call call = hello;
  } rows[] = {
      {"error reply", Server::reply(kOpError, encodeStringPayload("a scan is already running")),
       CallFailure::ErrorReply, "a scan is already running"},
      {"empty error reply", Server::reply(kOpError), CallFailure::ErrorReply,
       "service reported an error"},
      {"unreadable error reply", Server::reply(kOpError, WireWriter().u32(100).take() + "ab"),
       CallFailure::ErrorReply, "service reported an error"},
      {"another opcode", Server::reply(kOpProgress, encodeHelloReply({})),
       CallFailure::WrongReply, "unexpected reply opcode"},
      {"truncated Hello", Server::reply(kOpHello, encodeHelloReply({}).substr(0, 10)),
       CallFailure::Malformed, "malformed Hello reply"},
      {"bad magic", Server::raw(header("ZRVK", 1, kOpHello, 0)), CallFailure::Exchange,
       "bad magic"},
      {"version 2", Server::raw(header("KVRZ", 2, kOpHello, 0)), CallFailure::Exchange,
       "unsupported protocol version"},
      {"length past the limit", Server::raw(header("KVRZ", 1, kOpHello, kMaxPayloadSize + 1)),
       CallFailure::Exchange, "declared payload too large"},
      {"closed unanswered", Server::hangUp(), CallFailure::Exchange, "connection closed (*"},
      {"closed mid-header", Server::hangUp(header("KVRZ", 1, kOpHello, 0).substr(0, 9)),
       CallFailure::Exchange, "connection closed (*"},
      {"stalls mid-payload", Server::raw(header("KVRZ", 1, kOpHello, 64) + "abc", true),
       CallFailure::Exchange, kTimedOutText},
      {"never answers", Server::silent(), CallFailure::Exchange, kTimedOutText},
      {"firewall refuses", Server::reply(kOpFirewallBlockInbound, encodeFirewallReply(refused)),
       CallFailure::Refused, "доступ запрещён", firewall},
      {"firewall refuses silently", Server::reply(kOpFirewallBlockInbound, encodeFirewallReply({})),
       CallFailure::Refused, "брандмауэр: операция не выполнена", firewall},
      {"firewall reply unreadable", Server::reply(kOpFirewallBlockInbound, "\x01"),
       CallFailure::Malformed, "malformed firewall reply", firewall},
  };
  std::vector<Server::Step> script;
  for (const auto& row : rows) script.push_back(row.step);
  Server server(script);
  ServiceClient client(optionsFor(server.path()));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    const auto start = Clock::now();
    EXPECT_FALSE(row.call(client, &error));
    const auto took = Clock::now() - start;
    EXPECT_EQ(client.failure(), row.failure);
    if (row.error.back() == '*') {
      EXPECT_EQ(error.rfind(row.error.substr(0, row.error.size() - 1), 0), 0u) << error;
    } else {
      EXPECT_EQ(error, row.error);
    }
    if (row.error == kTimedOutText) {
      EXPECT_GE(took, std::chrono::milliseconds(kShortTimeoutMs - 50));
      EXPECT_LT(took, std::chrono::seconds(10));
    }
  }
  EXPECT_EQ(server.requests().size(), std::size(rows));
}

TEST(ServiceClientTest, AbsentServiceFailsToConnectWithinTheBudget) {
  test::TempDir dir;
  ServiceClient client(optionsFor(test::unusedPipePath(dir)));
  std::string error;
  const auto start = Clock::now();
  EXPECT_FALSE(hello(client, &error));
  EXPECT_EQ(client.failure(), CallFailure::Connect);
  EXPECT_EQ(error.rfind("cannot connect to service pipe (", 0), 0u) << error;
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(ServiceClientTest, ASuccessClearsTheLastFailure) {
  Server server({Server::reply(kOpError), Server::reply(kOpCancelScan)});
  ServiceClient client(optionsFor(server.path()));
  EXPECT_FALSE(client.cancelScan());
  EXPECT_EQ(client.failure(), CallFailure::ErrorReply);
  EXPECT_TRUE(client.cancelScan());
  EXPECT_EQ(client.failure(), CallFailure::None);
}

}  // namespace
}  // namespace zorvek::ipc
