#include "setup/win32/Wizard.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/Text.h"
#include "common/Version.h"
#include "common/platform/System.h"
#include "gui/win32/toolkit/Toolkit.h"
#include "setup/InstallLayout.h"
#include "setup/win32/Work.h"
#include "setup/win32/Worker.h"

namespace setup {
namespace {

using namespace zorvek::ui;

// At 96 DPI.
constexpr int kClientWidth = 700, kClientHeight = 500;
constexpr int kMinTrackWidth = 640, kMinTrackHeight = 460;
constexpr int kBandWidth = 230;
constexpr int kContentLeft = kBandWidth + 28, kContentTop = 24, kContentRight = kClientWidth - 28;
constexpr int kTitleLine = 30;
constexpr int kButtonWidth = 100, kButtonHeight = 30, kButtonBottom = 18;
constexpr int kEmblemSide = 150, kEmblemTop = 40;

constexpr COLORREF kBandBase = RGB(22, 43, 77);
constexpr COLORREF kBrandText = RGB(232, 238, 247);
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

bool isFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

Wizard* wizardOf(HWND hwnd) {
  return reinterpret_cast<Wizard*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

int buttonsTop() { return kClientHeight - kButtonBottom - kButtonHeight; }

struct ControlPlan {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  DWORD style;
  DWORD exStyle;
  RECT at;  // at 96 DPI
};

// Positions inside the content area are the wizard's own; the buttons stand bottom right.
const ControlPlan kControls[] = {
    {kFolderLabel, L"STATIC", L"Каталог:", SS_LEFT | SS_CENTERIMAGE, 0,
     {kContentLeft, 96, kContentLeft + 64, 120}},
    {kFolderEdit, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
     {kContentLeft + 66, 96, kContentRight - 110, 120}},
    {kBrowseButton, L"BUTTON", L"Обзор…", WS_TABSTOP | BS_PUSHBUTTON, 0,
     {kContentRight - 100, 95, kContentRight, 121}},
    {kAutostartBox, L"BUTTON", L"Запускать при входе в Windows", WS_TABSTOP | BS_AUTOCHECKBOX, 0,
     {kContentLeft, 140, kContentRight, 164}},
    {kDriverBox, L"BUTTON", L"Установить модуль защиты ядра (требует подписи драйвера)",
     WS_TABSTOP | BS_AUTOCHECKBOX, 0, {kContentLeft, 170, kContentRight, 194}},
    {kProgressBar, PROGRESS_CLASSW, L"", PBS_MARQUEE, 0, {kContentLeft, 70, kContentRight, 88}},
    {kLogList, L"LISTBOX", L"",
     WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE,
     {kContentLeft, 100, kContentRight, buttonsTop() - 16}},
    {kLaunchBox, L"BUTTON", L"Запустить ZORVEK Antivirus сейчас", WS_TABSTOP | BS_AUTOCHECKBOX, 0,
     {kContentLeft, 140, kContentRight, 164}},
    {kBackButton, L"BUTTON", L"Назад", WS_TABSTOP | BS_PUSHBUTTON, 0,
     {kContentRight - 3 * kButtonWidth - 20, buttonsTop(), kContentRight - 2 * kButtonWidth - 20,
      buttonsTop() + kButtonHeight}},
    {kNextButton, L"BUTTON", L"", WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
     {kContentRight - 2 * kButtonWidth - 12, buttonsTop(), kContentRight - kButtonWidth - 12,
      buttonsTop() + kButtonHeight}},
    {kCancelButton, L"BUTTON", L"Отмена", WS_TABSTOP | BS_PUSHBUTTON, 0,
     {kContentRight - kButtonWidth, buttonsTop(), kContentRight, buttonsTop() + kButtonHeight}},
};

bool createControls(Wizard& w, HINSTANCE instance) {
  for (const ControlPlan& plan : kControls) {
    const HWND child = CreateWindowExW(
        plan.exStyle, plan.className, plan.text, WS_CHILD | plan.style, px(plan.at.left),
        px(plan.at.top), px(plan.at.right - plan.at.left), px(plan.at.bottom - plan.at.top),
        w.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(plan.id)), instance, nullptr);
    if (!child) return false;
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font(11)), FALSE);
    w.controls[static_cast<size_t>(plan.id - kNextButton)] = child;
  }
  SendMessageW(w.control(kFolderEdit), EM_SETLIMITTEXT, 1024, 0);
  const SetupOptions& o = w.state.options;
  SendMessageW(w.control(kAutostartBox), BM_SETCHECK, o.autostart ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(w.control(kDriverBox), BM_SETCHECK, o.driver ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(w.control(kLaunchBox), BM_SETCHECK, BST_CHECKED, 0);
  // A repair or removal started from the list of installed programs carries no "/dir=": it must
  // work on the installation where it is, not on an empty default folder.
  std::wstring folder = o.installDir;
  if (folder.empty())
    folder = o.uninstall || o.repair
                 ? installedDirectory(o)
                 : defaultInstallDir(zorvek::knownFolder(zorvek::KnownFolder::ProgramFiles));
  SetWindowTextW(w.control(kFolderEdit), folder.c_str());
  return true;
}

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool isChecked(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void showPage(Wizard& w, int page) {
  w.state.page = page;
  for (int id = kNextButton; id <= kFolderLabel; ++id)
    ShowWindow(w.control(id), controlShown(w.state, id) ? SW_SHOW : SW_HIDE);
  SetWindowTextW(w.control(kNextButton), nextButtonText(wizardMode(w.state.options), page).c_str());
  EnableWindow(w.control(kBackButton), backEnabled(page));
  EnableWindow(w.control(kCancelButton), cancelEnabled(page));
  SendMessageW(w.control(kProgressBar), PBM_SETMARQUEE, page == kWorkPage, 30);
  // Keep the focus on something the page shows, or the keyboard would go nowhere.
  const HWND focus = GetFocus();
  if (!focus || !IsWindowVisible(focus) || !IsWindowEnabled(focus))
    SetFocus(w.control(page == kOptionsPage ? kFolderEdit : kNextButton));
  InvalidateRect(w.window, nullptr, TRUE);
}

void disableCancel(Wizard& w) {
  if (GetFocus() == w.control(kCancelButton)) SetFocus(w.control(kNextButton));
  EnableWindow(w.control(kCancelButton), FALSE);
}

// Posts a payload the window takes over; frees it when the window can no longer get it.
template <typename T>
bool postOwned(HWND hwnd, UINT message, std::unique_ptr<T> payload) {
  if (!PostMessageW(hwnd, message, 0, reinterpret_cast<LPARAM>(payload.get()))) return false;
  payload.release();
  return true;
}

void startWorker(Wizard& w) {
  SetupOptions& o = w.state.options;
  o.installDir = windowText(w.control(kFolderEdit));
  o.autostart = isChecked(w.control(kAutostartBox));
  o.driver = isChecked(w.control(kDriverBox));
  beginWork(w.state);
  showPage(w, kWorkPage);

  const HWND hwnd = w.window;
  const UINT doneMessage = o.uninstall ? kWizardUninstallDoneMessage : kWizardInstallDoneMessage;
  // A line that cannot be posted (a full queue) is lost to the list only: it is in the log file.
  const auto line = [hwnd](const std::wstring& text) {
    postOwned(hwnd, kWizardLineMessage, std::make_unique<std::wstring>(text));
  };
  // Not owned by the window: the worker never touches it, and the box holds up only the work.
  const auto message = [](const std::wstring& text) {
    const bool error = text == kNoRightsText;
    MessageBoxW(nullptr, text.c_str(), kMessageCaption,
                MB_OK | MB_SETFOREGROUND | (error ? MB_ICONERROR : MB_ICONINFORMATION));
  };
  // The result must arrive, or the window would wait on the work page for good: retry while the
  // queue is full.
  const auto done = [hwnd, doneMessage](int result) {
    while (!postOwned(hwnd, doneMessage, std::make_unique<int>(result))) {
      if (!IsWindow(hwnd)) return;
      Sleep(50);
    }
  };
  w.worker = startWork(o, Progress{line, message}, done);
}

void addLogLine(Wizard& w, std::wstring text) {
  const HWND list = w.control(kLogList);
  const LRESULT index = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index >= 0) {
    RECT client{};
    GetClientRect(list, &client);
    const auto itemHeight = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    const int visible =
        itemHeight > 0 ? std::max(1, static_cast<int>(client.bottom - client.top) / itemHeight) : 1;
    const auto top = std::max<LRESULT>(0, index - visible + 1);
    SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    // A single-selection list keeps its caret on the selected line.
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (HDC dc = GetDC(list)) {
      const HGDIOBJ old = SelectObject(dc, font(11));
      SIZE size{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      SelectObject(dc, old);
      ReleaseDC(list, dc);
      if (size.cx + px(8) > w.logExtent) {
        w.logExtent = size.cx + px(8);
        SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(w.logExtent), 0);
      }
    }
  }
  w.state.lines.push_back(std::move(text));
}

void onWorkDone(Wizard& w, int result) {
  if (w.worker.joinable()) w.worker.join();
  finishWork(w.state, result);
  showPage(w, kFinishPage);
}

// The picker starts at the deepest folder of the box that exists, so a path typed there is where
// the user goes on from.
int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message != BFFM_INITIALIZED) return 0;
  std::wstring folder = *reinterpret_cast<const std::wstring*>(data);
  while (!folder.empty() && !isFolder(folder)) {
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash == std::wstring::npos) folder.clear();
    else folder.resize(slash);
  }
  if (!folder.empty())
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
  return 0;
}

