#include "gui/win32/MainWindow.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "common/Text.h"
#include "gui/model/Headline.h"
#include "gui/model/PageCommands.h"
#include "gui/model/Poll.h"
#include "gui/win32/ThreatDialog.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {
namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollPeriodMs = 1000;

// At 96 DPI.
constexpr int kSidebarWidth = 220;
constexpr int kNavTop = 96, kNavHeight = 42, kNavGap = 5, kNavLeft = 16, kNavRight = 12;
constexpr int kNavRadius = 16;

const wchar_t* const kNavLabels[kPageCount] = {L"Обзор", L"Проверка", L"Карантин", L"Настройки",
                                               L"Брандмауэр"};

bool contains(const RECT& r, POINT p) { return PtInRect(&r, p) != FALSE; }

template <typename Hits>
int hitIndex(const Hits& hits, POINT p) {
  for (size_t i = 0; i < hits.size(); ++i)
    if (contains(hits[i].rect, p)) return static_cast<int>(i);
  return -1;
}

}  // namespace

MainWindow::MainWindow(SessionOptions options) : client_(std::move(options)) {}

bool MainWindow::create(HINSTANCE instance, bool visible) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &MainWindow::windowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kMainWindowClass;
  if (!RegisterClassExW(&wc)) return false;
  const HWND hwnd =
      CreateWindowExW(0, kMainWindowClass, kAppTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                      CW_USEDEFAULT, CW_USEDEFAULT, ui::px(960), ui::px(640), nullptr, nullptr,
                      instance, this);
  if (!hwnd) return false;
  if (visible) {
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
  }
  // The poll of WM_CREATE ran while the window was still hidden; a detection waiting at start
  // is put to the user once the window stands as the user will see it.
  shown_ = true;
  PostMessageW(hwnd, WM_TIMER, kPollTimer, 0);
  return true;
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (taskbarCreated_ != 0 && message == taskbarCreated_) {
    tray_.readd();
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      onCreate();
      return 0;
    case WM_TIMER:
      if (wParam == kPollTimer) {
        runPoll();
        if (page_.page == Page::Quarantine && view_.connected) refreshQuarantine(client_, view_, false);
      }
      return 0;
    case WM_CLOSE:
      // The title bar's close button only hides: the program lives on in the tray.
      ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd_, kPollTimer);
      tray_.remove();
      PostQuitMessage(0);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd_, &ps);
      if (dc) paint(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_MOUSEMOVE:
      onMouseMove({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    case WM_MOUSEWHEEL:
      onMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      onLeftButtonDown({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return 0;
    case WM_DPICHANGED: {
      ui::setDpi(LOWORD(wParam));
      const auto* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    }
    case TrayIcon::kCallbackMessage:
      onTrayCallback(lParam);
      return 0;
    case WM_COMMAND: {
      // The tray menu's choices; other identifiers are the commands of the page buttons.
      const int command = LOWORD(wParam);
      if (command >= kTrayOpen && command <= kTrayExit)
        runTrayCommand(command);
      else
        runCommand(command);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd_, message, wParam, lParam);
  }
}

void MainWindow::onCreate() {
  prompts_.setOwner(hwnd_);
  tray_.setOwner(hwnd_);
  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  tray_.show(true);
  SetTimer(hwnd_, kPollTimer, kPollPeriodMs, nullptr);
  runPoll();
}

void MainWindow::runPoll() {
  // A message box raised by the poll runs a message loop; a tick that arrives meanwhile must not
  // start a second poll inside the first.
  if (polling_) return;
  polling_ = true;
  poll(client_, view_, prompts_);
  polling_ = false;
  tray_.setTip(headlineText(headlineFor(view_)));
  InvalidateRect(hwnd_, nullptr, FALSE);
  if (!shown_) return;
  // Outside the guard: the dialog's loop keeps the timer's polls running, and the step itself
  // does nothing while its dialog is open.
  threatStep(client_, view_, prompts_, *this, dialogOpen_);
}

bool MainWindow::windowVisible() { return IsWindowVisible(hwnd_) != FALSE; }

int MainWindow::askDecision(const ipc::ThreatRecord& threat) { return showThreatDialog(hwnd_, threat); }

void MainWindow::balloon(const std::string& title, const std::string& text) { tray_.balloon(title, text); }

void MainWindow::setTrayGreen(bool green) { tray_.show(green); }

void MainWindow::repaint() { InvalidateRect(hwnd_, nullptr, FALSE); }

void MainWindow::showPage(Page page) {
  if (page != page_.page) page_.quarantineFirst = 0;
  page_.page = page;
  if (page == Page::Quarantine)
    refreshQuarantine(client_, view_, true);
  else if (page == Page::Firewall)
    refreshFirewall(client_, view_);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void MainWindow::showWindow(bool activate) {
  ShowWindow(hwnd_, activate ? SW_SHOW : SW_SHOWNA);
  if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
  if (activate) SetForegroundWindow(hwnd_);
}

void MainWindow::runCommand(int command) {
  if (const auto page = pageOfCommand(command)) {
    showPage(*page);
  } else {
    switch (command) {
      case kCmdQuickScan:
      case kCmdFullScan:
        if (startScan(client_, command == kCmdFullScan, &prompts_)) showPage(Page::Scan);
        break;
      case kCmdCancelScan:
        (void)client_.cancelScan();
        break;
      case kCmdToggleProtection:
        (void)toggleProtection(client_, view_, &prompts_);
        break;
      case kCmdExit:
        exiting_ = true;
        DestroyWindow(hwnd_);
        return;
      case kCmdNotificationSettings:
        openNotificationSettings();
        break;
      case kCmdAutostart:
        (void)registerAutostart();
        break;
      case kCmdUpdateSignatures:
        (void)updateSignatures(client_, prompts_);
        break;
      case kCmdLiveUpdate:
        (void)startLiveUpdate(client_, view_, prompts_);
        break;
      case kCmdProgramUpdate:
        (void)programUpdate(client_, view_, prompts_, openWithShell);
        break;
      case kCmdSaveSettings:
        (void)saveSettings(client_, view_, prompts_);
        break;
      default:
        if (!runPageCommand(command)) return;  // not a command of this window
        break;
    }
  }
  runPoll();
}

bool MainWindow::runPageCommand(int command) {
  if (isQuarantineRowId(command)) {
    quarantineRowCommand(client_, view_, prompts_, command, page_.quarantineFirst);
  } else if (command == kQuarantinePageUp || command == kQuarantinePageDown) {
    const auto rows = static_cast<long long>(std::max<size_t>(1, page_.quarantineVisible));
    scrollQuarantine(command == kQuarantinePageUp ? -rows : rows);
    return true;
  } else if (editSetting(view_, command)) {
    // Sent by "Сохранить".
  } else {
    switch (command) {
      case kCmdFirewallToggle: toggleFirewall(client_, view_); break;
      case kCmdFirewallBlockInbound: toggleBlockInbound(client_, view_); break;
      case kCmdFirewallAllowProgram:
      case kCmdFirewallBlockProgram: {
        const bool allow = command == kCmdFirewallAllowProgram;
        if (!view_.connected) break;
        const std::wstring program =
            chooseProgram(hwnd_, allow ? L"Разрешить программу" : L"Заблокировать программу");
        addProgramRule(client_, view_, allow, program);
        break;
      }
      case kCmdFirewallRemoveRules: removeFirewallRules(client_, view_, prompts_); break;
      default: return false;
    }
  }
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

void MainWindow::scrollQuarantine(long long rows) {
  const size_t first =
      scrollRows(page_.quarantineFirst, rows, view_.quarantine.size(), std::max<size_t>(1, page_.quarantineVisible));
  if (first == page_.quarantineFirst) return;
  page_.quarantineFirst = first;
  // The buttons under the mouse now belong to other entries.
  hoverButton_ = -1;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void MainWindow::onMouseWheel(int delta) {
  if (page_.page != Page::Quarantine) return;
  // Three rows per notch, as the system scrolls lists.
  scrollQuarantine(-static_cast<long long>(delta) * 3 / WHEEL_DELTA);
}

void MainWindow::runTrayCommand(int command) {
  switch (command) {
    case kTrayOpen:
      showPage(Page::Overview);
      showWindow(true);
      break;
    case kTrayQuickScan:
    case kTrayFullScan:
      (void)startScan(client_, command == kTrayFullScan, nullptr);
      showPage(Page::Scan);
      showWindow(false);
      break;
    case kTrayCancelScan:
      (void)client_.cancelScan();
      break;
    case kTrayToggleProtection:
      (void)toggleProtection(client_, view_, nullptr);
      break;
    case kTrayQuarantine:
      showPage(Page::Quarantine);
      showWindow(true);
      break;
    case kTrayExit:
      exiting_ = true;
      DestroyWindow(hwnd_);
      return;
    default:
      return;
  }
  runPoll();
}

void MainWindow::onTrayCallback(LPARAM lParam) {
  // Version 4: the mouse message in the low word, the icon's identifier in the high word.
  switch (LOWORD(lParam)) {
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      showTrayMenu();
      break;
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
      showWindow(true);
      break;
    default:
      break;
  }
}

void MainWindow::showTrayMenu() {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  const struct {
    int id;
    const wchar_t* text;
  } items[] = {{kTrayOpen, L"Открыть ZORVEK Antivirus"}, {0, nullptr},
               {kTrayQuickScan, L"Быстрая проверка"},     {kTrayFullScan, L"Полная проверка"},
               {kTrayCancelScan, L"Отменить проверку"},   {0, nullptr},
               {kTrayToggleProtection, L"Включить/отключить защиту"},
               {kTrayQuarantine, L"Карантин"},            {0, nullptr},
               {kTrayExit, L"Выход"}};
  for (const auto& item : items) {
    if (item.text)
      AppendMenuW(menu.get(), MF_STRING, static_cast<UINT_PTR>(item.id), item.text);
    else
      AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  }
  POINT cursor{};
  GetCursorPos(&cursor);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);
}

void MainWindow::onMouseMove(POINT p) {
  const int nav = hitIndex(navigation_, p);
  const int button = hitIndex(buttons_, p);
  const int navCommand = nav >= 0 ? navigation_[static_cast<size_t>(nav)].command : -1;
  const int buttonCommand = button >= 0 ? buttons_[static_cast<size_t>(button)].command : -1;
  if (navCommand == hoverNavigation_ && buttonCommand == hoverButton_) return;
  hoverNavigation_ = navCommand;
  hoverButton_ = buttonCommand;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void MainWindow::onLeftButtonDown(POINT p) {
  if (const int nav = hitIndex(navigation_, p); nav >= 0) {
    if (const auto page = pageOfCommand(navigation_[static_cast<size_t>(nav)].command)) showPage(*page);
    return;
  }
  if (const int button = hitIndex(buttons_, p); button >= 0)
    runCommand(buttons_[static_cast<size_t>(button)].command);
}

void MainWindow::paint(HDC target) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  ui::BufferedPaint buffer(target, client, &backBuffer_);
  const HDC dc = buffer.dc();
  ui::fillRect(dc, client, ui::kBackground);
  const int sidebarRight = std::min<int>(client.right, ui::px(kSidebarWidth));
  paintSidebar(dc, {client.left, client.top, sidebarRight, client.bottom});
  page_.hover = hoverButton_;
  paintPage(dc, {sidebarRight, client.top, client.right, client.bottom}, view_, page_, buttons_);
}

void MainWindow::paintSidebar(HDC dc, const RECT& area) {
  using namespace ui;
  fillGradient(dc, area, kSidebarTop, kSidebarBottom);
  drawText(dc, {px(24), px(22), area.right, px(52)}, L"ZORVEK", font(20, kBold), kWhite);
  drawText(dc, {px(24), px(52), area.right, px(72)}, L"Antivirus", font(12), kBrandSubtitle);

  navigation_.clear();
  for (int i = 0; i < kPageCount; ++i) {
    const auto page = static_cast<Page>(i);
    const int top = kNavTop + i * (kNavHeight + kNavGap);
    const RECT item = pxRect(kNavLeft, top, kSidebarWidth - kNavRight, top + kNavHeight);
    navigation_.push_back({item, pageCommand(page)});
    const bool selected = page == page_.page;
    if (selected) {
      fillRoundGradient(dc, item, px(kNavRadius), kNavSelectedTop, kNavSelectedBottom);
      fillRect(dc, {area.left, item.top, area.left + px(3), item.bottom}, kNavSelectedBar);
    } else if (hoverNavigation_ == pageCommand(page)) {
      fillRoundGradient(dc, item, px(kNavRadius), kNavHoverTop, kNavHoverBottom);
    }
    const RECT label{item.left + px(16), item.top, item.right - px(8), item.bottom};
    drawText(dc, label, kNavLabels[i], font(13, selected ? kBold : kNormal),
             selected ? kWhite : kNavText, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }

  // The headline stands at the bottom, wrapped to the sidebar's width.
  const std::wstring headline = toWide(headlineText(headlineFor(view_)));
  RECT box{area.left + px(20), 0, area.right - px(16), 0};
  const HFONT f = font(12, kBold);
  const HGDIOBJ old = SelectObject(dc, f);
  DrawTextW(dc, headline.c_str(), static_cast<int>(headline.size()), &box,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  const int height = box.bottom - box.top;
  box.bottom = area.bottom - px(20);
  box.top = box.bottom - height;
  box.right = area.right - px(16);
  drawText(dc, box, headline, f, view_.connected ? kNavText : RGB(255, 196, 120),
           DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

}  // namespace zorvek::gui
