#include "gui/win32/App.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  return zorvek::gui::runApp(instance, commandLine ? commandLine : L"");
}
