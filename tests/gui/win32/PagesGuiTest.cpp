// The pages and the threat dialog of ZorvekAntivirus.exe: against the real service for what it
// can show (scans, settings, Wine's firewall), and against a fake service in this process for
// detections and a quarantine of thousands of entries.
#include <cstdio>
#include <mutex>
#include <thread>

#include "GdiObjects.h"
#include "GuiFixture.h"
#include "ScriptedPipeServer.h"
#include "common/Messages.h"
#include "gui/win32/MainWindow.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::test {
namespace {

constexpr COLORREF kRed = RGB(209, 59, 47);
constexpr COLORREF kBlue = RGB(30, 81, 168);
constexpr COLORREF kGreen = RGB(30, 158, 90);
constexpr COLORREF kTableHeader = RGB(22, 43, 77);

// Answers like a running service: protected, a few signatures, the detections and quarantine
// the test hands it. Every request is recorded by the server.
class FakeService {
 public:
  FakeService() : server_({}, [this](const ScriptedPipeServer::Request& r) { return answer(r); }) {}

  const std::wstring& path() const { return server_.path(); }
  void detect(ipc::ThreatRecord threat) {
    std::lock_guard<std::mutex> lock(mutex_);
    threats_.push_back(std::move(threat));
  }
  void setProgress(ipc::ProgressReply progress) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_ = std::move(progress);
  }
  void setSettings(const Settings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
  }
  void setQuarantine(std::vector<ipc::QuarantineRecord> list) {
    std::lock_guard<std::mutex> lock(mutex_);
    quarantine_ = ipc::encodeQuarantineList(list);
  }
  std::vector<ScriptedPipeServer::Request> requests(uint32_t opcode) const {
    std::vector<ScriptedPipeServer::Request> out;
    for (auto& r : server_.requests())
      if (r.opcode == opcode) out.push_back(r);
    return out;
  }

 private:
  ScriptedPipeServer::Step answer(const ScriptedPipeServer::Request& r) {
    using S = ScriptedPipeServer;
    switch (r.opcode) {
      case ipc::kOpHello: {
        ipc::HelloReply h;
        h.version = "1.2.0";
        h.signatureCount = 9;
        h.databaseVersion = "2026.12.09";
        h.protectionEnabled = true;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          h.scanRunning = progress_.scanRunning;
        }
        return S::reply(r.opcode, ipc::encodeHelloReply(h));
      }
      case ipc::kOpGetConfig: {
        std::lock_guard<std::mutex> lock(mutex_);
        return S::reply(r.opcode, ipc::encodeConfigPayload(settings_));
      }
      case ipc::kOpProgress: {
        std::lock_guard<std::mutex> lock(mutex_);
        ipc::ProgressReply p = progress_;
        p.detections.swap(threats_);
        return S::reply(r.opcode, ipc::encodeProgressReply(p));
      }
      case ipc::kOpQuarantineList: {
        std::lock_guard<std::mutex> lock(mutex_);
        return S::reply(r.opcode, quarantine_.empty() ? ipc::encodeQuarantineList({}) : quarantine_);
      }
      default:
        return S::reply(r.opcode);
    }
  }

  mutable std::mutex mutex_;
  std::vector<ipc::ThreatRecord> threats_;
  ipc::ProgressReply progress_;
  Settings settings_;
  std::string quarantine_;
  ScriptedPipeServer server_;  // last: its thread calls answer() from the start
};

