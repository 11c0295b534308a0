#include "gui/model/Poll.h"

#include <gtest/gtest.h>

#include "Recorders.h"
#include "ScriptedPipeServer.h"
#include "TestUtil.h"
#include "gui/model/Headline.h"

namespace zorvek::gui {
namespace {

using Server = zorvek::test::ScriptedPipeServer;
using test::Box;
using test::RecordedClient;
using test::RecordingPrompts;

ipc::ThreatRecord threat(const wchar_t* path) { return {path, "EICAR-Test-File", "SIG.MATCH", 4, 68}; }

Server::Step helloStep(ipc::HelloReply hello = {}) {
  if (hello.version.empty()) hello.version = "1.2.0";
  return Server::reply(ipc::kOpHello, ipc::encodeHelloReply(hello));
}

Server::Step progressStep(std::vector<ipc::ThreatRecord> detections, bool running = false) {
  ipc::ProgressReply p;
  p.scanRunning = running;
  p.progress.filesDone = 5;
  p.summary.filesScanned = 9;
  p.detections = std::move(detections);
  return Server::reply(ipc::kOpProgress, ipc::encodeProgressReply(p));
}

Server::Step settingsStep(uint32_t hour) {
  Settings s;
  s.scheduledHour = hour;
  s.signatureDb = L"C:\\db";
  return Server::reply(ipc::kOpGetConfig, ipc::encodeConfigPayload(s));
}

std::vector<uint32_t> opcodes(const Server& server) {
  std::vector<uint32_t> out;
  for (const auto& r : server.requests()) out.push_back(r.opcode);
  return out;
}

TEST(PollTest, TheFirstHelloLoadsTheSettingsAndLaterOnesDoNot) {
  Server server({helloStep(), settingsStep(17), progressStep({}, true), helloStep(), progressStep({})});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView view;
  poll(rc.client, view, prompts);
  EXPECT_TRUE(view.connected);
  EXPECT_TRUE(view.settingsLoaded);
  EXPECT_EQ(view.settings.scheduledHour, 17u);
  EXPECT_TRUE(view.settings.signatureDb.empty());
  EXPECT_TRUE(view.status.scanRunning);  // from the progress reply
  poll(rc.client, view, prompts);
  EXPECT_FALSE(view.status.scanRunning);
  EXPECT_EQ(opcodes(server), (std::vector<uint32_t>{ipc::kOpHello, ipc::kOpGetConfig, ipc::kOpProgress,
                                                    ipc::kOpHello, ipc::kOpProgress}));
  EXPECT_EQ(view.progress.filesDone, 5u);
  EXPECT_EQ(view.summary.filesScanned, 9u);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST(PollTest, PendingThreatsOutliveTheServiceAndReconnectReloadsSettings) {
  RecordingPrompts prompts;
  ServiceView view;
  {
    Server up({helloStep(), settingsStep(1), progressStep({threat(L"C:\\a"), threat(L"C:\\b")})});
    RecordedClient rc(up.path());
    poll(rc.client, view, prompts);
  }
  ASSERT_EQ(view.pendingThreats.size(), 2u);
  EXPECT_EQ(headlineFor(view), Headline::PendingThreats);
  {
    zorvek::test::TempDir dir;
    RecordedClient down(zorvek::test::unusedPipePath(dir));
    poll(down.client, view, prompts);
    EXPECT_EQ(down.warnings.size(), 2u);  // hello and its retry, nothing else
  }
  EXPECT_FALSE(view.connected);
  EXPECT_EQ(view.pendingThreats.size(), 2u);
  EXPECT_STREQ(headlineText(headlineFor(view)), "Служба не отвечает. Запустите ZorvekService в services.msc");
  {
    Server back({helloStep(), settingsStep(2), progressStep({threat(L"C:\\c")})});
    RecordedClient rc(back.path());
    poll(rc.client, view, prompts);
    EXPECT_EQ(opcodes(back), (std::vector<uint32_t>{ipc::kOpHello, ipc::kOpGetConfig, ipc::kOpProgress}));
  }
  EXPECT_EQ(view.settings.scheduledHour, 2u);
  ASSERT_EQ(view.pendingThreats.size(), 3u);
  EXPECT_EQ(view.pendingThreats[0].path, L"C:\\a");
  EXPECT_EQ(view.pendingThreats[2].path, L"C:\\c");
  EXPECT_TRUE(prompts.boxes.empty());
}

// Until the settings have been read once, the copy holds defaults; they are asked for again at
// every poll rather than left to be saved over the service's own.
TEST(PollTest, SettingsThatFailToLoadAreAskedForAgain) {
  Server server({helloStep(), Server::reply(ipc::kOpGetConfig, "bad"), progressStep({}), helloStep(),
                 settingsStep(5), progressStep({})});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView view;
  poll(rc.client, view, prompts);
  EXPECT_TRUE(view.connected);
  EXPECT_FALSE(view.settingsLoaded);
  poll(rc.client, view, prompts);
  EXPECT_TRUE(view.settingsLoaded);
  EXPECT_EQ(view.settings.scheduledHour, 5u);
}

TEST(PollTest, AFailedProgressKeepsThePreviousValues) {
  Server server({helloStep(), progressStep({threat(L"C:\\a")}, true), helloStep(),
                 Server::reply(ipc::kOpProgress, "torn")});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  ServiceView view;
  view.connected = view.settingsLoaded = true;
  poll(rc.client, view, prompts);
  EXPECT_TRUE(view.status.scanRunning);
  poll(rc.client, view, prompts);
  EXPECT_FALSE(view.status.scanRunning);  // hello's own flag stands
  EXPECT_EQ(view.progress.filesDone, 5u);
  EXPECT_EQ(view.pendingThreats.size(), 1u);
}

TEST(PollTest, WaitFlagsReportTheOutcomeOnce) {
  ipc::HelloReply liveRunning, liveOk, liveFailed, selfRunning, selfNone, selfFailed, selfDownloaded;
  liveRunning.liveUpdateRunning = true;
  liveFailed.liveUpdateError = "HTTP 503";
  selfRunning.selfUpdateRunning = true;
  selfFailed.selfUpdateError = "no route";
  selfDownloaded.installerPath = L"C:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup.exe";
  const struct {
    const char* what;
    bool live;
    ipc::HelloReply hello;
    std::vector<Box> boxes;
    bool stillWaiting;
  } cases[] = {
      {"live update running", true, liveRunning, {}, true},
      {"live update done", true, liveOk, {{BoxIcon::Information, "База сигнатур обновлена из интернета."}}, false},
      {"live update failed", true, liveFailed,
       {{BoxIcon::Error, "Обновление из интернета не удалось:\nHTTP 503"}}, false},
      {"self-update running", false, selfRunning, {}, true},
      {"self-update failed", false, selfFailed, {{BoxIcon::Error, "Обновление программы не удалось:\nno route"}}, false},
      {"self-update downloaded", false, selfDownloaded,
       {{BoxIcon::Information,
         "Установщик скачан:\nC:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup.exe\n\n"
         "Нажмите «Установить обновление», чтобы запустить его."}},
       false},
      {"self-update found nothing", false, selfNone,
       {{BoxIcon::Information, "Обновлений нет — установлена актуальная версия."}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server({helloStep(c.hello), progressStep({}), helloStep(c.hello), progressStep({})});
    RecordedClient rc(server.path());
    RecordingPrompts prompts;
    ServiceView view;
    view.connected = view.settingsLoaded = true;
    (c.live ? view.waitingForLiveUpdate : view.waitingForSelfUpdate) = true;
    poll(rc.client, view, prompts);
    poll(rc.client, view, prompts);
    EXPECT_EQ(prompts.boxes, c.boxes);
    EXPECT_EQ(c.live ? view.waitingForLiveUpdate : view.waitingForSelfUpdate, c.stillWaiting);
  }
}

TEST(PollTest, WaitFlagsWaitForTheService) {
  zorvek::test::TempDir dir;
  RecordedClient down(zorvek::test::unusedPipePath(dir));
  RecordingPrompts prompts;
  ServiceView view;
  view.waitingForLiveUpdate = view.waitingForSelfUpdate = true;
  poll(down.client, view, prompts);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_TRUE(view.waitingForLiveUpdate);
  EXPECT_TRUE(view.waitingForSelfUpdate);
}

}  // namespace
}  // namespace zorvek::gui
