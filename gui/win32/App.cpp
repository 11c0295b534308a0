#include "gui/win32/App.h"

#include <objbase.h>

#include "common/DataPaths.h"
#include "common/Logger.h"
#include "gui/win32/MainWindow.h"
#include "gui/win32/toolkit/Toolkit.h"

namespace zorvek::gui {

int runApp(HINSTANCE instance, std::wstring_view commandLine) {
  const bool autostart = commandLine.find(L"--autostart") != std::wstring_view::npos;
  Logger::instance().open(logFilePath());
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // WM_DPICHANGED reaches only windows of a process that follows the monitor's DPI.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  int code = 1;
  {
    ui::GdiplusSession gdiplus;
    ui::setDpi(ui::systemDpi());
    MainWindow window;
    if (!window.create(instance, !autostart)) {
      MessageBoxW(nullptr, L"Не удалось создать окно приложения.", kAppTitle, MB_OK | MB_ICONERROR);
    } else {
      MSG msg;
      BOOL got;
      while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      code = got == 0 ? static_cast<int>(msg.wParam) : 1;
    }
    ui::clearFonts();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}

}  // namespace zorvek::gui