// Whether the shell shows a notification balloon: a visible balloon tooltip of any process.
bool balloonShown() {
  bool found = false;
  EnumWindows(
      [](HWND w, LPARAM out) -> BOOL {
        wchar_t name[32] = {};
        GetClassNameW(w, name, 32);
        constexpr LONG kBalloonStyle = 0x40;  // TTS_BALLOON
        if (lstrcmpiW(name, L"tooltips_class32") == 0 && IsWindowVisible(w) &&
            (GetWindowLongW(w, GWL_STYLE) & kBalloonStyle)) {
          *reinterpret_cast<bool*>(out) = true;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

class PagesGuiTest : public GuiFixture {
 protected:
  void useFakeService(const FakeService& fake) { setEnvironmentVariable(L"ZORVEK_PIPE", fake.path()); }

  // Any window of the program, captured like the main window.
  Image captureWindow(HWND hwnd, const char* name) {
    Image image = printClient(hwnd);
    if (image.empty() || countLike(image, {0, 0, image.width, image.height}, kUnpainted, 0) >
                             image.width * image.height / 2) {
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      Sleep(150);
      image = screenClient(hwnd);
    }
    EXPECT_TRUE(savePng(image, pathToWide(artifacts_ / (std::string(name) + ".png")))) << name;
    if (const auto shots = environmentVariable(L"ZORVEK_SCREENSHOTS")) {
      EXPECT_TRUE(savePng(image, *shots + L"\\" + toWide(name) + L".png")) << name;
    }
    return image;
  }

  // A window of the program as it stands, without saving it.
  Image grab(HWND hwnd) {
    Image image = printClient(hwnd);
    if (image.empty() || countLike(image, {0, 0, image.width, image.height}, kUnpainted, 0) >
                             image.width * image.height / 2)
      image = screenClient(hwnd);
    return image;
  }

  // "Карантин" of the threat dialog, the third button from the right.
  static RECT dialogQuarantineButton(int w, int h) {
    return {w - px(16 + 112 * 3 + 16), h - px(16 + 34), w - px(16 + 112 * 2 + 16), h - px(16)};
  }
  static void clickIn(HWND window, const RECT& r) {
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  }

  // A point of the page area given at 96 DPI from its top left corner.
  void clickPage(int x, int y) { click(px(220 + x), px(y)); }
  // The page width at 96 DPI.
  int pageWidth() {
    RECT r{};
    GetClientRect(hwnd_, &r);
    return MulDiv(r.right - px(220), 96, static_cast<int>(GetDpiForSystem()));
  }

  // The program's message box: its text, then closed with `answer`.
  std::wstring answerBox(int answer = IDOK) {
    const HWND box = waitForWindow(gui_.pid(), L"#32770", 10000);
    if (!box) return L"(no message box)";
    std::wstring text;
    // The box is found as soon as it exists; its text control comes a moment later.
    waitFor([&] {
      text.clear();
      EnumChildWindows(
          box,
          [](HWND child, LPARAM out) -> BOOL {
            wchar_t name[16] = {}, buffer[512] = {};
            GetClassNameW(child, name, 16);
            if (lstrcmpiW(name, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0)
              *reinterpret_cast<std::wstring*>(out) += buffer;
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&text));
      return !text.empty();
    }, 3000);
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
    waitFor([&] { return !IsWindow(box); }, 5000);
    return text;
  }
};

TEST_F(PagesGuiTest, TheThreatDialogAsksUntilTheUserDecides) {
  FakeService fake;
  fake.detect({L"C:\\users\\Public\\eicar.com", "EICAR-Test-File", "SIG.MATCH", 4, 68});
  useFakeService(fake);
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  HWND dialog = waitForWindow(gui_.pid(), L"ZorvekThreatDialog", kWindowWaitMs);
  ASSERT_TRUE(dialog) << "no threat dialog";
  EXPECT_FALSE(balloonShown()) << "a balloon although the window shows";
  EXPECT_TRUE(waitFor([&] { return !IsWindowEnabled(hwnd_); }, 2000))
      << "the main window stays usable under the dialog";
  Sleep(200);
  const Image shown = captureWindow(dialog, "threat-dialog");
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(closeTo(shown.at(px(6), px(4)), kRed, 2)) << describe(shown.at(px(6), px(4)));
  EXPECT_TRUE(closeTo(shown.at(shown.width - px(6), px(72)), kRed, 2));
  EXPECT_TRUE(closeTo(shown.at(shown.width - px(6), px(80)), kBackground, 2));
  // "Карантин", filled blue.
  const int w = shown.width;
  const RECT quarantine = dialogQuarantineButton(shown.width, shown.height);
  EXPECT_TRUE(closeTo(shown.at(quarantine.left + px(6), quarantine.top + px(4)), kBlue, 2))
      << describe(shown.at(quarantine.left + px(6), quarantine.top + px(4)));
  // "Удалить" dark red and "Разрешить" grey, to its right.
  const auto fillRight = [&](int n) {
    return shown.at(quarantine.left + px(6 + 120 * n), quarantine.top + px(4));
  };
  EXPECT_TRUE(closeTo(fillRight(1), RGB(176, 47, 37), 2)) << describe(fillRight(1));
  EXPECT_TRUE(closeTo(fillRight(2), RGB(216, 222, 230), 2)) << describe(fillRight(2));
  EXPECT_GT(countUnlike(shown, {px(104), px(92), w - px(20), px(118)}, kBackground), 30)
      << "the threat name left no pixels";

  // "Подробнее" opens a white card listing what the record carries.
  PostMessageW(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(px(104 + 20), px(236)));
  EXPECT_TRUE(waitFor([&] { return closeTo(grab(dialog).at(px(104 + 4), px(262)), RGB(255, 255, 255), 0); }, 3000))
      << "no details card";
  const Image details = captureWindow(dialog, "threat-dialog-details");
  EXPECT_GT(countUnlike(details, {px(114), px(260), w - px(30), px(280)}, RGB(255, 255, 255)), 20)
      << "the card lists nothing";

  // Escape leaves the threat pending: the next poll asks again.
  PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }, 5000)) << "Escape did not close the dialog";
  const ULONGLONG closed = GetTickCount64();
  dialog = waitForWindow(gui_.pid(), L"ZorvekThreatDialog", 5000);
  ASSERT_TRUE(dialog) << "the threat was not asked again";
  // At the next one-second poll, with room for a loaded machine.
  EXPECT_LT(GetTickCount64() - closed, 2500u);
  EXPECT_TRUE(fake.requests(ipc::kOpThreatDecision).empty());

  clickIn(dialog, quarantine);
  ASSERT_TRUE(waitFor([&] { return !fake.requests(ipc::kOpThreatDecision).empty(); }, 5000));
  ipc::ThreatDecisionRequest decision;
  ASSERT_TRUE(ipc::decodeThreatDecisionRequest(fake.requests(ipc::kOpThreatDecision)[0].payload, decision));
  EXPECT_EQ(decision, (ipc::ThreatDecisionRequest{L"C:\\users\\Public\\eicar.com", 1, "EICAR-Test-File",
                                                  "SIG.MATCH", 4, 68, {}}));
  EXPECT_TRUE(waitFor([&] { return IsWindowEnabled(hwnd_) != FALSE; }, 2000));

  // Hidden, the program announces a detection in the tray and asks once the window is shown.
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(hwnd_); }, 5000));
  // Two polls after the detection: the one that delivers it and one more that could ask.
  // The balloon of an earlier detection goes first, so the next one is seen arriving.
  ASSERT_TRUE(waitFor([] { return !balloonShown(); }, 20000)) << "a balloon stays up";
  const size_t polls = fake.requests(ipc::kOpProgress).size();
  fake.detect({L"C:\\users\\Public\\second.exe", "Trojan.Test", "HEUR", 3, 4096});
  ASSERT_TRUE(waitFor([&] { return fake.requests(ipc::kOpProgress).size() >= polls + 2; }, 5000));
  EXPECT_FALSE(waitForWindow(gui_.pid(), L"ZorvekThreatDialog", 0)) << "a dialog over a hidden window";
  EXPECT_TRUE(waitFor(balloonShown, 3000)) << "no balloon for the detection";
  trayCommand(gui::kTrayOpen);
  dialog = waitForWindow(gui_.pid(), L"ZorvekThreatDialog", 5000);
  ASSERT_TRUE(dialog) << "the pending threat was not asked once the window showed";
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  EXPECT_EQ(fake.requests(ipc::kOpThreatDecision).size(), 1u);
}

