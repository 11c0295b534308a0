#include "common/platform/win32/Win.h"

#include "common/Hosts.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "setup/InstallLayout.h"
#include "setup/SetupLog.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/ProgramFiles.h"
#include "setup/win32/Registration.h"
#include "setup/win32/Services.h"
#include "setup/win32/WinError.h"
#include "setup/win32/Work.h"

namespace setup {
namespace {

// cmd waits two seconds for this program to exit, then removes the folder.
bool scheduleRemoval(const std::wstring& dir, std::wstring* error) {
  std::wstring command = delayedRemovalCommand(dir);
  if (command.empty()) {
    if (error) *error = L"имя каталога с символом %, cmd изменил бы его";
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    if (error) *error = errorText(GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

void removeInstallDirectory(const std::wstring& dir, StepLog& log) {
  if (!zorvek::pathExists(dir)) {
    log.info(L"каталог " + dir + L" не найден, удалять нечего");
    return;
  }
  if (!holdsInstallation(dir)) {
    log.error(L"каталог " + dir + L" не удалён: в нём нет ни ZorvekService.exe, ни ZorvekSetup.exe");
    return;
  }
  std::wstring why;
  const std::wstring self = zorvek::modulePath();
  const size_t slash = self.find_last_of(L'\\');
  if (slash != std::wstring::npos && sameFileObject(self.substr(0, slash), dir)) {
    if (scheduleRemoval(dir, &why))
      log.info(L"каталог будет удалён после выхода программы");
    else
      log.error(L"удаление каталога: " + why);
    return;
  }
  std::string error;
  if (removeTree(dir, &error))
    log.info(L"каталог удалён");
  else
    log.error(L"удаление каталога: " + zorvek::toWide(error));
}

}  // namespace

// The uninstall strings carry no "/dir=": an installation made elsewhere is found through the
// folder the uninstall entry recorded, when the default folder holds none.
std::wstring installedDirectory(const SetupOptions& options) {
  const std::wstring dir = installDirectory(options);
  if (!options.installDir.empty() || holdsInstallation(dir)) return dir;
  const std::wstring recorded = recordedInstallLocation();
  return !recorded.empty() && holdsInstallation(recorded) ? recorded : dir;
}

int runUninstall(const SetupOptions& options, const Progress& progress) {
  StepLog log(setupLogPath(tempFolder()), progress);
  const std::wstring dir = installedDirectory(options);
  log.info(std::wstring(L"Удаление ") + kProductName);
  log.info(L"Каталог: " + dir);

  removeDriverService(log);
  removeProtectionService(log);

  std::string why;
  if (zorvek::removeWebShieldBlock(&why))
    log.info(L"блокировки веб-экрана сняты");
  else
    log.info(L"очистка hosts: " + zorvek::toWide(why));

  deleteUninstallEntry();
  removeAutostart();
  removeShortcuts();

  // A desktop program still running from the folder would keep its files there.
  closeRunningCopies(desktopProgramPath(dir), log);
  removeInstallDirectory(dir, log);
  log.info(L"Удаление завершено.");
  return log.result();
}

}  // namespace setup
