#include "tools/zorvekctl/Zorvekctl.h"

#include <gtest/gtest.h>

#include "ScriptedPipeServer.h"
#include "TestUtil.h"
#include "common/Json.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/ThreatLevel.h"
#include "common/Version.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

TEST(ZorvekctlJsonTest, StringsAreEscapedAndStayUtf8) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\nnext\ttab\r", "\"line\\nnext\\ttab\\r\""},
      {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
      {"Угроза", "\"Угроза\""},
      {"bad\xff", "\"bad\xEF\xBF\xBD\""},
      {"C:\\Users\\x", "\"C:\\\\Users\\\\x\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(jsonString(c.in), c.out);
  }
}

class ZorvekctlTest : public ::testing::Test {
 protected:
  using Result = test::ConsoleRun;
  Result run(std::vector<std::wstring> args, const ipc::ClientOptions& client = {}) {
    args.insert(args.begin(), L"zorvekctl");
    return test::captureConsole(dir_, [&](std::FILE* out, std::FILE* err) {
      return runZorvekctl(args, out, err, false, client);
    });
  }

  test::TempDir dir_;
  // Nobody listens here.
  test::ScopedEnvironment pipeOverride_{L"ZORVEK_PIPE", test::unusedPipePath(dir_)};
  test::ScopedEnvironment hostsOverride_{L"ZORVEK_HOSTS", dir_.file(L"hosts")};
};

