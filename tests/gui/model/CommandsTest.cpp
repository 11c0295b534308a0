#include "gui/model/Commands.h"

#include <gtest/gtest.h>

#include "Recorders.h"
#include "ScriptedPipeServer.h"

namespace zorvek::gui {
namespace {

using Server = zorvek::test::ScriptedPipeServer;
using test::Box;
using test::RecordedClient;
using test::RecordingPrompts;

TEST(CommandsTest, NavigationCommandsMapToPages) {
  for (int i = 0; i < kPageCount; ++i) {
    const auto page = static_cast<Page>(i);
    EXPECT_EQ(pageOfCommand(pageCommand(page)), page);
  }
  EXPECT_EQ(pageCommand(Page::Settings), 104);
  EXPECT_EQ(pageCommand(Page::Firewall), 121);
  EXPECT_FALSE(pageOfCommand(103));
  EXPECT_FALSE(pageOfCommand(kCmdQuickScan));
}

TEST(CommandsTest, AutostartCommandQuotesThePathAndRefusesLongOnes) {
  EXPECT_EQ(autostartCommand(L"C:\\Program Files\\ZORVEK\\ZorvekAntivirus.exe"),
            L"\"C:\\Program Files\\ZORVEK\\ZorvekAntivirus.exe\" --autostart");
  EXPECT_FALSE(autostartCommand(L""));
  EXPECT_TRUE(autostartCommand(std::wstring(259, L'a')));
  EXPECT_FALSE(autostartCommand(std::wstring(260, L'a')));
}

TEST(CommandsTest, ScanFailuresShowTheirBoxOnlyWhenAsked) {
  Server server({Server::reply(ipc::kOpError, ipc::encodeStringPayload("a scan is already running")),
                 Server::reply(ipc::kOpError, ipc::encodeStringPayload("a scan is already running")),
                 Server::reply(ipc::kOpStartScan)});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  EXPECT_FALSE(startScan(rc.client, true, &prompts));
  EXPECT_EQ(prompts.boxes, (std::vector<Box>{{BoxIcon::Error, "Не удалось начать проверку:\na scan is already running"}}));
  EXPECT_FALSE(startScan(rc.client, false, nullptr));
  EXPECT_TRUE(startScan(rc.client, false, nullptr));
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].payload, ipc::encodeStartScanRequest({ipc::ScanScope::Full, {}}));
  EXPECT_EQ(requests[2].payload, ipc::encodeStartScanRequest({ipc::ScanScope::Quick, {}}));
}

TEST(CommandsTest, ToggleProtectionLoadsTheCopyFirstAndUndoesAFailedSend) {
  Settings onService;
  onService.protectionEnabled = true;
  onService.scheduledHour = 13;
  Server server({Server::reply(ipc::kOpGetConfig, ipc::encodeConfigPayload(onService)),
                 Server::reply(ipc::kOpSetConfig),
                 Server::reply(ipc::kOpError, ipc::encodeStringPayload("settings are locked"))});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView view;  // never polled: the copy is all defaults
  view.settings.scheduledHour = 0;
  ASSERT_TRUE(toggleProtection(rc.client, view, &prompts));
  EXPECT_FALSE(view.settings.protectionEnabled);
  Settings sent;
  ASSERT_TRUE(ipc::decodeConfigPayload(server.requests()[1].payload, sent));
  EXPECT_FALSE(sent.protectionEnabled);
  EXPECT_EQ(sent.scheduledHour, 13u);  // the service's value, not the default

  EXPECT_FALSE(toggleProtection(rc.client, view, &prompts));
  EXPECT_FALSE(view.settings.protectionEnabled);
  EXPECT_EQ(prompts.boxes, (std::vector<Box>{{BoxIcon::Error, "Не удалось сохранить настройки:\nsettings are locked"}}));
  EXPECT_EQ(server.requests().size(), 3u);
}

TEST(CommandsTest, ToggleProtectionSendsNothingWithoutTheServicesSettings) {
  zorvek::test::TempDir dir;
  RecordedClient down(zorvek::test::unusedPipePath(dir));
  RecordingPrompts prompts;
  ServiceView view;
  EXPECT_FALSE(toggleProtection(down.client, view, nullptr));
  EXPECT_TRUE(view.settings.protectionEnabled);
  EXPECT_FALSE(view.settingsLoaded);
  EXPECT_TRUE(prompts.boxes.empty());
}

}  // namespace
}  // namespace zorvek::gui