// With the dialog switched off, detections wait: the Overview turns red and nothing asks.
TEST_F(PagesGuiTest, WithoutTheDialogDetectionsWaitOnARedOverview) {
  FakeService fake;
  Settings settings;
  settings.showThreatModal = false;
  fake.setSettings(settings);
  fake.detect({L"C:\\users\\Public\\eicar.com", "EICAR-Test-File", "SIG.MATCH", 4, 68});
  fake.detect({L"C:\\users\\Public\\second.exe", "Trojan.Test", "HEUR", 3, 4096});
  useFakeService(fake);
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  ASSERT_TRUE(waitFor([&] { return emblemShows(capture(), kEmblemThreat); }, 5000)) << "the emblem is not red";
  const Image image = captureAs("overview-threat");
  // "Есть угрозы, требующие решения" under the emblem, in red.
  EXPECT_GT(countLike(image, {px(240), px(272), image.width - px(20), px(308)}, kRed, 40), 20);

  const size_t polls = fake.requests(ipc::kOpProgress).size();
  ASSERT_TRUE(waitFor([&] { return fake.requests(ipc::kOpProgress).size() >= polls + 2; }, 5000));
  EXPECT_FALSE(waitForWindow(gui_.pid(), L"ZorvekThreatDialog", 0)) << "a dialog although switched off";
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(hwnd_); }, 5000));
  const size_t hidden = fake.requests(ipc::kOpProgress).size();
  ASSERT_TRUE(waitFor([&] { return fake.requests(ipc::kOpProgress).size() >= hidden + 2; }, 5000));
  EXPECT_FALSE(balloonShown()) << "a balloon although switched off";
  EXPECT_TRUE(fake.requests(ipc::kOpThreatDecision).empty());
}

