#pragma once
// The desktop program's one window: the sidebar with its navigation and status headline, the
// page area, the tray icon and its menu, and the one-second poll that keeps its picture of the
// service fresh. Everything runs on the window thread.

#include <vector>

#include "common/platform/win32/Win.h"
#include "gui/model/Commands.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"
#include "gui/win32/Shell.h"
#include "gui/win32/TrayIcon.h"

namespace zorvek::gui {

inline constexpr wchar_t kMainWindowClass[] = L"ZorvekMainWindow";
inline constexpr wchar_t kAppTitle[] = L"ZORVEK Antivirus";

class MainWindow {
 public:
  explicit MainWindow(SessionOptions options = {});
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class and creates the window, shown or hidden; false when either fails.
  bool create(HINSTANCE instance, bool visible);
  HWND hwnd() const { return hwnd_; }

 private:
  struct Hit {
    RECT rect;
    int command;
  };

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

  void onCreate();
  void runPoll();
  void runCommand(int command);
  void runTrayCommand(int command);
  void onTrayCallback(LPARAM lParam);
  void showTrayMenu();
  void showPage(Page page);
  void showWindow(bool activate);
  void onMouseMove(POINT p);
  void onLeftButtonDown(POINT p);

  void paint(HDC dc);
  void paintSidebar(HDC dc, const RECT& area);
  void paintPage(HDC dc, const RECT& area);

  HWND hwnd_ = nullptr;
  SessionClient client_;
  WindowPrompts prompts_;
  ServiceView view_;
  Page page_ = Page::Overview;
  std::vector<Hit> navigation_;
  std::vector<Hit> buttons_;
  int hoverNavigation_ = -1;
  int hoverButton_ = -1;
  TrayIcon tray_;
  UINT taskbarCreated_ = 0;
  bool exiting_ = false;
  bool polling_ = false;
};

}  // namespace zorvek::gui
