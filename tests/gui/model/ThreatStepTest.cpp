#include "gui/model/ThreatStep.h"

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

class FakeUi : public ThreatUi {
 public:
  bool windowVisible() override { return visible; }
  int askDecision(const ipc::ThreatRecord& threat) override {
    asked.push_back(threat.path);
    const int d = decisions.empty() ? 0 : decisions.front();
    if (!decisions.empty()) decisions.erase(decisions.begin());
    return d;
  }
  void balloon(const std::string& title, const std::string& text) override {
    balloons.push_back(title + "|" + text);
  }
  void setTrayGreen(bool g) override { green.push_back(g); }
  void repaint() override { ++repaints; }

  bool visible = true;
  std::vector<int> decisions;
  std::vector<std::wstring> asked;
  std::vector<std::string> balloons;
  std::vector<bool> green;
  int repaints = 0;
};

ipc::ThreatRecord threat(const wchar_t* path, uint32_t level = 4) {
  return {path, "EICAR-Test-File", "SIG.MATCH", level, 68};
}

ServiceView withThreats(std::initializer_list<ipc::ThreatRecord> threats) {
  ServiceView v;
  v.connected = v.settingsLoaded = true;
  v.pendingThreats.assign(threats);
  return v;
}

TEST(ThreatStepTest, ThreeThreatsAreAskedOnePerStepInArrivalOrder) {
  Server server({Server::reply(ipc::kOpThreatDecision), Server::reply(ipc::kOpThreatDecision),
                 Server::reply(ipc::kOpThreatDecision)});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  FakeUi ui;
  ui.decisions = {1, 2, 3};
  ServiceView view = withThreats({threat(L"C:\\a"), threat(L"C:\\b", 7), threat(L"C:\\c")});
  bool open = false;
  for (int i = 0; i < 3; ++i) threatStep(rc.client, view, prompts, ui, open);
  EXPECT_EQ(ui.asked, (std::vector<std::wstring>{L"C:\\a", L"C:\\b", L"C:\\c"}));
  EXPECT_TRUE(view.pendingThreats.empty());
  EXPECT_EQ(ui.green, (std::vector<bool>{true, false, false}));
  EXPECT_TRUE(prompts.boxes.empty());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  // The record goes back exactly as received, with the chosen action.
  ipc::ThreatDecisionRequest second;
  ASSERT_TRUE(ipc::decodeThreatDecisionRequest(requests[1].payload, second));
  EXPECT_EQ(second, (ipc::ThreatDecisionRequest{L"C:\\b", 2, "EICAR-Test-File", "SIG.MATCH", 7, 68, {}}));
}

TEST(ThreatStepTest, ClosingWithoutAChoiceAsksAgainNextTime) {
  Server server({Server::reply(ipc::kOpThreatDecision)});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  FakeUi ui;
  ui.decisions = {0, 1};
  ServiceView view = withThreats({threat(L"C:\\a")});
  bool open = false;
  threatStep(rc.client, view, prompts, ui, open);
  EXPECT_EQ(view.pendingThreats.size(), 1u);
  EXPECT_TRUE(server.requests().empty());
  threatStep(rc.client, view, prompts, ui, open);
  EXPECT_EQ(ui.asked, (std::vector<std::wstring>{L"C:\\a", L"C:\\a"}));
  EXPECT_TRUE(view.pendingThreats.empty());
}

TEST(ThreatStepTest, NothingIsAskedWhenOffOrAlreadyAsking) {
  zorvek::test::TempDir dir;
  RecordedClient rc(zorvek::test::unusedPipePath(dir));
  RecordingPrompts prompts;
  FakeUi ui;
  ServiceView view = withThreats({threat(L"C:\\a"), threat(L"C:\\b")});

  view.settings.showThreatModal = false;
  bool open = false;
  threatStep(rc.client, view, prompts, ui, open);
  EXPECT_EQ(headlineFor(view), Headline::PendingThreats);

  view.settings.showThreatModal = true;
  open = true;  // a poll inside the open dialog's loop
  threatStep(rc.client, view, prompts, ui, open);
  EXPECT_TRUE(ui.asked.empty());
  EXPECT_TRUE(ui.balloons.empty());

  EXPECT_TRUE(rc.warnings.empty());  // no request was made
}

// While hidden, each detection is announced once, not at every poll; showing the window and
// hiding it again announces the one still pending anew.
TEST(ThreatStepTest, AHiddenWindowAnnouncesEachDetectionOnce) {
  Server server({Server::reply(ipc::kOpThreatDecision)});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  FakeUi ui;
  ui.visible = false;
  ServiceView view = withThreats({threat(L"C:\\a")});
  bool open = false;
  for (int i = 0; i < 3; ++i) threatStep(rc.client, view, prompts, ui, open);
  view.pendingThreats.push_front(threat(L"C:\\b"));
  threatStep(rc.client, view, prompts, ui, open);
  ui.visible = true;  // closed without a choice
  threatStep(rc.client, view, prompts, ui, open);
  ui.visible = false;
  threatStep(rc.client, view, prompts, ui, open);
  const std::string title = "ZORVEK Antivirus: обнаружена угроза|EICAR-Test-File — ";
  EXPECT_EQ(ui.balloons, (std::vector<std::string>{title + "C:\\a", title + "C:\\b", title + "C:\\b"}));
  EXPECT_EQ(ui.asked, std::vector<std::wstring>{L"C:\\b"});
  EXPECT_EQ(view.pendingThreats.size(), 2u);
}

TEST(ThreatStepTest, AFailedDecisionIsDroppedWithAWarningThatSaysWhereTheFileIs) {
  Server server({Server::reply(ipc::kOpError, ipc::encodeStringPayload("access denied"))});
  RecordedClient rc(server.path());
  RecordingPrompts prompts;
  FakeUi ui;
  ui.decisions = {1};
  ServiceView view = withThreats({threat(L"C:\\a"), threat(L"C:\\b")});
  bool open = false;
  threatStep(rc.client, view, prompts, ui, open);
  ASSERT_EQ(view.pendingThreats.size(), 1u);
  EXPECT_EQ(view.pendingThreats.front().path, L"C:\\b");
  EXPECT_TRUE(ui.green.empty());  // the tray keeps its colour
  EXPECT_EQ(ui.repaints, 1);
  EXPECT_EQ(prompts.boxes,
            (std::vector<Box>{{BoxIcon::Warning, "Не удалось применить действие:\naccess denied\n\n"
                                                 "Файл остался на месте; проверка найдёт его снова."}}));
  EXPECT_FALSE(open);
}

}  // namespace
}  // namespace zorvek::gui