TEST_F(ZorvekctlTest, UsageErrorsAndAnUnreachableServiceExit2) {
  const std::vector<std::vector<std::wstring>> cases = {
      {},
      {L"frobnicate"},
      {L"status", L"extra"},
      {L"scan"},
      {L"scan", L"--wait"},
      {L"decide", L"x"},
      {L"decide", L"x", L"burn"},
      {L"quarantine", L"restore", L"12ab"},
      {L"quarantine", L"restore", L"99999999999999999999999"},
      {L"quarantine"},
      {L"update", L"everything"},
      {L"firewall", L"open"},
      {L"firewall"},
      {L"firewall", L"status", L"now"},
      {L"firewall", L"profile", L"office", L"on"},
      {L"firewall", L"profile", L"Private", L"on"},
      {L"firewall", L"profile", L"private", L"maybe"},
      {L"firewall", L"block-inbound"},
      {L"firewall", L"allow"},
      {L"firewall", L"block", L"a.exe", L"b.exe"},
      {L"firewall", L"block", L"a.exe", L"In"},
      {L"firewall", L"allow", L"a.exe", L"out", L"in"},
      {L"firewall", L"remove", L"all"},
      {L"config"},
      {L"status"},
      {L"shutdown"},
  };
  for (const auto& args : cases) {
    std::wstring joined;
    for (const auto& a : args) joined += a + L" ";
    SCOPED_TRACE(toUtf8(joined));
    const Result r = run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(ZorvekctlTest, JsonModeReportsFailuresAsAnObject) {
  const Result r = run({L"--json", L"status"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out.rfind("{\"error\":\"", 0), 0u) << r.out;
  EXPECT_EQ(r.out.back(), '\n');
}

TEST_F(ZorvekctlTest, HelpAndVersionGoToStandardOutput) {
  const struct {
    const wchar_t* arg;
    std::string text;
  } cases[] = {{L"--help", "zorvekctl [--json] status"},
               {L"-h", "zorvekctl [--json] status"},
               {L"--version", std::string("zorvekctl ") + kVersion + "\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.arg));
    const Result r = run({c.arg});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

// Against a scripted service: what zorvekctl sends and how it shows what comes back.
class ZorvekctlServiceTest : public ZorvekctlTest {
 protected:
  using Server = test::ScriptedPipeServer;
  Result runAgainst(const Server& server, std::vector<std::wstring> args) {
    pipeOverride_.set(server.path());
    return run(std::move(args));
  }
  static ipc::ConfigPayload sampleSettings() {
    ipc::ConfigPayload c;
    c.protectionEnabled = false;
    c.scanArchives = true;
    c.scheduledHour = 23;
    c.lastScanUtc = 1765000000;
    c.signatureDb = L"D:\\базы\\main.db";
    c.quarantineDir = L"/var/lib/zorvek/Quarantine";
    c.lastLiveUpdateUtc = 18446744073709551615ull;
    c.updateServer = "https://never.sent";
    return c;
  }
  static Server::Step settingsReply() {
    return Server::reply(ipc::kOpGetConfig, ipc::encodeConfigPayload(sampleSettings()));
  }
};

TEST_F(ZorvekctlServiceTest, ConfigGetShowsEverySettingOnTheWireInFileOrder) {
  Server server({settingsReply(), settingsReply()});
  Result r = runAgainst(server, {L"config", L"get"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "ProtectionEnabled=0\nRealTimeEnabled=1\nScanArchives=1\nScanRemovable=0\n"
            "ShowThreatModal=1\nQuarantineOnDetect=0\nScheduledScan=1\nScheduledHour=23\n"
            "LastScanUtc=1765000000\nLastThreatCount=0\nSignatureDb=D:\\базы\\main.db\n"
            "QuarantineDir=/var/lib/zorvek/Quarantine\nLiveUpdates=1\n"
            "LastLiveUpdateUtc=18446744073709551615\nWebShield=1\n");
  r = runAgainst(server, {L"--json", L"config", L"get"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"ProtectionEnabled\":false,\"RealTimeEnabled\":true,\"ScanArchives\":true,"
            "\"ScanRemovable\":false,\"ShowThreatModal\":true,\"QuarantineOnDetect\":false,"
            "\"ScheduledScan\":true,\"ScheduledHour\":23,\"LastScanUtc\":1765000000,"
            "\"LastThreatCount\":0,\"SignatureDb\":\"D:\\\\базы\\\\main.db\","
            "\"QuarantineDir\":\"/var/lib/zorvek/Quarantine\",\"LiveUpdates\":true,"
            "\"LastLiveUpdateUtc\":18446744073709551615,\"WebShield\":true}\n");
}

TEST_F(ZorvekctlServiceTest, ConfigSetSendsTheCurrentSettingsWithItsChangesAndEmptyPaths) {
  Server server({settingsReply(), Server::reply(ipc::kOpSetConfig)});
  const Result r = runAgainst(server, {L"config", L"set", L"scheduledhour=5", L"ScanArchives=off",
                                       L"LastThreatCount=18446744073709551615",
                                       L"QuarantineDir=/q=1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].opcode, ipc::kOpGetConfig);
  EXPECT_EQ(requests[1].opcode, ipc::kOpSetConfig);
  ipc::ConfigPayload sent;
  ASSERT_TRUE(ipc::decodeConfigPayload(requests[1].payload, sent));
  ipc::ConfigPayload want = sampleSettings();
  want.scheduledHour = 5;
  want.scanArchives = false;
  want.lastThreatCount = 18446744073709551615ull;
  want.signatureDb.clear();
  want.quarantineDir = L"/q=1";
  want.updateServer.clear();
  EXPECT_EQ(sent, want);
}

TEST_F(ZorvekctlServiceTest, ConfigSetRefusesBadValuesWithoutSending) {
  const struct {
    const wchar_t* word;
    const char* err;
  } cases[] = {
      {L"ScheduledHour=24", "zorvekctl: неверное число: ScheduledHour=24\n"},
      {L"LastScanUtc=-1", "zorvekctl: неверное число: LastScanUtc=-1\n"},
      {L"LastScanUtc=18446744073709551616", "zorvekctl: неверное число: LastScanUtc=18446744073709551616\n"},
      {L"ScanArchives=maybe", "zorvekctl: ожидается 0 или 1: ScanArchives=maybe\n"},
      {L"UpdateServer=http://x", "zorvekctl: неизвестный параметр: UpdateServer=http://x\n"},
      {L"ScanArchives", "zorvekctl: неизвестный параметр: ScanArchives\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.word));
    Server server({settingsReply(), Server::reply(ipc::kOpSetConfig)});
    const Result r = runAgainst(server, {L"config", L"set", L"ScanRemovable=1", c.word});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

TEST_F(ZorvekctlServiceTest, StatusAndHowEachFailureIsShown) {
  ipc::HelloReply hello;
  hello.version = "1.2.0";
  hello.signatureCount = 7;
  hello.databaseVersion = "seed";
  hello.protectionEnabled = true;
  hello.liveUpdateError = "HTTP 503";
  // The web shield's count comes from the hosts file, not from the service.
  test::writeFile(dir_.file(L"hosts"), "127.0.0.1 localhost\n# ZORVEK WEB SHIELD BEGIN\n"
                  "127.0.0.1 a.example # zorvek-blocked\n127.0.0.1 www.a.example # zorvek-blocked\n"
                  "# ZORVEK WEB SHIELD END\n");
  ipc::HelloReply offered = hello;
  offered.liveUpdateError.clear();
  offered.installerPath = L"C:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup-1.3.0.exe";
  offered.realTimeEnabled = offered.minifilter = true;
  offered.notificationOverflows = 4;
  const struct {
    const char* name;
    Server::Step step;
    int code;
    std::string err;  // a trailing '*' matches any rest
    std::string out = "";
  } cases[] = {
      {"answer", Server::reply(ipc::kOpHello, ipc::encodeHelloReply(hello)), 0, "",
       "версия:       1.2.0\nсигнатуры:    7 (seed)\nзащита:       вкл\nreal-time:    выкл\n"
       "minifilter:   нет\nпереполнения: 0 (уведомлений real-time)\nпроверка:     нет\n"
       "веб-щит:      записей в hosts: 2\nобновление баз: HTTP 503\n"},
      {"installer offered", Server::reply(ipc::kOpHello, ipc::encodeHelloReply(offered)), 0, "",
       "версия:       1.2.0\nсигнатуры:    7 (seed)\nзащита:       вкл\nreal-time:    вкл\n"
       "minifilter:   подключён\nпереполнения: 4 (уведомлений real-time)\nпроверка:     нет\n"
       "веб-щит:      записей в hosts: 2\n"
       "установщик:   C:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup-1.3.0.exe\n"},
      {"error reply", Server::reply(ipc::kOpError, ipc::encodeStringPayload("access denied")), 1,
       "zorvekctl: access denied\n"},
      {"another opcode", Server::reply(ipc::kOpPing, ipc::encodeHelloReply(hello)), 2,
       "zorvekctl: непонятный ответ службы\n"},
      {"unreadable", Server::reply(ipc::kOpHello, "abc"), 2,
       "zorvekctl: непонятный ответ службы\n"},
      {"closed", Server::hangUp(), 2, "zorvekctl: обмен со службой не удался: connection closed (*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server({c.step});
    const Result r = runAgainst(server, {L"status"});
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    if (!c.err.empty() && c.err.back() == '*') {
      EXPECT_EQ(r.err.rfind(c.err.substr(0, c.err.size() - 1), 0), 0u) << r.err;
    } else {
      EXPECT_EQ(r.err, c.err);
    }
  }
  Server json({Server::reply(ipc::kOpHello, ipc::encodeHelloReply(offered))});
  const Result r = runAgainst(json, {L"--json", L"status"});
  EXPECT_NE(r.out.find("\"minifilter\":true,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"notificationOverflows\":4,"), std::string::npos) << r.out;
}

// The scan's end decides the exit code: a scan that could not run is a failure.
TEST_F(ZorvekctlServiceTest, ScanWaitExitsWithTheScansOutcome) {
  const auto ended = [](const wchar_t* phase) {
    ipc::ProgressReply p;
    p.progress.phase = phase;
    p.summary.filesScanned = 3;
    return Server::reply(ipc::kOpProgress, ipc::encodeProgressReply(p));
  };
  const struct {
    const wchar_t* phase;
    int code;
  } cases[] = {{L"finished", 0}, {L"cancelled", 0}, {L"failed", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.phase));
    for (const bool json : {false, true}) {
      Server server({Server::reply(ipc::kOpStartScan), ended(c.phase)});
      std::vector<std::wstring> args{L"scan", L"--wait", L"quick"};
      if (json) args.insert(args.begin(), L"--json");
      const Result r = runAgainst(server, args);
      EXPECT_EQ(r.code, c.code) << r.out << r.err;
      EXPECT_NE(r.out.find(toUtf8(c.phase)), std::string::npos) << r.out;
    }
  }
}

TEST_F(ZorvekctlServiceTest, SilentServiceTimesOutWithExitCode2) {
  Server server({Server::silent()});
  pipeOverride_.set(server.path());
  ipc::ClientOptions client;
  client.replyTimeoutMs = 300;
  const Result r = run({L"status"}, client);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "zorvekctl: обмен со службой не удался: timed out waiting for the service\n");
}

TEST_F(ZorvekctlServiceTest, FirewallStatusInRussianAndAsJson) {
  const std::string status =
      "prof,domain,on\n"
      "prof,public,off\n"
      "rule,on,allow,in,ZORVEK: app.exe,C:\\Apps\\app.exe\n"
      "rule,off,block,both,Acme\\, Inc.,D:\\Acme\\sync.exe\n"
      "error,не удалось перечислить правила: код 0x80004001\n"
      "blockin,on\n";
  Server server({Server::reply(ipc::kOpFirewallStatus, status),
                 Server::reply(ipc::kOpFirewallStatus, status)});
  Result r = runAgainst(server, {L"firewall", L"status"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "профиль domain:   вкл\n"
            "профиль private:  нет данных\n"
            "профиль public:   выкл\n"
            "блокировка входящих: вкл\n"
            "правила для программ: 2\n"
            "  вкл   разрешить  входящие  ZORVEK: app.exe — C:\\Apps\\app.exe\n"
            "  выкл  блокировать  все  Acme, Inc. — D:\\Acme\\sync.exe\n"
            "ошибка: не удалось перечислить правила: код 0x80004001\n");
  r = runAgainst(server, {L"--json", L"firewall", L"status"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"profiles\":{\"domain\":true,\"private\":null,\"public\":false},"
            "\"blockInbound\":true,\"rules\":["
            "{\"enabled\":true,\"action\":\"allow\",\"direction\":\"in\","
            "\"name\":\"ZORVEK: app.exe\",\"program\":\"C:\\\\Apps\\\\app.exe\"},"
            "{\"enabled\":false,\"action\":\"block\",\"direction\":\"both\","
            "\"name\":\"Acme, Inc.\",\"program\":\"D:\\\\Acme\\\\sync.exe\"}],"
            "\"errors\":[\"не удалось перечислить правила: код 0x80004001\"]}\n");
}

TEST_F(ZorvekctlServiceTest, FirewallChangesSendTheRequestTexts) {
  const std::wstring program = dir_.file(L"app.exe");
  const std::string programUtf8 = toUtf8(program);
  const struct {
    std::vector<std::wstring> args;
    uint32_t opcode;
    std::string payload;
    std::string out;
  } cases[] = {
      {{L"profile", L"private", L"on"}, ipc::kOpFirewallSetProfile,
       ipc::encodeStringPayload("private,1"), "профиль private включён\n"},
      {{L"profile", L"domain", L"off"}, ipc::kOpFirewallSetProfile,
       ipc::encodeStringPayload("domain,0"), "профиль domain выключен\n"},
      {{L"block-inbound", L"on"}, ipc::kOpFirewallBlockInbound, ipc::encodeStringPayload("1"),
       "входящие подключения блокируются\n"},
      {{L"block-inbound", L"off"}, ipc::kOpFirewallBlockInbound, ipc::encodeStringPayload("0"),
       "блокировка входящих снята\n"},
      {{L"allow", program}, ipc::kOpFirewallAppRule,
       ipc::encodeStringPayload("allow|in|" + programUtf8), "разрешено: " + programUtf8 + "\n"},
      {{L"block", program}, ipc::kOpFirewallAppRule,
       ipc::encodeStringPayload("block|in|" + programUtf8), "заблокировано: " + programUtf8 + "\n"},
      {{L"block", program, L"both"}, ipc::kOpFirewallAppRule,
       ipc::encodeStringPayload("block|both|" + programUtf8),
       "заблокировано: " + programUtf8 + " (входящие и исходящие)\n"},
      {{L"allow", program, L"out"}, ipc::kOpFirewallAppRule,
       ipc::encodeStringPayload("allow|out|" + programUtf8),
       "разрешено: " + programUtf8 + " (исходящие)\n"},
      {{L"remove"}, ipc::kOpFirewallRemoveRules, "", "правила ZORVEK удалены\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> args = c.args;
    args.insert(args.begin(), L"firewall");
    SCOPED_TRACE(toUtf8(args[1]));
    Server server({Server::reply(c.opcode, ipc::encodeFirewallReply({true, ""})),
                   Server::reply(c.opcode, ipc::encodeFirewallReply(
                                               {false, "требуются права администратора (код 0x80070005)"}))});
    Result r = runAgainst(server, args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].opcode, c.opcode);
    EXPECT_EQ(server.requests()[0].payload, c.payload);
    r = runAgainst(server, args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorvekctl: требуются права администратора (код 0x80070005)\n");
  }
}

TEST_F(ZorvekctlServiceTest, FirewallProgramPathsAreSentAbsolute) {
  Server server({Server::reply(ipc::kOpFirewallAppRule, ipc::encodeFirewallReply({true, ""}))});
  const Result r = runAgainst(server, {L"--json", L"firewall", L"allow", L"app.exe"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "{\"ok\":true}\n");
  ASSERT_EQ(server.requests().size(), 1u);
  std::string sent;
  ASSERT_TRUE(ipc::decodeStringPayload(server.requests()[0].payload, sent));
  const std::wstring path = toWide(sent.substr(sizeof "allow|in|" - 1));
  EXPECT_TRUE(toPath(path).is_absolute()) << sent;
  EXPECT_EQ(toPath(path).filename(), toPath(L"app.exe"));
}

TEST_F(ZorvekctlServiceTest, WatchPrintsRealTimeDetectionsAsTheyArriveUntilItsCount) {
  const auto progress = [](std::vector<std::wstring> paths) {
    ipc::ProgressReply p;
    for (auto& path : paths) {
      ipc::ThreatRecord t;
      t.path = std::move(path);
      t.threatName = "EICAR";
      t.level = 4;
      t.size = 68;
      p.detections.push_back(std::move(t));
    }
    return Server::reply(ipc::kOpProgress, ipc::encodeProgressReply(p));
  };
  // Two polls with nothing, then one detection, then two at once: the third ends the watch.
  Server server({progress({}), progress({}), progress({L"C:\\a\\eicar.com"}),
                 progress({L"C:\\b.exe", L"C:\\файл.exe"}), progress({L"C:\\never.exe"})});
  Result r = runAgainst(server, {L"watch", L"--count", L"3", L"--seconds", L"30"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "обнаружено: C:\\a\\eicar.com — EICAR\nобнаружено: C:\\b.exe — EICAR\n"
            "обнаружено: C:\\файл.exe — EICAR\n");
  EXPECT_EQ(server.requests().size(), 4u);

  Server json({progress({L"C:\\x.exe"})});
  r = runAgainst(json, {L"--json", L"watch", L"--count", L"1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "{\"path\":\"C:\\\\x.exe\",\"threat\":\"EICAR\",\"secondText\":\"\","
                   "\"level\":\"" + std::string(threatLevelName(ThreatLevel::Critical)) +
                   "\",\"size\":68}\n");
}

TEST_F(ZorvekctlServiceTest, WatchEndsWithAnErrorWhenItsTimeRunsOutOrTheServiceGoes) {
  ipc::ProgressReply none;
  const auto empty = Server::reply(ipc::kOpProgress, ipc::encodeProgressReply(none));
  Server timeout({empty, empty, empty, empty, empty, empty, empty, empty, empty, empty});
  Result r = runAgainst(timeout, {L"watch", L"--count", L"1", L"--seconds", L"1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "zorvekctl: за 1 с обнаружено 0 из 1\n");
  // Without a count the time running out is the expected end.
  Server quiet({empty, empty, empty, empty, empty, empty, empty, empty, empty, empty});
  r = runAgainst(quiet, {L"watch", L"--seconds", L"1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  Server gone({empty, Server::hangUp()});
  r = runAgainst(gone, {L"watch"});
  EXPECT_EQ(r.code, 2);
  for (const auto& args : std::vector<std::vector<std::wstring>>{
           {L"watch", L"--count"}, {L"watch", L"--count", L"0"}, {L"watch", L"--seconds", L"x"},
           {L"watch", L"--count", L"1", L"--count", L"2"}, {L"watch", L"later"}}) {
    r = runAgainst(timeout, args);
    EXPECT_EQ(r.code, 2) << toUtf8(args.back());
  }
}

TEST_F(ZorvekctlServiceTest, UpdateSelfWaitsForTheOutcome) {
  const auto hello = [](bool running, std::string error, std::wstring installer) {
    ipc::HelloReply h;
    h.selfUpdateRunning = running;
    h.selfUpdateError = std::move(error);
    h.installerPath = std::move(installer);
    return Server::reply(ipc::kOpHello, ipc::encodeHelloReply(h));
  };
  const Server::Step started = Server::reply(ipc::kOpSelfUpdate, ipc::encodeU32Payload(1));
  const std::wstring path = L"C:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup-1.3.0.exe";
  const struct {
    const char* name;
    std::vector<Server::Step> script;
    bool json;
    int code;
    std::string out, err;
  } cases[] = {
      {"downloaded after a while", {started, hello(true, "", L""), hello(false, "", path)}, false, 0,
       "установщик скачан: " + toUtf8(path) + "\n", ""},
      {"current", {started, hello(false, "", L"")}, false, 0, "обновлений нет — версия актуальна\n", ""},
      {"failed", {started, hello(false, "контрольная сумма установщика не совпала", L"")}, false, 1,
       "", "zorvekctl: обновление не удалось: контрольная сумма установщика не совпала\n"},
      {"json", {started, hello(false, "", path)}, true, 0,
       "{\"updateAvailable\":true,\"installerPath\":" + jsonString(toUtf8(path)) + "}\n", ""},
      {"refused", {Server::reply(ipc::kOpError, ipc::encodeStringPayload("обновление уже выполняется"))},
       false, 1, "", "zorvekctl: обновление уже выполняется\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server(c.script);
    std::vector<std::wstring> args = {L"update", L"self"};
    if (c.json) args.insert(args.begin(), L"--json");
    const Result r = runAgainst(server, args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(server.requests().size(), c.script.size());
  }
}

}  // namespace
}  // namespace zorvek