void browse(Wizard& w) {
  const std::wstring current = windowText(w.control(kFolderEdit));
  BROWSEINFOW info{};
  info.hwndOwner = w.window;
  info.lpszTitle = kBrowseTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = browseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&current);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return;
  wchar_t path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListW(chosen, path) != FALSE;
  CoTaskMemFree(chosen);
  if (ok && path[0]) SetWindowTextW(w.control(kFolderEdit), pickedFolder(path).c_str());
}

void finish(Wizard& w) {
  if (launchOffered(w.state) && isChecked(w.control(kLaunchBox))) {
    // The folder the work used: an empty or relative box was resolved by it.
    const std::wstring folder = installDirectory(w.state.options);
    const std::wstring program = desktopProgramPath(folder);
    if (isFile(program))
      ShellExecuteW(w.window, L"open", program.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
  }
  DestroyWindow(w.window);
}

void apply(Wizard& w, WizardStep step) {
  switch (step.action) {
    case WizardAction::ShowPage: showPage(w, step.page); break;
    case WizardAction::StartWork: startWorker(w); break;
    case WizardAction::Finish: finish(w); break;
    case WizardAction::Close: DestroyWindow(w.window); break;
    case WizardAction::DisableCancel: disableCancel(w); break;
    case WizardAction::Browse: browse(w); break;
    case WizardAction::None: break;
  }
}

// --- Painting ---------------------------------------------------------------------------------

void paintBand(HDC dc, const Wizard& w, int height) {
  const int width = px(kBandWidth);
  fillRect(dc, {0, 0, width, height}, kBandBase);
  for (int i = 0; i < kBandSteps; ++i) {
    const Rgb c = bandColor(i);
    fillRect(dc, {0, height * i / kBandSteps, width, height * (i + 1) / kBandSteps},
             RGB(c.r, c.g, c.b));
  }
  const BandEmblem emblem = bandEmblem(w.state);
  const int side = px(kEmblemSide);
  const int left = (width - side) / 2, top = px(kEmblemTop);
  drawEmblem(dc, {left, top, left + side, top + side}, emblem.state, emblem.label);
  drawText(dc, {px(28), top + side + px(16), width - px(12), top + side + px(96)},
           L"ZORVEK\nAntivirus", font(22, kBold), kBrandText, DT_LEFT | DT_TOP | DT_NOPREFIX);
  drawText(dc, {px(28), height - px(40), width - px(12), height - px(16)},
           std::wstring(L"версия ") + zorvek::kVersionW, font(11), kBrandSubtitle);
}

void paintContent(HDC dc, const Wizard& w) {
  const WizardState& s = w.state;
  RECT title = pxRect(kContentLeft, kContentTop, kContentRight, kContentTop + kTitleLine);
  drawText(dc, title, pageTitle(s), font(17, kBold), kBodyText, DT_LEFT | DT_TOP | DT_SINGLELINE |
                                                                    DT_NOPREFIX | DT_END_ELLIPSIS);
  const RECT below = pxRect(kContentLeft, kContentTop + kTitleLine + 12, kContentRight,
                            buttonsTop() - 16);
  const UINT wrap = DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX;
  switch (s.page) {
    case kWelcomePage: drawText(dc, below, pageText(s), font(11), kBodyText, wrap); break;
    case kOptionsPage:
      drawText(dc, pxRect(kContentLeft, 70, kContentRight, 90), L"Каталог программы:", font(11),
               kSecondaryText);
      break;
    case kFinishPage:
      drawText(dc, below, pageText(s), font(11, kBold), s.success ? kGreen : kRed, wrap);
      break;
    default: break;
  }
}

void paint(HDC target, const Wizard& w) {
  RECT client{};
  GetClientRect(w.window, &client);
  BufferedPaint buffer(target, client);
  const HDC dc = buffer.dc();
  fillRect(dc, client, kBackground);
  paintBand(dc, w, client.bottom);
  paintContent(dc, w);
}

// --- Window procedure -------------------------------------------------------------------------

LRESULT CALLBACK wizardProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* w = static_cast<Wizard*>(create->lpCreateParams);
    w->window = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  Wizard* w = wizardOf(hwnd);
  if (!w) return DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == IDCANCEL) {  // Escape, through IsDialogMessageW
        if (!IsWindowEnabled(w->control(kCancelButton))) return 0;
        id = kCancelButton;
      }
      apply(*w, onCommand(w->state, id));
      return 0;
    }
    case DM_GETDEFID:  // Enter presses the main button
      return MAKELONG(kNextButton, DC_HASDEFID);
    case WM_CLOSE:
      apply(*w, onClose(w->state));
      return 0;
    case kWizardLineMessage: {
      std::unique_ptr<std::wstring> line(reinterpret_cast<std::wstring*>(lParam));
      if (line) addLogLine(*w, std::move(*line));
      return 0;
    }
    case kWizardInstallDoneMessage:
    case kWizardUninstallDoneMessage: {
      std::unique_ptr<int> result(reinterpret_cast<int*>(lParam));
      onWorkDone(*w, result ? *result : 1);
      return 0;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {px(kMinTrackWidth), px(kMinTrackHeight)};
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, kBackground);
      SetTextColor(dc, kBodyText);
      return reinterpret_cast<LRESULT>(w->background.get());
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(hwnd, &ps);
      if (dc) paint(dc, *w);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      paint(reinterpret_cast<HDC>(wParam), *w);
      return 0;
    case WM_DESTROY:
      if (w->worker.joinable()) w->worker.join();
      PostQuitMessage(wizardExitCode(w->state));
      return 0;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

