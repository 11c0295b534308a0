#include "gui/model/PageCommands.h"

#include <gtest/gtest.h>

#include "Recorders.h"
#include "ScriptedPipeServer.h"
#include "TestUtil.h"

namespace zorvek::gui {
namespace {

using Server = zorvek::test::ScriptedPipeServer;
using test::Box;
using test::RecordedClient;
using test::RecordingPrompts;

Server::Step firewallOk(uint32_t opcode) {
  return Server::reply(opcode, ipc::encodeFirewallReply({true, "ok"}));
}
Server::Step firewallFailed(uint32_t opcode, std::string text) {
  return Server::reply(opcode, ipc::encodeFirewallReply({false, std::move(text)}));
}
Server::Step status(std::string text) { return Server::reply(ipc::kOpFirewallStatus, text); }
Server::Step errorReply(std::string text) {
  return Server::reply(ipc::kOpError, ipc::encodeStringPayload(text));
}

std::vector<std::string> stringPayloads(const Server& server, uint32_t opcode) {
  std::vector<std::string> out;
  for (const auto& r : server.requests()) {
    if (r.opcode != opcode) continue;
    std::string text;
    EXPECT_TRUE(ipc::decodeStringPayload(r.payload, text));
    out.push_back(text);
  }
  return out;
}

ServiceView connectedView() {
  ServiceView v;
  v.connected = v.settingsLoaded = true;
  return v;
}

TEST(PageCommandsTest, FirewallSwitchGoesPrivatePublicDomainAndStopsAtTheFirstFailure) {
  const char* const twoOn = "prof,domain,on\nprof,private,on\n";
  const char* const allOn = "prof,domain,on\nprof,private,on\nprof,public,on\n";
  const struct {
    const char* what;
    const char* before;
    std::vector<Server::Step> replies;
    std::vector<std::string> sent;
    std::string error;
  } cases[] = {
      {"a missing profile counts as off", twoOn,
       {firewallOk(17), firewallOk(17), firewallOk(17)},
       {"private,1", "public,1", "domain,1"}, ""},
      {"all on turns all off", allOn,
       {firewallOk(17), firewallOk(17), firewallOk(17)},
       {"private,0", "public,0", "domain,0"}, ""},
      {"stops at the second", allOn,
       {firewallOk(17), firewallFailed(17, "access denied")},
       {"private,0", "public,0"}, "access denied"},
      {"empty failure text", allOn,
       {firewallFailed(17, "")}, {"private,0"}, "брандмауэр: операция не выполнена"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Server::Step> script = c.replies;
    script.push_back(status(allOn));
    Server server(script);
    RecordedClient rc(server.path());
    ServiceView view = connectedView();
    view.firewall = fw::parseFirewallStatus(c.before);
    toggleFirewall(rc.client, view);
    EXPECT_EQ(stringPayloads(server, ipc::kOpFirewallSetProfile), c.sent);
    EXPECT_EQ(view.firewallError, c.error);  // the failure outlives the fetch that follows
    EXPECT_TRUE(view.firewall.allProfilesOn());
    EXPECT_EQ(server.requests().back().opcode, ipc::kOpFirewallStatus);
  }
}

TEST(PageCommandsTest, FirewallCommandsSendTheirTextsAndNothingWhenDisconnected) {
  Server server({firewallOk(18), status("blockin,on\n"), firewallOk(19), status(""),
                 firewallOk(20), status("error,no,firewall\n")});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  prompts.answer = true;
  ServiceView view = connectedView();
  toggleBlockInbound(rc.client, view);
  EXPECT_EQ(view.firewall.blockInbound, true);
  addProgramRule(rc.client, view, false, L"C:\\Программы\\a.exe");
  removeFirewallRules(rc.client, view, prompts);
  EXPECT_EQ(view.firewallError, "no,firewall");
  EXPECT_EQ(stringPayloads(server, ipc::kOpFirewallBlockInbound), std::vector<std::string>{"1"});
  EXPECT_EQ(stringPayloads(server, ipc::kOpFirewallAppRule),
            std::vector<std::string>{"block|in|C:\\Программы\\a.exe"});
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_TRUE(requests[4].payload.empty());  // remove-rules carries no length prefix at all
  EXPECT_EQ(prompts.boxes, (std::vector<Box>{{BoxIcon::Question,
                                              "Удалить все правила ZORVEK из брандмауэра Windows?"}}));

  ServiceView offline;
  toggleFirewall(rc.client, offline);
  toggleBlockInbound(rc.client, offline);
  addProgramRule(rc.client, offline, true, L"C:\\a.exe");
  removeFirewallRules(rc.client, offline, prompts);
  EXPECT_EQ(server.requests().size(), 6u);
}

TEST(PageCommandsTest, QuarantineRowsMapToTheScrolledEntries) {
  constexpr size_t kEntries = 5000, kVisible = 9;
  EXPECT_EQ(quarantineEntryOf(1000, 0, kEntries), 0u);
  EXPECT_EQ(quarantineEntryOf(2008, 4990, kEntries), 4998u);
  EXPECT_EQ(quarantineEntryOf(1009, 4991, kEntries), std::nullopt);  // past the list
  EXPECT_EQ(quarantineEntryOf(999, 0, kEntries), std::nullopt);
  EXPECT_EQ(quarantineEntryOf(3000, 0, kEntries), std::nullopt);
  EXPECT_EQ(quarantineEntryOf(1000, 0, 0), std::nullopt);

  const struct {
    size_t first;
    long long delta;
    size_t entries;
    size_t expected;
  } scrolls[] = {{0, -3, kEntries, 0},           {0, 3, kEntries, 3},
                 {4990, 100, kEntries, 4991},    {4991, -1, kEntries, 4990},
                 {10, LLONG_MIN, kEntries, 0},   {10, LLONG_MAX, kEntries, 4991},
                 {0, 5, 4, 0},                   {7000, 0, kEntries, 4991}};
  for (const auto& s : scrolls) {
    SCOPED_TRACE(std::to_string(s.first) + " by " + std::to_string(s.delta));
    EXPECT_EQ(scrollRows(s.first, s.delta, s.entries, kVisible), s.expected);
  }
}

// The Quarantine page's tick: the list travels only when the hello's generation moved.
TEST(PageCommandsTest, QuarantineListIsFetchedOnlyWhenItsGenerationMoved) {
  std::vector<ipc::QuarantineRecord> list(2);
  list[0].id = 100;
  list[1].id = 101;
  const std::string listed = ipc::encodeQuarantineList(list);
  const struct {
    const char* what;
    uint64_t service, held;
    bool force, malformed;
    bool fetched;
    uint64_t heldAfter;
  } cases[] = {
      {"unchanged", 7, 7, false, false, false, 7},
      {"moved on", 8, 7, false, false, true, 8},
      {"restarted service", 3, 7, false, false, true, 3},
      {"older service without a generation", 0, 0, false, false, true, 0},
      {"page just opened", 7, 7, true, false, true, 7},
      {"not fetched yet", 7, 0, false, false, true, 7},
      {"failed fetch is retried next time", 8, 7, false, true, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server({Server::reply(ipc::kOpQuarantineList, c.malformed ? std::string("x") : listed)});
    RecordedClient rc(server.path());
    ServiceView view = connectedView();
    view.status.quarantineGeneration = c.service;
    view.quarantineGeneration = c.held;
    refreshQuarantine(rc.client, view, c.force);
    EXPECT_EQ(server.requests().size(), c.fetched ? 1u : 0u);
    EXPECT_EQ(view.quarantineGeneration, c.heldAfter);
    EXPECT_EQ(view.quarantine, c.fetched && !c.malformed ? list : std::vector<ipc::QuarantineRecord>{});
  }
}

TEST(PageCommandsTest, QuarantineRowCommandsActOnTheShownEntryAndRefetch) {
  std::vector<ipc::QuarantineRecord> list(3);
  for (size_t i = 0; i < list.size(); ++i) list[i].id = 100 + i;
  const std::string listed = ipc::encodeQuarantineList(list);
  const struct {
    const char* what;
    int id;
    size_t first;
    bool agree;
    std::vector<Server::Step> replies;
    uint32_t opcode;  // 0: no request but the list
    uint64_t record;
    std::vector<Box> boxes;
  } cases[] = {
      {"restore at once", 1001, 1, false, {Server::reply(10)}, 10, 102, {}},
      {"delete after yes", 2000, 0, true, {Server::reply(9)}, 9, 100,
       {{BoxIcon::Warning, "Объект будет удалён безвозвратно. Продолжить?"}}},
      {"delete declined", 2000, 0, false, {}, 0, 0,
       {{BoxIcon::Warning, "Объект будет удалён безвозвратно. Продолжить?"}}},
      {"failure shown", 1000, 0, false, {errorReply("record not found")}, 10, 100,
       {{BoxIcon::Error, "Ошибка:\nrecord not found"}}},
      {"row past the list", 1005, 0, false, {}, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Server::Step> script = c.replies;
    script.push_back(Server::reply(ipc::kOpQuarantineList, listed));
    Server server(script);
    RecordedClient rc(server.path());
    RecordingPrompts prompts;
    prompts.answer = c.agree;
    ServiceView view = connectedView();
    view.quarantine = list;
    view.status.quarantineGeneration = view.quarantineGeneration = 5;
    quarantineRowCommand(rc.client, view, prompts, c.id, c.first);
    // The generation the last hello reported is behind the change just made.
    EXPECT_EQ(view.quarantineGeneration, 0u);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), c.opcode ? 2u : 1u);
    if (c.opcode) {
      EXPECT_EQ(requests[0].opcode, c.opcode);
      EXPECT_EQ(requests[0].payload, ipc::encodeU64Payload(c.record));
    }
    EXPECT_EQ(requests.back().opcode, ipc::kOpQuarantineList);
    EXPECT_EQ(prompts.boxes, c.boxes);
  }
}

TEST(PageCommandsTest, SettingsAreSavedOnlyOverTheServicesOwn) {
  Server server({Server::reply(ipc::kOpSetConfig), errorReply("access denied")});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView notLoaded;
  notLoaded.connected = true;
  EXPECT_FALSE(saveSettings(rc.client, notLoaded, prompts));
  EXPECT_TRUE(server.requests().empty());

  ServiceView view = connectedView();
  view.settings.scheduledHour = 9;
  EXPECT_TRUE(saveSettings(rc.client, view, prompts));
  EXPECT_FALSE(saveSettings(rc.client, view, prompts));
  ASSERT_EQ(prompts.boxes.size(), 3u);
  EXPECT_EQ(prompts.boxes[0].text.rfind("Не удалось сохранить настройки:\n", 0), 0u);
  EXPECT_EQ(prompts.boxes[1], (Box{BoxIcon::Information,
                                   "Настройки сохранены. Для применения защиты в реальном времени "
                                   "может потребоваться перезапуск службы."}));
  EXPECT_EQ(prompts.boxes[2], (Box{BoxIcon::Error, "Не удалось сохранить настройки:\naccess denied"}));
  Settings sent;
  ASSERT_TRUE(ipc::decodeConfigPayload(server.requests()[0].payload, sent));
  EXPECT_EQ(sent.scheduledHour, 9u);
}

TEST(PageCommandsTest, UpdateCommandsSetTheirWaitFlagsOrSayWhy) {
  Server server({Server::reply(ipc::kOpUpdateSignatures), errorReply("db locked"),
                 Server::reply(ipc::kOpLiveUpdate, ipc::encodeU32Payload(1)), errorReply("busy"),
                 Server::reply(ipc::kOpSelfUpdate, ipc::encodeU32Payload(1))});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView view = connectedView();
  EXPECT_TRUE(updateSignatures(rc.client, prompts));
  EXPECT_FALSE(updateSignatures(rc.client, prompts));
  EXPECT_TRUE(startLiveUpdate(rc.client, view, prompts));
  EXPECT_TRUE(view.waitingForLiveUpdate);
  view.waitingForLiveUpdate = false;
  EXPECT_FALSE(startLiveUpdate(rc.client, view, prompts));
  EXPECT_FALSE(view.waitingForLiveUpdate);
  std::vector<std::wstring> opened;
  const auto open = [&](const std::wstring& path) { opened.push_back(path); };
  EXPECT_TRUE(programUpdate(rc.client, view, prompts, open));
  EXPECT_TRUE(view.waitingForSelfUpdate);
  EXPECT_EQ(prompts.boxes,
            (std::vector<Box>{{BoxIcon::Information, "База сигнатур обновлена."},
                              {BoxIcon::Error, "Не удалось обновить базу:\ndb locked"},
                              {BoxIcon::Error, "Не удалось запустить обновление:\nbusy"}}));

  // A downloaded installer is offered instead of a new check; nothing goes to the service.
  view.status.installerPath = L"C:\\u\\ZorvekSetup.exe";
  prompts.boxes.clear();
  EXPECT_FALSE(programUpdate(rc.client, view, prompts, open));
  prompts.answer = true;
  EXPECT_TRUE(programUpdate(rc.client, view, prompts, open));
  EXPECT_EQ(opened, std::vector<std::wstring>{L"C:\\u\\ZorvekSetup.exe"});
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1], (Box{BoxIcon::Question,
                                   "Установщик обновления скачан:\nC:\\u\\ZorvekSetup.exe\n\n"
                                   "Запустить установку сейчас?"}));
  EXPECT_EQ(server.requests().size(), 5u);
}

}  // namespace
}  // namespace zorvek::gui