// The whole way of a real-time detection: the real service sees a file dropped into a watched
// folder, the program asks, "Карантин" moves the file into the quarantine, and the Quarantine
// page, open all along, shows it without being opened again.
TEST_F(PagesGuiTest, ARealTimeDetectionIsQuarantinedFromTheDialog) {
  const std::wstring watched = dir_.file(L"watched");
  ASSERT_TRUE(createDirectories(watched));
  ScopedEnvironment watch(L"ZORVEK_WATCH_DIRS", watched);
  ASSERT_NO_FATAL_FAILURE(startService());
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  clickNav(2);
  ASSERT_TRUE(waitSelected(2));

  const std::wstring dropped = watched + L"\\eicar.com";
  writeFile(dropped, kEicar);
  const HWND dialog = waitForWindow(gui_.pid(), L"ZorvekThreatDialog", kWindowWaitMs);
  ASSERT_TRUE(dialog) << "no threat dialog\n" << readFile(data_ + L"\\zorvek.log");
  Sleep(200);
  const Image shown = captureWindow(dialog, "threat-dialog-realtime");
  ASSERT_FALSE(shown.empty());
  EXPECT_TRUE(closeTo(shown.at(px(6), px(4)), kRed, 2)) << describe(shown.at(px(6), px(4)));
  clickIn(dialog, dialogQuarantineButton(shown.width, shown.height));
  ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }, 5000)) << "the dialog stayed";
  EXPECT_TRUE(waitFor([&] { return !pathExists(dropped); }, 5000)) << "the file is still in its folder";
  EXPECT_TRUE(waitFor([&] { return trayShowsGreen("tray-after-realtime"); }, 3000))
      << "the tray did not turn green again";

  auto c = client();
  std::vector<ipc::QuarantineRecord> list;
  ASSERT_TRUE(c.quarantineList(list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].originPath, dropped);
  EXPECT_NE(list[0].threat.find("EICAR"), std::string::npos) << list[0].threat;
  EXPECT_TRUE(waitFor([&] { return closeTo(capture().at(px(220 + 45), px(116)), kTableHeader, 2); }, 5000))
      << "the Quarantine page did not show the new entry";
  captureAs("quarantine-after-realtime");

  // "Восстановить" of the one row puts the file back where it was found.
  const int right = pageWidth() - 40 - 12;
  clickPage(right - 200 + 48, 144 + 24);
  EXPECT_TRUE(waitFor([&] { return readFile(dropped) == kEicar; }, 5000)) << "the file was not restored";
  EXPECT_TRUE(waitFor([&] { return c.quarantineList(list) && list.empty(); }, 5000)) << list.size() << " entries";
  // The header bar has gone from the far right, which the empty page's one line leaves clear.
  EXPECT_TRUE(waitFor([&] { return closeTo(capture().at(px(220 + right), px(116)), kBackground, 2); }, 5000))
      << "the page still shows the entry";
}

