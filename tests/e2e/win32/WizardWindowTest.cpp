// The wizard's window in this process with no work behind it: the test posts what the worker
// would, then paints the window into a memory bitmap. Runs with the installer's walks
// (tests/e2e/wine_install.sh), which give it a display.
#include "common/platform/win32/Win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "common/Text.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "gui/win32/GuiDriver.h"
#include "gui/win32/toolkit/Toolkit.h"
#include "setup/win32/Wizard.h"

// Every allocation of this program is counted, so a payload the window never frees shows.
namespace {
std::atomic<long long> liveAllocations{0};
std::atomic<long long> allAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  ++liveAllocations;
  ++allAllocations;
  return p;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  --liveAllocations;
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }

namespace setup {
namespace {

using namespace zorvek::ui;
using zorvek::test::Image;

#define REQUIRE_WINDOWS()                                                                   \
  if (const auto reason = zorvek::environmentVariable(L"ZORVEK_NO_DISPLAY"))                \
    GTEST_SKIP() << "no display for windows: " << zorvek::toUtf8(*reason);                  \
  if (zorvek::environmentVariable(L"ZORVEK_INSTALL_E2E") != L"1")                           \
  GTEST_SKIP() << "needs the display of tests/e2e/wine_install.sh"

// Runs what is queued for this thread; the quit message's code, or -1 when none came.
int pump() {
  int quit = -1;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = static_cast<int>(msg.wParam);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return quit;
}

void postLine(HWND hwnd, const std::wstring& text) {
  PostMessageW(hwnd, kWizardLineMessage, 0, reinterpret_cast<LPARAM>(new std::wstring(text)));
}
void postResult(HWND hwnd, UINT message, int result) {
  PostMessageW(hwnd, message, 0, reinterpret_cast<LPARAM>(new int(result)));
}

struct Fed {
  bool opened = false;
  LRESULT listed = 0;
  int page = -1;
  int quit = -1;
};

// A wizard that receives `lines` log lines and then `result`, and is closed again.
Fed feed(int lines, int result) {
  Fed fed;
  Wizard w;
  w.state.options.uninstall = true;
  fed.opened = openWizard(w);
  if (!fed.opened) return fed;
  for (int i = 0; i < lines; ++i)
    postLine(w.window, L"строка журнала номер " + std::to_wstring(i) + L", длиннее короткой");
  postResult(w.window, kWizardUninstallDoneMessage, result);
  pump();
  fed.listed = SendMessageW(w.control(kLogList), LB_GETCOUNT, 0, 0);
  fed.page = w.state.page;
  DestroyWindow(w.window);
  fed.quit = pump();
  return fed;
}

TEST(WizardWindowTest, FreesEveryLineAndResultTheWorkerPosts) {
  REQUIRE_WINDOWS();
  // The first window fills the caches that live as long as the program (fonts, class, icons).
  const Fed warmUp = feed(3, 0);
  ASSERT_TRUE(warmUp.opened);
  const long long before = liveAllocations.load(), madeBefore = allAllocations.load();
  const Fed fed = feed(300, 1);
  const long long leaked = liveAllocations.load() - before;
  // Each line is a string object and its text: the count sees them, or it proves nothing.
  EXPECT_GE(allAllocations.load() - madeBefore, 600);
  ASSERT_TRUE(fed.opened);
  EXPECT_EQ(fed.listed, 300);
  EXPECT_EQ(fed.page, kFinishPage);
  EXPECT_EQ(fed.quit, 1) << "a failed work exits with 1";
  EXPECT_EQ(warmUp.quit, 0);
  EXPECT_EQ(leaked, 0) << "allocations the window kept or never freed";
}

// A 32-bit memory bitmap the size of the wizard's client area.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bitmap_.reset(CreateDIBSection(dc_.get(), &bi, DIB_RGB_COLORS, &bits_, nullptr, 0));
    old_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() { SelectObject(dc_.get(), old_); }
  HDC dc() const { return dc_.get(); }
  COLORREF at(int x, int y) const {
    GdiFlush();
    const uint32_t p = static_cast<const uint32_t*>(bits_)[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  zorvek::UniqueMemoryDc dc_;
  zorvek::UniqueGdiObject<HBITMAP> bitmap_;
  void* bits_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

bool ink(COLORREF c) { return !zorvek::test::closeTo(c, kBackground, 48); }

const RECT kTitle = {258, 24, 672, 54};

// Pixels of the title line where the window's ink and that of `text` in the title font differ,
// and the ink of `text`.
struct TitleMatch {
  int differing = 0, inked = 0;
};
TitleMatch compareTitle(const Canvas& window, const std::wstring& text) {
  const RECT r = pxRect(kTitle.left, kTitle.top, kTitle.right, kTitle.bottom);
  Canvas expected(window.width(), window.height());
  fillRect(expected.dc(), {0, 0, window.width(), window.height()}, kBackground);
  drawText(expected.dc(), r, text, font(17, kBold), kBodyText,
           DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  TitleMatch m;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const bool want = ink(expected.at(x, y));
      m.inked += want;
      m.differing += want != ink(window.at(x, y));
    }
  return m;
}

// The window's title reads `text` and not `other`.
void expectTitle(const Canvas& window, const std::wstring& text, const std::wstring& other) {
  const TitleMatch same = compareTitle(window, text), wrong = compareTitle(window, other);
  ASSERT_GT(same.inked, 100) << "no title ink to compare";
  EXPECT_LE(same.differing, same.inked / 20) << "the title is not " << zorvek::toUtf8(text);
  EXPECT_GT(wrong.differing, wrong.inked / 5) << "cannot tell it from " << zorvek::toUtf8(other);
}

void paintInto(const Canvas& canvas, HWND hwnd) {
  fillRect(canvas.dc(), {0, 0, canvas.width(), canvas.height()}, RGB(255, 0, 255));
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT);
}

int countLike(const Canvas& canvas, const RECT& r, COLORREF color) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += zorvek::test::closeTo(canvas.at(x, y), color, 40);
  return n;
}

TEST(WizardWindowTest, TitlesAndOutcomeOfEachMode) {
  REQUIRE_WINDOWS();
  const struct {
    bool uninstall, repair;
    const wchar_t *welcome, *otherWelcome, *button;
    int result;
    const wchar_t *finish, *otherFinish;
    bool launchBox;
  } cases[] = {
      {true, false, L"Удаление ZORVEK Antivirus", L"Установка ZORVEK Antivirus", L"Удалить", 0,
       L"Готово", L"Не удалось завершить", false},
      {true, false, L"Удаление ZORVEK Antivirus", L"Установка ZORVEK Antivirus", L"Удалить", 1,
       L"Не удалось завершить", L"Готово", false},
      {false, true, L"Восстановление ZORVEK Antivirus", L"Установка ZORVEK Antivirus",
       L"Восстановить", 0, L"Готово", L"Не удалось завершить", true},
      {false, false, L"Установка ZORVEK Antivirus", L"Удаление ZORVEK Antivirus", L"Установить", 1,
       L"Не удалось завершить", L"Готово", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zorvek::toUtf8(c.welcome) + ", result " + std::to_string(c.result));
    const GdiplusSession gdiplus;  // the emblem is drawn with it, as in the installer
    Wizard w;
    w.state.options.uninstall = c.uninstall;
    w.state.options.repair = c.repair;
    ASSERT_TRUE(openWizard(w));
    RECT client{};
    GetClientRect(w.window, &client);
    const Canvas canvas(client.right, client.bottom);

    paintInto(canvas, w.window);
    expectTitle(canvas, c.welcome, c.otherWelcome);
    wchar_t button[32] = {};
    GetWindowTextW(w.control(kNextButton), button, 32);
    EXPECT_EQ(zorvek::toUtf8(button), zorvek::toUtf8(c.button));

    postLine(w.window, L"Каталог: C:\\ZORVEK Antivirus");
    postResult(w.window, c.uninstall ? kWizardUninstallDoneMessage : kWizardInstallDoneMessage,
               c.result);
    pump();
    paintInto(canvas, w.window);
    expectTitle(canvas, c.finish, c.otherFinish);
    const RECT text = pxRect(258, 64, 672, 130);
    const int green = countLike(canvas, text, kGreen), red = countLike(canvas, text, kRed);
    EXPECT_EQ(green > 20, c.result == 0) << green;
    EXPECT_EQ(red > 20, c.result != 0) << red;
    // The window itself is never shown here: the box's own style says what the page shows.
    EXPECT_EQ((GetWindowLongW(w.control(kLaunchBox), GWL_STYLE) & WS_VISIBLE) != 0, c.launchBox);
    EXPECT_FALSE(IsWindowEnabled(w.control(kCancelButton)));

    DestroyWindow(w.window);
    EXPECT_EQ(pump(), c.result == 0 ? 0 : 1);
  }
}

}  // namespace
}  // namespace setup
