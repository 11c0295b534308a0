#pragma once
// The fixture of the desktop program's window tests: a private pipe and data folder, the real
// service in console mode or a fake one, the program, and captures of what it shows.
#include "common/platform/win32/Win.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "GuiDriver.h"
#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "gui/model/Commands.h"
#include "gui/model/SessionClient.h"

namespace zorvek::test {

namespace fs = std::filesystem;

inline constexpr COLORREF kBackground = RGB(244, 246, 249);
inline constexpr COLORREF kSidebarTop = RGB(12, 27, 51);
inline constexpr COLORREF kSidebarBottom = RGB(29, 58, 99);
inline constexpr COLORREF kSelectedTop = RGB(58, 123, 232);
inline constexpr COLORREF kSelectedBottom = RGB(30, 81, 168);
inline constexpr COLORREF kSelectedBar = RGB(127, 200, 255);
inline constexpr COLORREF kTrayGreen = RGB(30, 158, 90);
inline constexpr COLORREF kUnpainted = RGB(255, 0, 255);
inline constexpr uint32_t kWindowWaitMs = 15000;

inline fs::path binFolder() { return toPath(modulePath()).parent_path(); }

inline int px(int length) { return MulDiv(length, static_cast<int>(GetDpiForSystem()), 96); }

// The navigation item of page i, at the program's DPI.
inline RECT navItem(int i) {
  const int top = 96 + i * 47;
  return {px(16), px(top), px(208), px(top + 42)};
}

inline LPARAM pointOf(int x, int y) { return MAKELPARAM(x, y); }

// The Overview's emblem: 220 square, centred in the page area, 40 below its top.
inline RECT emblemArea(const Image& image) {
  const int left = px(220) + (image.width - px(220) - px(220)) / 2;
  return {left, px(40), left + px(220), px(260)};
}
// Whether the emblem is filled with `color`: its upper part stays near the colour before the
// gradient darkens it; the states' colours lie far apart.
inline bool emblemShows(const Image& image, COLORREF color) {
  return countLike(image, emblemArea(image), color, 24) > 1500;
}
inline constexpr COLORREF kEmblemProtected = RGB(30, 158, 90);
inline constexpr COLORREF kEmblemScanning = RGB(30, 81, 168);
inline constexpr COLORREF kEmblemThreat = RGB(209, 59, 47);
inline constexpr COLORREF kEmblemUnavailable = RGB(232, 139, 26);

class GuiFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto reason = environmentVariable(L"ZORVEK_NO_DISPLAY"))
      GTEST_SKIP() << "no display for windows: " << toUtf8(*reason);
    savedData_ = environmentVariable(L"ZORVEK_DATA_DIR");
    savedPipe_ = environmentVariable(L"ZORVEK_PIPE");
    data_ = dir_.file(L"data");
    pipe_ = L"\\\\.\\pipe\\ZorvekGui-" + std::to_wstring(currentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64());
    setEnvironmentVariable(L"ZORVEK_DATA_DIR", data_);
    setEnvironmentVariable(L"ZORVEK_PIPE", pipe_);
    artifacts_ = binFolder().parent_path() / "gui-artifacts";
    fs::create_directories(artifacts_);
  }

  void TearDown() override {
    gui_.kill();
    service_.kill();
    setEnvironmentVariable(L"ZORVEK_DATA_DIR", savedData_);
    setEnvironmentVariable(L"ZORVEK_PIPE", savedPipe_);
  }

  gui::SessionClient client() {
    gui::SessionOptions o;
    o.client.pipe = pipe_;
    o.logWarning = [](std::string_view) {};
    return gui::SessionClient(o);
  }

  void startService() {
    std::string error;
    ASSERT_TRUE(service_.start(pathToWide(binFolder() / "ZorvekService.exe"), L"--console", &error))
        << error;
    auto c = client();
    ipc::HelloReply hello;
    ASSERT_TRUE(waitFor([&] { return c.hello(hello); }, kWindowWaitMs)) << "the service did not answer";
  }

  void startGui(const std::wstring& arguments) {
    std::string error;
    ASSERT_TRUE(gui_.start(pathToWide(binFolder() / "ZorvekAntivirus.exe"), arguments, &error)) << error;
    hwnd_ = waitForWindow(gui_.pid(), L"ZorvekMainWindow", kWindowWaitMs);
    ASSERT_TRUE(hwnd_) << "no ZorvekMainWindow";
  }

  Image capture() { return captureClient(hwnd_); }

  Image captureAs(const char* name) {
    Image image = capture();
    EXPECT_TRUE(keepCapture(image, name, pathToWide(artifacts_))) << name;
    return image;
  }

  // Waits until the navigation item of page i shows as selected.
  bool waitSelected(int page) {
    return waitFor([&] { return selected(capture(), page); }, 5000);
  }

  static bool selected(const Image& image, int page) {
    const RECT item = navItem(page);
    const int x = item.left + px(130);
    return closeTo(image.at(x, item.top + px(2)), kSelectedTop, 8) &&
           closeTo(image.at(x, item.bottom - px(3)), kSelectedBottom, 8) &&
           closeTo(image.at(px(1), (item.top + item.bottom) / 2), kSelectedBar, 2);
  }

  void click(int x, int y) {
    PostMessageW(hwnd_, WM_MOUSEMOVE, 0, pointOf(x, y));
    PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, pointOf(x, y));
    PostMessageW(hwnd_, WM_LBUTTONUP, 0, pointOf(x, y));
  }
  void clickNav(int page) {
    const RECT item = navItem(page);
    click(item.left + px(40), (item.top + item.bottom) / 2);
  }
  void trayCommand(int command) { PostMessageW(hwnd_, WM_COMMAND, static_cast<WPARAM>(command), 0); }

  bool trayIconExists() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  }

  // The shell's notification area as shown, or nothing when the shell shows none (saying so).
  std::optional<Image> trayArea() {
    const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT r{};
    if (tray && IsWindowVisible(tray) && GetWindowRect(tray, &r)) return screenArea(r);
    std::printf("note: the shell shows no notification area window; the icon's colour is checked "
                "by the toolkit test\n");
    return std::nullopt;
  }
  // Whether the notification area shows the green shield (true when there is none to look at).
  bool trayShowsGreen(const char* name) {
    const auto icons = trayArea();
    if (!icons) return true;
    savePng(*icons, pathToWide(artifacts_ / (std::string(name) + ".png")));
    return countLike(*icons, {0, 0, icons->width, icons->height}, kTrayGreen, 10) > 10;
  }

  size_t serviceConnections() {
    const std::string log = readFile(data_ + L"\\zorvek.log");
    size_t n = 0;
    for (size_t at = log.find("client connected"); at != std::string::npos;
         at = log.find("client connected", at + 1))
      ++n;
    return n;
  }

  TempDir dir_;
  std::optional<std::wstring> savedData_, savedPipe_;
  std::wstring data_, pipe_;
  fs::path artifacts_;
  Program service_, gui_;
  HWND hwnd_ = nullptr;
};

}  // namespace zorvek::test
