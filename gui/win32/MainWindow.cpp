#include "gui/win32/MainWindow.h"

#include <cstdio>
#include <string>

#include "common/Text.h"
#include "gui/model/Headline.h"
#include "gui/model/Poll.h"
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
const wchar_t* const kPageTitles[kPageCount] = {L"Обзор", L"Проверка компьютера", L"Карантин",
                                                L"Настройки",
                                                L"Брандмауэр Windows — управление ZORVEK"};

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
        if (page_ == Page::Quarantine) (void)client_.quarantineList(view_.quarantine);
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
}

void MainWindow::showPage(Page page) {
  page_ = page;
  if (page == Page::Quarantine) {
    (void)client_.quarantineList(view_.quarantine);
  } else if (page == Page::Firewall) {
    std::string text, error;
    view_.firewallError.clear();
    if (client_.firewallStatus(text, &error)) {
      view_.firewall = fw::parseFirewallStatus(text);
      view_.firewallError = view_.firewall.firstError();
    } else {
      view_.firewallError = error;
    }
  }
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
      default:
        return;  // not a command of this window
    }
  }
  runPoll();
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
  ui::BufferedPaint buffer(target, client);
  const HDC dc = buffer.dc();
  ui::fillRect(dc, client, ui::kBackground);
  const int sidebarRight = std::min<int>(client.right, ui::px(kSidebarWidth));
  paintSidebar(dc, {client.left, client.top, sidebarRight, client.bottom});
  paintPage(dc, {sidebarRight, client.top, client.right, client.bottom});
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
    const bool selected = page == page_;
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

void MainWindow::paintPage(HDC dc, const RECT& area) {
  using namespace ui;
  buttons_.clear();
  fillRect(dc, area, kBackground);
  const int left = area.left + px(40);
  drawText(dc, {left, area.top + px(40), area.right - px(40), area.top + px(72)},
           kPageTitles[static_cast<int>(page_)], font(18, kBold), kBodyText,
           DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (page_ != Page::Overview) return;

  const Headline headline = headlineFor(view_);
  const bool threat = headline == Headline::PendingThreats || headline == Headline::ThreatsFound;
  drawText(dc, {left, area.top + px(96), area.right - px(40), area.top + px(130)},
           toWide(headlineText(headline)), font(20, kBold), threat ? kWarningText : kBodyText,
           DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  std::string line;
  if (view_.connected && view_.status.signatureCount != 0) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%llu записей, версия ",
                  static_cast<unsigned long long>(view_.status.signatureCount));
    line = "База сигнатур: " + std::string(buffer) + view_.status.databaseVersion;
  } else {
    line = "База сигнатур недоступна — сканирование идёт по эвристикам";
  }
  drawText(dc, {left, area.top + px(136), area.right - px(40), area.top + px(160)}, toWide(line),
           font(12), kSecondaryText, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

}  // namespace zorvek::gui
