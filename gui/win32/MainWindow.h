#pragma once
// The desktop program's one window: the sidebar with its navigation and status headline, the
// page area, the tray icon and its menu, and the one-second poll that keeps its picture of the
// service fresh. Everything runs on the window thread.

#include <vector>

#include "common/platform/win32/Win.h"
#include "gui/model/Commands.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"
#include "gui/model/ThreatStep.h"
#include "gui/win32/Pages.h"
#include "gui/win32/Shell.h"
#include "gui/win32/TrayIcon.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {

inline constexpr wchar_t kMainWindowClass[] = L"ZorvekMainWindow";
inline constexpr wchar_t kAppTitle[] = L"ZORVEK Antivirus";

class MainWindow : private ThreatUi {
 public:
  explicit MainWindow(SessionOptions options = {});
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class and creates the window, shown or hidden; false when either fails.
  bool create(HINSTANCE instance, bool visible);
  HWND hwnd() const { return hwnd_; }

 private:
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
  void onMouseWheel(int delta);
  void scrollQuarantine(long long rows);
  // Commands of the pages' rows and of the Settings and Firewall pages; false for others.
  bool runPageCommand(int command);

  // ThreatUi.
  bool windowVisible() override;
  int askDecision(const ipc::ThreatRecord& threat) override;
  void balloon(const std::string& title, const std::string& text) override;
  void setTrayGreen(bool green) override;
  void repaint() override;

  void paint(HDC dc);
  void paintSidebar(HDC dc, const RECT& area);

  HWND hwnd_ = nullptr;
  SessionClient client_;
  WindowPrompts prompts_;
  ServiceView view_;
  PageContext page_;
  std::vector<Hit> navigation_;
  std::vector<Hit> buttons_;
  ui::BackBuffer backBuffer_;
  int hoverNavigation_ = -1;
  int hoverButton_ = -1;
  TrayIcon tray_;
  UINT taskbarCreated_ = 0;
  bool exiting_ = false;
  bool polling_ = false;
  bool dialogOpen_ = false;
  bool shown_ = false;  // create() has shown the window or left it hidden
};

}  // namespace zorvek::gui