// The window in this process, so its GDI objects can be counted under Wine too.
TEST_F(PagesGuiTest, GdiObjectsStayFlatOver300PollsWithDialogsInBetween) {
  FakeService fake;
  ui::GdiplusSession gdiplus;
  gui::SessionOptions options;
  options.client.pipe = fake.path();
  options.logWarning = [](std::string_view) {};
  gui::MainWindow window(options);
  ASSERT_TRUE(window.create(GetModuleHandleW(nullptr), true));
  const HWND hwnd = window.hwnd();
  const auto tick = [&](int n) {
    for (int i = 0; i < n; ++i) {
      SendMessageW(hwnd, WM_TIMER, 1, 0);
      RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
  };
  // The dialog runs its own message loop inside the poll that opens it: a thread decides.
  const auto dialogRound = [&] {
    fake.detect({L"C:\\users\\Public\\eicar.com", "EICAR-Test-File", "SIG.MATCH", 4, 68});
    std::thread decide([] {
      const HWND dialog = waitForWindow(currentProcessId(), L"ZorvekThreatDialog", 10000);
      if (!dialog) return;
      Sleep(50);  // painted at least once
      RECT client{};
      GetClientRect(dialog, &client);
      clickIn(dialog, dialogQuarantineButton(client.right, client.bottom));
    });
    tick(1);
    decide.join();
  };
  tick(10);
  dialogRound();  // the fonts and brushes every later round reuses
  const size_t decisions = fake.requests(ipc::kOpThreatDecision).size();
  ASSERT_EQ(decisions, 1u) << "no dialog was answered";
  const DWORD before = test::gdiObjects();
  ASSERT_GT(before, 0u) << "no way to count GDI objects here";
  for (int round = 0; round < 3; ++round) {
    tick(100);
    dialogRound();
  }
  const DWORD after = test::gdiObjects();
  EXPECT_EQ(fake.requests(ipc::kOpThreatDecision).size(), decisions + 3);
  std::printf("GDI objects: %lu before, %lu after 300 polls and 3 dialogs\n", before, after);
  EXPECT_LE(after, before + 2);
  DestroyWindow(hwnd);
  // Its WM_QUIT is meant for a program's loop, not for the tests after this one.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST_F(PagesGuiTest, TrayScanCommandsReachTheService) {
  FakeService fake;
  useFakeService(fake);
  ASSERT_NO_FATAL_FAILURE(startGui(L"--autostart"));
  trayCommand(gui::kTrayFullScan);
  ASSERT_TRUE(waitFor([&] { return !fake.requests(ipc::kOpStartScan).empty(); }, 5000)) << "no StartScan";
  ipc::StartScanRequest start;
  ASSERT_TRUE(ipc::decodeStartScanRequest(fake.requests(ipc::kOpStartScan)[0].payload, start));
  EXPECT_EQ(start, (ipc::StartScanRequest{ipc::ScanScope::Full, {}}));
  EXPECT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, 5000)) << "the scan did not show the window";
  trayCommand(gui::kTrayCancelScan);
  EXPECT_TRUE(waitFor([&] { return !fake.requests(ipc::kOpCancelScan).empty(); }, 5000)) << "no CancelScan";
}

