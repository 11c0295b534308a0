// ZorvekAntivirus.exe against a real ZorvekService.exe --console on a private pipe and data
// folder, driven through posted messages like a user's clicks and menu choices, and checked on
// the pixels the design fixes. Each capture is kept as a PNG in the build tree (gui-artifacts/);
// with ZORVEK_SCREENSHOTS set, the states users see are also written there for the README.
#include "GuiFixture.h"

namespace zorvek::test {
namespace {

using MainWindowGuiTest = GuiFixture;

TEST_F(MainWindowGuiTest, DrawsTheShellAndFollowsNavigationAndTheTrayMenu) {
  ASSERT_NO_FATAL_FAILURE(startService());
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  ASSERT_TRUE(waitSelected(0)) << "Overview is not shown as the current page";

  const Image overview = captureAs("protected");
  ASSERT_FALSE(overview.empty());
  const int w = overview.width, h = overview.height;
  EXPECT_EQ(describe(overview.at(w - 4, h - 4)), describe(kBackground));
  EXPECT_TRUE(closeTo(overview.at(px(4), 0), kSidebarTop, 3)) << describe(overview.at(px(4), 0));
  EXPECT_TRUE(closeTo(overview.at(px(4), h - 1), kSidebarBottom, 3)) << describe(overview.at(px(4), h - 1));
  EXPECT_TRUE(closeTo(overview.at(px(221), h / 2), kBackground, 0)) << "the sidebar is wider than 220";
  // The selected item's gradient runs top to bottom; the others show the sidebar through.
  const RECT first = navItem(0);
  EXPECT_TRUE(closeTo(overview.at(first.left + px(130), first.top + px(1)), kSelectedTop, 8))
      << describe(overview.at(first.left + px(130), first.top + px(1)));
  EXPECT_TRUE(closeTo(overview.at(first.left + px(130), first.bottom - px(2)), kSelectedBottom, 8))
      << describe(overview.at(first.left + px(130), first.bottom - px(2)));
  EXPECT_FALSE(selected(overview, 1));
  EXPECT_TRUE(emblemShows(overview, kEmblemProtected)) << "the emblem is not green";
  // "Быстрая проверка" is primary (blue), "Полная проверка" secondary (white, pale blue when the
  // pointer rests on it).
  const int buttons = px(220) + (w - px(220) - px(352)) / 2;
  EXPECT_TRUE(closeTo(overview.at(buttons + px(85), px(346 + 4)), RGB(42, 94, 180), 8))
      << describe(overview.at(buttons + px(85), px(346 + 4)));
  EXPECT_TRUE(closeTo(overview.at(buttons + px(182 + 85), px(346 + 4)), RGB(245, 248, 252), 12))
      << describe(overview.at(buttons + px(182 + 85), px(346 + 4)));

  // Navigation by clicks; each page draws its Cyrillic title in the page area.
  const RECT title{px(260), px(40), px(700), px(72)};
  for (int page : {1, 2, 3, 4, 0}) {
    SCOPED_TRACE(page);
    clickNav(page);
    ASSERT_TRUE(waitSelected(page));
    const Image image = capture();
    for (int other = 0; other < gui::kPageCount; ++other)
      if (other != page) {
        EXPECT_FALSE(selected(image, other)) << other;
      }
    EXPECT_GT(countUnlike(image, title, kBackground), 40) << "the title left no pixels";
  }

  // The tray: the icon is registered in green, and its menu drives the window.
  EXPECT_TRUE(trayIconExists());
  EXPECT_TRUE(trayShowsGreen("tray")) << "no green shield in the notification area";
  trayCommand(gui::kTrayQuarantine);
  ASSERT_TRUE(waitSelected(2));
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
  ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(hwnd_); }, 5000)) << "close did not hide the window";
  EXPECT_TRUE(IsWindow(hwnd_));
  trayCommand(gui::kTrayOpen);
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, 5000));
  ASSERT_TRUE(waitSelected(0));

  // A full scan from the tray: the service runs it, the window shows it, the tray cancels it.
  auto c = client();
  trayCommand(gui::kTrayFullScan);
  ASSERT_TRUE(waitSelected(1));
  ipc::HelloReply hello;
  ASSERT_TRUE(waitFor([&] { return c.hello(hello) && hello.scanRunning; }, 5000)) << "no scan started";
  clickNav(0);
  ASSERT_TRUE(waitSelected(0));
  SendMessageW(hwnd_, WM_TIMER, 1, 0);
  EXPECT_TRUE(emblemShows(captureAs("scan-running"), kEmblemScanning)) << "the emblem is not blue";
  // The cancel itself is checked against a fake service: this service finishes counting the
  // whole disk before it looks at a cancel, which under load takes minutes.
  trayCommand(gui::kTrayCancelScan);

  // "Выход" ends the program with code 0.
  trayCommand(gui::kTrayExit);
  DWORD code = 1;
  ASSERT_TRUE(gui_.waitExit(10000, &code)) << "the program did not exit";
  EXPECT_EQ(code, 0u);
}

TEST_F(MainWindowGuiTest, AutostartStaysHiddenInTheTrayAndPolls) {
  ASSERT_NO_FATAL_FAILURE(startService());
  const size_t before = serviceConnections();
  ASSERT_NO_FATAL_FAILURE(startGui(L"--autostart"));
  EXPECT_TRUE(waitFor([&] { return trayIconExists(); }, 5000)) << "no tray icon";
  // One poll at start-up (hello, settings, progress) and one per second after it.
  EXPECT_TRUE(waitFor([&] { return serviceConnections() - before >= 5; }, 5000))
      << readFile(data_ + L"\\zorvek.log");
  EXPECT_FALSE(IsWindowVisible(hwnd_));

  // A restarted shell has lost the icon; its broadcast brings it back.
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
  ASSERT_FALSE(trayIconExists());
  PostMessageW(hwnd_, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(waitFor([&] { return trayIconExists(); }, 5000)) << "the icon was not added again";
}

TEST_F(MainWindowGuiTest, WithoutTheServiceTheHeadlineSaysSo) {
  ASSERT_NO_FATAL_FAILURE(startGui(L""));
  ASSERT_TRUE(waitFor([&] { return IsWindowVisible(hwnd_) != FALSE; }, kWindowWaitMs));
  ASSERT_TRUE(waitSelected(0));
  const Image image = captureAs("service-absent");
  EXPECT_TRUE(emblemShows(image, kEmblemUnavailable)) << "the emblem is not orange";
  // The sidebar's headline turns orange while the service does not answer.
  const RECT headline{px(16), image.height - px(120), px(208), image.height - px(12)};
  EXPECT_GT(countLike(image, headline, RGB(255, 196, 120), 40), 20);
  const std::string log = readFile(data_ + L"\\zorvek.log");
  EXPECT_NE(log.find("[WRN] gui: не удалось подключиться к службе: cannot connect to service pipe (win32="),
            std::string::npos)
      << log;
}

}  // namespace
}  // namespace zorvek::test
