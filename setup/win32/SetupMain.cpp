#include "setup/win32/SetupMain.h"

#include "common/platform/win32/Win.h"

#include <objbase.h>

#include "common/platform/System.h"
#include "gui/win32/toolkit/Toolkit.h"
#include "setup/Payload.h"
#include "setup/SetupLog.h"
#include "setup/SetupOptions.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/Console.h"
#include "setup/win32/Elevation.h"
#include "setup/win32/Wizard.h"
#include "setup/win32/Worker.h"

namespace setup {
namespace {

int showLog(const std::wstring& logPath) {
  if (!readSetupLog(logPath, [](const std::wstring& text) { printText(text); }))
    printLine(L"Журнал не найден: " + logPath);
  return 0;
}

int selfTest(const std::wstring& temp) {
  InstallerPayload payload;
  payload.read(zorvek::modulePath());
  return runSelfTest(payload, temp, [](const std::wstring& line) { printLine(line); });
}

// Silent mode: the lines go to the console (or the file or pipe the output goes to). A message
// box would wait for a click that an unattended install never gets, so messages are printed.
int silentWork(const SetupOptions& options) {
  const auto print = [](const std::wstring& line) { printLine(line); };
  return runWork(options, Progress{print, print});
}

}  // namespace

int runSetup(const std::vector<std::wstring>& args) {
  const CommandLine commandLine = parseCommandLine(args);
  for (const auto& arg : commandLine.unknown) printLine(unknownArgumentLine(arg));
  const std::wstring temp = tempFolder();
  const std::wstring logPath = setupLogPath(temp);

  switch (chooseMode(commandLine)) {
    case SetupMode::Help:
      for (const auto& line : helpLines()) printLine(line);
      return 0;
    case SetupMode::ShowLog: return showLog(logPath);
    case SetupMode::SelfTest: return selfTest(temp);
    default: break;
  }
  if (needsElevation(commandLine) && !isAdministrator())
    return static_cast<int>(relaunchElevated(commandLine.options, logPath));

  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  int code = 1;
  {
    const zorvek::ui::GdiplusSession gdiplus;
    code = chooseMode(commandLine) == SetupMode::Wizard ? runWizard(commandLine.options)
                                                        : silentWork(commandLine.options);
  }
  if (com) CoUninitialize();
  return code;
}

}  // namespace setup
