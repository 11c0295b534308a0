#include "setup/win32/SetupMain.h"

#include "common/platform/win32/Win.h"

#include <objbase.h>

#include "common/platform/System.h"
#include "setup/Payload.h"
#include "setup/SetupLog.h"
#include "setup/SetupOptions.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/Console.h"
#include "setup/win32/Elevation.h"

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

// The install, repair and uninstall work and the wizard come with the next installer step; until
// then this build says so instead of pretending to have done anything.
int unavailable(const std::wstring& logPath) {
  const std::wstring text = L"ОШИБКА: установка и удаление в этой сборке установщика недоступны";
  appendSetupLog(logPath, text);
  printLine(text);
  return 1;
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
  const int code = unavailable(logPath);
  if (com) CoUninitialize();
  return code;
}

}  // namespace setup