TEST_F(PagesGuiTest, AQuarantineOf5000EntriesScrollsAndActsOnTheRowShown) {
  FakeService fake;
  std::vector<ipc::QuarantineRecord> list(5000);
  for (size_t i = 0; i < list.size(); ++i) {
    auto& e = list[i];
    e.id = 1000 + i;
    e.name = L"file" + std::to_wstring(i) + L".exe";
    e.originPath = L"C:\\Users\\Public\\Downloads\\" + e.name;
    e.threat = i % 2 ? "Trojan.Agent" : "Adware.Toolbar";
    e.severity = static_cast<uint32_t>(i % 5);
  }
  fake.setQuarantine(list);
  useFakeService(fake);
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  clickNav(2);
  ASSERT_TRUE(waitSelected(2));
  ASSERT_TRUE(waitFor([&] { return closeTo(capture().at(px(220 + 45), px(116)), kTableHeader, 2); }, 5000))
      << "no table header";
  captureAs("quarantine");

  // Ten notches down: thirty rows; the first row's "Восстановить" now stands for entry 30.
  PostMessageW(hwnd_, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA * 10)), 0);
  const int right = pageWidth() - 40 - 14;
  clickPage(right - 12 - 150, 144 + 24);
  ASSERT_TRUE(waitFor([&] { return !fake.requests(ipc::kOpQuarantineRestore).empty(); }, 5000));
  EXPECT_EQ(fake.requests(ipc::kOpQuarantineRestore)[0].payload, ipc::encodeU64Payload(1030));

  // A click on the bar's track below its thumb turns a page; "Удалить" asks first.
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int pageHeight = MulDiv(client.bottom, 96, static_cast<int>(GetDpiForSystem()));
  const int visible = (pageHeight - 20 - 144) / 48;
  clickPage(pageWidth() - 45, 144 + visible * 48 - 4);
  Sleep(300);
  const size_t restores = fake.requests(ipc::kOpQuarantineRestore).size();
  clickPage(right - 48, 144 + 24);
  EXPECT_EQ(toUtf8(answerBox(IDYES)), "Объект будет удалён безвозвратно. Продолжить?");
  ASSERT_TRUE(waitFor([&] { return !fake.requests(ipc::kOpQuarantineDelete).empty(); }, 5000));
  EXPECT_EQ(fake.requests(ipc::kOpQuarantineDelete)[0].payload,
            ipc::encodeU64Payload(static_cast<uint64_t>(1030 + visible)));
  EXPECT_EQ(fake.requests(ipc::kOpQuarantineRestore).size(), restores);
}

// The bar fills by the counters while the scan runs and turns green, full, at its end.
TEST_F(PagesGuiTest, TheScanPageFollowsTheProgressToTheEnd) {
  FakeService fake;
  ipc::ProgressReply running;
  running.scanRunning = true;
  running.progress = {25, 100, 3 << 20, 0, L"C:\\Windows\\System32\\kernel32.dll", L"scanning"};
  fake.setProgress(running);
  useFakeService(fake);
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  clickNav(1);
  ASSERT_TRUE(waitSelected(1));
  const int track = pageWidth() - 80;
  const auto barAt = [&](const Image& image, int share) { return image.at(px(220 + 40 + track * share / 100), px(129)); };
  ASSERT_TRUE(waitFor([&] { return closeTo(barAt(capture(), 20), kBlue, 2); }, 5000)) << describe(barAt(capture(), 20));
  const Image half = captureAs("scan-progress");
  EXPECT_TRUE(closeTo(barAt(half, 30), RGB(216, 222, 230), 2)) << describe(barAt(half, 30));

  ipc::ProgressReply finished;
  finished.progress = {100, 100, 12 << 20, 0, {}, L"finished"};
  finished.summary = {100, 1, 2, 12 << 20, 4000, false};
  fake.setProgress(finished);
  ASSERT_TRUE(waitFor([&] { return closeTo(barAt(capture(), 90), kGreen, 2); }, 5000)) << describe(barAt(capture(), 90));
  const Image done = captureAs("scan-finished");
  // "Найдено угроз: 1, ..." in red.
  EXPECT_GT(countLike(done, {px(260), px(270), done.width - px(40), px(300)}, kRed, 40), 10);
}

