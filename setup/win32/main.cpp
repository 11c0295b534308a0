#include "common/platform/win32/Win.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/platform/win32/Handle.h"
#include "setup/win32/SetupMain.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  const zorvek::UniqueLocal<wchar_t**> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::wstring> args;
  if (argv) args.assign(argv.get(), argv.get() + count);
  return setup::runSetup(args);
}
