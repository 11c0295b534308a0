#include "common/platform/win32/Win.h"

#include <vector>

#include "common/Text.h"
#include "common/Version.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "setup/InstallLayout.h"
#include "setup/Payload.h"
#include "setup/SettingsSeed.h"
#include "setup/SetupLog.h"
#include "setup/platform/SetupFiles.h"
#include "setup/win32/DataFolder.h"
#include "setup/win32/Elevation.h"
#include "setup/win32/ProgramFiles.h"
#include "setup/win32/Registration.h"
#include "setup/win32/Services.h"
#include "setup/win32/WinError.h"
#include "setup/win32/Work.h"

namespace setup {
namespace {

std::wstring folderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

enum class Placed { Done, Skipped, Stop };

// One program file from the source into the installation, with its log line.
Placed placeFile(const std::wstring& source, const std::wstring& installDir, const wchar_t* name,
                 bool& restartNeeded, StepLog& log) {
  const std::wstring from = joinWindowsPath(source, name), to = joinWindowsPath(installDir, name);
  if (!isFile(from)) {
    log.info(std::wstring(name) + L" не найден в источнике, пропущен");
    return Placed::Skipped;
  }
  uint32_t code = 0;
  switch (copyReplacing(from, to, &code)) {
    case CopyResult::Copied: log.info(L"скопирован " + std::wstring(name)); return Placed::Done;
    case CopyResult::Scheduled:
      log.info(L"занят работающим процессом, " + std::wstring(name) +
               L" будет обновлён при следующей перезагрузке");
      restartNeeded = true;
      return Placed::Done;
    case CopyResult::Failed: break;
  }
  log.error(L"копирование " + to + L": " + systemMessage(code) + L" (из " + from + L", win32=" +
            std::to_wstring(code) + L"). Закройте все окна программы и повторите установку.");
  return Placed::Stop;
}

void seedServiceSettings(const std::wstring& installDir, StepLog& log) {
  // The machine's folder, as the service sees it: ZORVEK_DATA_DIR of this process is not the
  // service's.
  const std::wstring data = zorvek::platformDataFolder();
  if (data.empty()) {
    log.error(L"папка данных службы не найдена, настройки не записаны");
    return;
  }
  std::wstring why;
  if (secureDataFolder(data, &why))
    log.info(L"права на папку данных заданы: " + data);
  else
    log.error(L"права на папку данных не заданы: " + why);

  SeedPaths paths;
  paths.settingsFile = joinWindowsPath(data, L"settings.ini");
  if (const std::wstring profile = zorvek::knownFolder(zorvek::KnownFolder::LocalAppData);
      !profile.empty()) {
    paths.fallbackSettingsFile = joinWindowsPath(joinWindowsPath(profile, L"ZorvekAntivirus"), L"settings.ini");
  }
  paths.seedDatabase = seedDatabaseFor(installDir);
  paths.quarantineDir = joinWindowsPath(data, L"Quarantine");
  seedSettings(paths, log);
}

}  // namespace

std::wstring installDirectory(const SetupOptions& options) {
  if (options.installDir.empty())
    return defaultInstallDir(zorvek::knownFolder(zorvek::KnownFolder::ProgramFiles));
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetFullPathNameW(options.installDir.c_str(), static_cast<DWORD>(buffer.size()),
                                     buffer.data(), nullptr);
    if (n == 0) return options.installDir;
    if (n < buffer.size()) {
      std::wstring dir(buffer.data(), n);
      // "C:\dir\" and "C:\dir" are one folder; keep a drive's root as "C:\".
      while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
      return dir;
    }
    buffer.resize(n + 1);
  }
}

int runInstall(const SetupOptions& options, const Progress& progress) {
  const std::wstring temp = tempFolder();
  StepLog log(setupLogPath(temp), progress);
  const std::wstring installDir = installDirectory(options);
  log.info(std::wstring(L"Установка ") + kProductName + L" " + zorvek::kVersionW);
  log.info(L"Каталог: " + installDir);

  if (!isAdministrator()) {
    log.error(L"ВНИМАНИЕ: процесс БЕЗ прав администратора. Запись в Program Files невозможна — "
              L"установка не сможет завершиться.");
    log.message(kNoRightsText);
    return 1;
  }
  log.info(L"Права: администратор есть");

  InstallerPayload payload;
  payload.read(zorvek::modulePath());
  TempFolder extracted;
  std::string why;
  std::wstring source;
  switch (extractPayload(payload, extracted, temp,
                         L"ZorvekSetup-" + std::to_wstring(zorvek::currentProcessId()), &why)) {
    case ExtractResult::Extracted: source = extracted.path(); break;
    case ExtractResult::NoPayload: source = folderOf(zorvek::modulePath()); break;
    case ExtractResult::Failed:
      log.error(L"встроенные файлы: " + zorvek::toWide(why));
      return 1;
  }
  log.info(L"Источник: " + source);

  if (!zorvek::createDirectories(installDir, &why)) {
    log.error(L"создание каталога: " + zorvek::toWide(why));
    return 1;
  }
  stopService(kServiceName, log);
  closeRunningCopies(desktopProgramPath(installDir), log);

  bool restartNeeded = false;
  for (const wchar_t* name : kProgramFiles) {
    if (placeFile(source, installDir, name, restartNeeded, log) == Placed::Stop) return 1;
  }
  std::wstring folderError;
  if (copyFolder(joinWindowsPath(source, kDataFolderName), joinWindowsPath(installDir, kDataFolderName),
                 &folderError))
    log.info(L"скопирована папка data");
  else
    log.error(L"копирование data: " + folderError);
  // The driver is optional: a failed copy is reported and the install goes on.
  if (options.driver) placeFile(source, installDir, kDriverFile, restartNeeded, log);

  seedServiceSettings(installDir, log);
  if (!installService(installDir, true, log)) return 1;
  if (options.driver) installDriver(installDir, true, log);
  createShortcuts(installDir, log);
  writeUninstallEntry(installDir, log);
  if (options.autostart) {
    uint32_t code = 0;
    if (setAutostart(installDir, &code))
      log.info(L"автозапуск при входе в Windows включён");
    else
      log.error(L"автозапуск при входе в Windows не записан: " + errorText(code));
  } else {
    removeAutostart();
    log.info(L"автозапуск при входе в Windows выключен");
  }
  if (restartNeeded) {
    log.info(L"часть файлов была занята работающей программой и обновится после перезагрузки Windows");
    log.message(kRestartText);
  }
  log.info(L"Установка завершена.");
  return log.result();
}

}  // namespace setup