struct Icons {
  HICON big, small;
};

// Loaded once: the class keeps using them for the process's lifetime.
Icons wizardIcons(HINSTANCE instance) {
  static const HICON icon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kWizardIconResource), IMAGE_ICON,
                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  static const HICON smallIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(kWizardIconResource), IMAGE_ICON,
                 GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  return {icon, smallIcon};
}

bool registerClass(HINSTANCE instance) {
  const Icons icons = wizardIcons(instance);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = wizardProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = icons.big;
  wc.hIconSm = icons.small;
  wc.lpszClassName = kWizardClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Frees what the worker posted but the window never took (nothing, unless it died early).
void dropPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, kWizardLineMessage, kWizardUninstallDoneMessage, PM_REMOVE)) {
    if (msg.message == kWizardLineMessage) delete reinterpret_cast<std::wstring*>(msg.lParam);
    else delete reinterpret_cast<int*>(msg.lParam);
  }
}

}  // namespace

bool openWizard(Wizard& w) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registerClass(instance)) return false;
  setDpi(systemDpi());

  w.background.reset(CreateSolidBrush(kBackground));
  RECT frame{0, 0, px(kClientWidth), px(kClientHeight)};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const HWND hwnd = CreateWindowExW(kWindowExStyle, kWizardClass, kWizardTitle, kWindowStyle,
                                    CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                    frame.bottom - frame.top, nullptr, nullptr, instance, &w);
  if (!hwnd) return false;
  if (!createControls(w, instance)) {
    DestroyWindow(hwnd);
    // The quit message of the destroyed window must not end the caller's next message loop.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    w.window = nullptr;
    return false;
  }
  // Also on the window itself, where the task switcher and WM_GETICON look.
  const Icons icons = wizardIcons(instance);
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.big));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small));
  showPage(w, kWelcomePage);
  return true;
}

int runWizard(const SetupOptions& options) {
  Wizard w;
  w.state.options = options;
  if (!openWizard(w)) return 1;
  const HWND hwnd = w.window;
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);

  MSG msg;
  int code = 1;
  while (true) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) break;
    if (IsWindow(hwnd) && IsDialogMessageW(hwnd, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  if (w.worker.joinable()) w.worker.join();
  dropPending();
  return code;
}

}  // namespace setup
