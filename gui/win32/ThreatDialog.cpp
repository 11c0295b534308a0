#include "gui/win32/ThreatDialog.h"

#include <string>
#include <vector>

#include "common/Text.h"
#include "gui/model/PageText.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {
namespace {

using namespace ui;

struct DialogButton {
  int id;
  RECT rect;
  COLORREF fill, text;
  const wchar_t* label;
};

struct DialogState {
  ipc::ThreatRecord threat;
  int decision = 0;
  bool details = false;
  bool linkHover = false;
  RECT link{};
  std::vector<DialogButton> buttons;
};

// The dialog's window procedure reaches the state of the one open dialog through this.
DialogState* g_dialog = nullptr;

bool inside(const RECT& r, POINT p) { return PtInRect(&r, p) != FALSE; }

void paintDialog(HWND hwnd, HDC target, DialogState& s) {
  RECT client{};
  GetClientRect(hwnd, &client);
  BufferedPaint buffer(target, client);
  const HDC dc = buffer.dc();
  const int w = client.right, h = client.bottom;
  fillRect(dc, client, kBackground);
  fillRect(dc, {0, 0, w, px(76)}, kRed);
  drawText(dc, {px(24), px(10), w - px(20), px(44)}, L"Обнаружена угроза", font(20, kBold), kWhite);
  drawText(dc, {px(24), px(46), w - px(20), px(68)}, L"ZORVEK Antivirus заблокировал опасный объект",
           font(13), RGB(255, 226, 226));
  drawEmblem(dc, {px(24), px(96), px(24 + 64), px(96 + 64)}, 2);

  const int left = px(104), right = w - px(20);
  constexpr UINT kLine = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
  drawText(dc, {left, px(92), right, px(118)}, toWide(s.threat.threatName), font(15, kBold), kBodyText,
           kLine | DT_END_ELLIPSIS);
  drawText(dc, {left, px(120), right, px(138)}, L"Имя угрозы", font(12), kSecondaryText, kLine);
  drawText(dc, {left, px(150), right, px(170)}, s.threat.path, font(12), kBodyText, kLine | DT_PATH_ELLIPSIS);
  drawText(dc, {left, px(172), right, px(190)}, L"Расположение", font(12), kSecondaryText, kLine);
  drawText(dc, {left, px(200), right, px(220)}, toWide(threatFactsLine(s.threat)), font(12), kSecondaryText,
           kLine | DT_END_ELLIPSIS);
  s.link = {left, px(226), left + px(90), px(246)};
  drawText(dc, s.link, L"Подробнее", font(12, kNormal, s.linkHover), kBlue, kLine);

  if (s.details) {
    const RECT card{left, px(252), right, h - px(70)};
    if (card.bottom > card.top) {
      fillRound(dc, card, px(4), kWhite, kBorder);
      int top = card.top + px(8);
      for (const auto& line : threatDetails(s.threat)) {
        if (top + px(20) > card.bottom - px(4)) break;
        drawText(dc, {card.left + px(10), top, card.right - px(10), top + px(20)}, toWide("• " + line),
                 font(12), kBodyText, kLine | DT_END_ELLIPSIS);
        top += px(20);
      }
    }
  }

  // Right to left from the right edge: "Разрешить", "Удалить", "Карантин".
  s.buttons.clear();
  const struct {
    int id;
    const wchar_t* label;
    COLORREF fill, text;
  } order[] = {{kDecisionButtonBase + 3, L"Разрешить", kBorder, kBodyText},
               {kDecisionButtonBase + 2, L"Удалить", RGB(176, 47, 37), kWhite},
               {kDecisionButtonBase + 1, L"Карантин", kBlue, kWhite}};
  int x = w - px(16);
  for (const auto& b : order) {
    const RECT r{x - px(112), h - px(16) - px(34), x, h - px(16)};
    drawFlatButton(dc, r, b.label, b.fill, b.text);
    s.buttons.push_back({b.id, r, b.fill, b.text, b.label});
    x = r.left - px(8);
  }
}

LRESULT CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogState* s = g_dialog;
  if (!s) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (const HDC dc = BeginPaint(hwnd, &ps)) paintDialog(hwnd, dc, *s);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      paintDialog(hwnd, reinterpret_cast<HDC>(wParam), *s);
      return 0;
    case WM_KEYDOWN:
      if (wParam != VK_ESCAPE) break;
      [[fallthrough]];
    case WM_CLOSE:
      s->decision = 0;
      DestroyWindow(hwnd);
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) != HTCLIENT) break;
      SetCursor(LoadCursorW(nullptr, s->linkHover ? IDC_HAND : IDC_ARROW));
      return TRUE;
    case WM_MOUSEMOVE: {
      const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      const bool hover = inside(s->link, p);
      SetCursor(LoadCursorW(nullptr, hover ? IDC_HAND : IDC_ARROW));
      if (hover != s->linkHover) {
        s->linkHover = hover;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case WM_LBUTTONDOWN: {
      const POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      for (const auto& b : s->buttons) {
        if (!inside(b.rect, p)) continue;
        s->decision = b.id - kDecisionButtonBase;
        DestroyWindow(hwnd);
        return 0;
      }
      if (inside(s->link, p)) {
        s->details = !s->details;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int showThreatDialog(HWND owner, const ipc::ThreatRecord& threat) {
  // One dialog at a time: a second call while one is open would share its state.
  if (g_dialog) return 0;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &dialogProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kThreatDialogClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 0;

  const int width = px(520), height = px(430);
  int x = 100, y = 100;
  RECT ownerRect{};
  if (owner && GetWindowRect(owner, &ownerRect)) {
    x = ownerRect.left + (ownerRect.right - ownerRect.left - width) / 2;
    y = ownerRect.top + (ownerRect.bottom - ownerRect.top - height) / 2;
  }
  DialogState state;
  state.threat = threat;
  g_dialog = &state;
  const HWND dialog = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, kThreatDialogClass, L"Угроза",
                                      WS_POPUPWINDOW | WS_DLGFRAME, x, y, width, height, owner, nullptr,
                                      instance, nullptr);
  if (!dialog) {
    g_dialog = nullptr;
    return 0;
  }
  ShowWindow(dialog, SW_SHOW);
  UpdateWindow(dialog);
  if (owner) EnableWindow(owner, FALSE);
  SetForegroundWindow(dialog);
  SetFocus(dialog);

  MSG msg;
  while (IsWindow(dialog)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // The program is ending: leave the quit for the main loop.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      DestroyWindow(dialog);
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (owner) {
    EnableWindow(owner, TRUE);
    if (IsWindowVisible(owner)) SetForegroundWindow(owner);
  }
  g_dialog = nullptr;
  return state.decision;
}

}  // namespace zorvek::gui