TEST_F(PagesGuiTest, SettingsAreSavedAndTheFirewallPageShowsItsErrorAndAQuickScanEnds) {
  // A profile of its own keeps the quick scan to this folder and the system's.
  const std::wstring profile = dir_.file(L"profile");
  ASSERT_TRUE(createDirectories(profile + L"\\Downloads"));
  writeFile(profile + L"\\Downloads\\readme.txt", "nothing to see");
  ScopedEnvironment home(L"USERPROFILE", profile);
  ASSERT_NO_FATAL_FAILURE(startService());
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  clickNav(3);
  ASSERT_TRUE(waitSelected(3));
  // "Сканировать съёмные носители" is off by default: a click turns its box blue.
  clickPage(60, 124 + 9);
  ASSERT_TRUE(waitFor([&] { return closeTo(capture().at(px(220 + 49), px(124 + 2)), kBlue, 2); }, 5000))
      << describe(capture().at(px(220 + 49), px(124 + 2)));
  captureAs("settings");
  // The primary button under the mouse takes its hovered gradient.
  PostMessageW(hwnd_, WM_MOUSEMOVE, 0, MAKELPARAM(px(220 + 120), px(416)));
  EXPECT_TRUE(waitFor([&] { return closeTo(capture().at(px(220 + 60), px(398)), RGB(58, 123, 232), 8); }, 3000))
      << describe(capture().at(px(220 + 60), px(398)));
  clickPage(120, 416);
  EXPECT_EQ(toUtf8(answerBox()),
            "Настройки сохранены. Для применения защиты в реальном времени может потребоваться "
            "перезапуск службы.");
  EXPECT_NE(readFile(data_ + L"\\settings.ini").find("ScanRemovable=1"), std::string::npos);

  // Wine has no firewall: the service's error line shows in red under the switches.
  clickNav(4);
  ASSERT_TRUE(waitSelected(4));
  const Image firewall = captureAs("firewall");
  EXPECT_GT(countLike(firewall, {px(260), px(158), firewall.width - px(40), px(178)}, kRed, 30), 10)
      << "no error line";

  // The Overview's quick scan button reaches the service and opens the Scan page.
  clickNav(0);
  ASSERT_TRUE(waitSelected(0));
  clickPage((pageWidth() - 352) / 2 + 85, 366);
  ASSERT_TRUE(waitSelected(1)) << "the scan page did not open";
  auto c = client();
  ipc::HelloReply hello;
  ASSERT_TRUE(waitFor([&] { return c.hello(hello) && hello.scanRunning; }, 5000)) << "no scan started";
  // To its end: "Проверка завершена" over the full green bar, and the result line under the buttons.
  ASSERT_TRUE(waitFor([&] { return c.hello(hello) && !hello.scanRunning; }, 240000)) << "the quick scan did not end";
  ipc::ProgressReply progress;
  ASSERT_TRUE(c.progress(progress));
  EXPECT_FALSE(progress.summary.cancelled);
  EXPECT_GT(progress.summary.filesScanned, 0u);
  const int track = pageWidth() - 80;
  const auto barAt = [&](const Image& image) { return image.at(px(220 + 40 + track * 9 / 10), px(129)); };
  EXPECT_TRUE(waitFor([&] { return closeTo(barAt(capture()), kGreen, 2); }, 5000)) << describe(barAt(capture()));
  const Image done = captureAs("quick-scan-finished");
  EXPECT_GT(countUnlike(done, {px(260), px(270), done.width - px(40), px(300)}, kBackground), 30)
      << "no result line";
}

}  // namespace
}  // namespace zorvek::test
