#include "service/main/ClientModes.h"

#include <gtest/gtest.h>

#include "ScriptedPipeServer.h"
#include "TestUtil.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Wire.h"

namespace zorvek::svc {
namespace {

using Server = test::ScriptedPipeServer;
using ipc::kOpError;
using ipc::kOpFirewallStatus;
using ipc::kOpHello;
using ipc::kOpSelfUpdate;

struct Run {
  int code = -1;
  std::vector<std::string> lines;
  int pauses = 0;
};

// Runs a mode against `pipe` with a short reply time-out; pauses are counted, not slept.
Run runMode(int (*mode)(const ClientModeContext&), const std::wstring& pipe) {
  Run run;
  ClientModeContext context;
  context.print = [&](const std::wstring& line) { run.lines.push_back(toUtf8(line)); };
  context.sleep = [&](std::chrono::milliseconds pause) {
    EXPECT_EQ(pause, std::chrono::seconds(1));
    ++run.pauses;
  };
  context.client.pipe = pipe;
  context.client.connectBudgetMs = 200;
  context.client.replyTimeoutMs = 200;
  run.code = mode(context);
  return run;
}

Server::Step helloStep(bool updating, std::string error = {}, std::wstring installer = {}) {
  ipc::HelloReply h;
  h.version = "1.2.0";
  h.signatureCount = 12;
  h.databaseVersion = "2026.01.02";
  h.protectionEnabled = true;
  h.minifilter = true;
  h.selfUpdateRunning = updating;
  h.selfUpdateError = std::move(error);
  h.installerPath = std::move(installer);
  return Server::reply(kOpHello, ipc::encodeHelloReply(h));
}

Server::Step errorStep(const char* text) {
  return Server::reply(kOpError, ipc::encodeStringPayload(text));
}

// A line ending in '*' matches any line that starts with the rest.
void expectLines(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  ASSERT_EQ(got.size(), want.size()) << (got.empty() ? "" : got.back());
  for (size_t i = 0; i < want.size(); ++i) {
    if (!want[i].empty() && want[i].back() == '*') {
      EXPECT_EQ(got[i].rfind(want[i].substr(0, want[i].size() - 1), 0), 0u) << got[i];
    } else {
      EXPECT_EQ(got[i], want[i]);
    }
  }
}

struct Case {
  const char* name;
  int (*mode)(const ClientModeContext&);
  std::vector<Server::Step> script;  // none: nobody listens
  int code;
  std::vector<std::string> lines;
  int pauses = 0;
};

void runCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    std::optional<Server> server;
    if (!c.script.empty()) server.emplace(c.script);
    const Run run = runMode(c.mode, server ? server->path() : test::unusedPipePath(dir));
    EXPECT_EQ(run.code, c.code);
    expectLines(run.lines, c.lines);
    EXPECT_EQ(run.pauses, c.pauses);
  }
}

TEST(ClientModesTest, Ping) {
  runCases({
      {"answers", runPing, {helloStep(false)}, 0,
       {"служба отвечает", "  версия:      1.2.0", "  сигнатуры:   12 (2026.01.02)",
        "  защита:      вкл", "  real-time:   выкл", "  minifilter:  подключён"}},
      {"no service", runPing, {}, 1,
       {"попытка 1: cannot connect to service pipe (*", "попытка 2: cannot connect to service pipe (*",
        "попытка 3: cannot connect to service pipe (*", "служба не запущена или канал не создан"},
       3},
      {"error reply", runPing, {errorStep("busy")}, 3, {"непонятный ответ службы"}},
      {"silent service", runPing, {Server::silent()}, 2,
       {"обмен не удался: timed out waiting for the service"}},
  });
}

TEST(ClientModesTest, UpdateCheck) {
  const Server::Step started = Server::reply(kOpSelfUpdate, ipc::encodeU32Payload(1));
  std::vector<Server::Step> neverDone{started};
  for (int i = 0; i < 120; ++i) neverDone.push_back(helloStep(true));
  runCases({
      {"installer downloaded", runUpdateCheck,
       {started, helloStep(true), helloStep(false, "", L"C:\\updates\\Установка.exe")}, 0,
       {"установщик скачан: C:\\updates\\Установка.exe"}, 2},
      {"up to date", runUpdateCheck, {started, helloStep(false)}, 0,
       {"обновлений нет — версия актуальна"}, 1},
      {"update failed", runUpdateCheck, {started, helloStep(false, "HTTP 404")}, 4,
       {"обновление не удалось: HTTP 404"}, 1},
      {"no service", runUpdateCheck, {}, 1, {"канал не открыт: cannot connect to service pipe (*"}},
      {"refused", runUpdateCheck, {errorStep("self-update is not built yet")}, 2,
       {"запуск проверки не удался: self-update is not built yet"}},
      {"poll unreadable", runUpdateCheck, {started, Server::reply(kOpHello, "x")}, 3,
       {"опрос состояния не удался: malformed Hello reply"}, 1},
      {"poll unanswered", runUpdateCheck, {started, Server::silent()}, 3,
       {"опрос состояния не удался: timed out waiting for the service"}, 1},
      {"never finishes", runUpdateCheck, neverDone, 5, {"проверка не завершилась за 120 с"}, 120},
  });
}

TEST(ClientModesTest, FirewallStatus) {
  runCases({
      {"status", runFirewallStatus,
       {Server::reply(kOpFirewallStatus, "domain: on\nБлокировка входящих: нет")}, 0,
       {"domain: on\nБлокировка входящих: нет"}},
      {"error reply", runFirewallStatus, {errorStep("firewall unavailable")}, 1,
       {"служба ответила ошибкой: firewall unavailable"}},
      {"another opcode", runFirewallStatus, {Server::reply(kOpHello)}, 1,
       {"непонятный ответ службы"}},
      {"closed", runFirewallStatus, {Server::hangUp()}, 1,
       {"обмен не удался: connection closed (*"}},
      {"silent", runFirewallStatus, {Server::silent()}, 1,
       {"обмен не удался: timed out waiting for the service"}},
      {"no service", runFirewallStatus, {}, 1,
       {"канал не открыт: cannot connect to service pipe (*"}},
  });
}

}  // namespace
}  // namespace zorvek::svc
