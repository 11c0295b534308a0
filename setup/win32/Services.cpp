#include "setup/win32/Services.h"

#include "common/platform/win32/Win.h"

#include <chrono>

#include "common/platform/win32/Handle.h"
#include "setup/InstallLayout.h"
#include "setup/win32/ProgramFiles.h"
#include "setup/win32/WinError.h"

namespace setup {
namespace {

using zorvek::UniqueKernelHandle;
using zorvek::UniqueRegKey;
using zorvek::UniqueServiceHandle;

constexpr DWORD kPollMs = 250;
constexpr DWORD kStopWaitMs = 20000;
constexpr DWORD kStartWaitMs = 60000;
constexpr DWORD kKilledPauseMs = 1500;
constexpr wchar_t kDriverInstanceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\ZorvekFilter\\Instances";
constexpr wchar_t kDriverInstanceName[] = L"ZorvekFilterInstance";

std::wstring lastError() { return errorText(GetLastError()); }

bool queryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed) != 0;
}

enum class Wait { Reached, Stopped, TimedOut, Failed };

// Polls until the service reaches `state`; a service heading for RUNNING that drops to STOPPED
// ends the wait at once.
Wait waitForState(SC_HANDLE service, DWORD state, DWORD limitMs, SERVICE_STATUS_PROCESS& status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    if (!queryStatus(service, status)) return Wait::Failed;
    if (status.dwCurrentState == state) return Wait::Reached;
    if (state == SERVICE_RUNNING && status.dwCurrentState == SERVICE_STOPPED) return Wait::Stopped;
    if (std::chrono::steady_clock::now() >= deadline) return Wait::TimedOut;
    Sleep(kPollMs);
  }
}

UniqueServiceHandle openManager(DWORD access) {
  return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, access));
}

bool setDescription(SC_HANDLE service) {
  std::wstring text = kServiceDescription;
  SERVICE_DESCRIPTIONW description{text.data()};
  return ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description) != 0;
}

bool setRecovery(SC_HANDLE service) {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 15000}, {SC_ACTION_RESTART, 60000},
                         {SC_ACTION_RESTART, 300000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 0;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  return ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != 0;
}

bool startAndCheck(StepLog& log, SC_HANDLE manager) {
  const UniqueServiceHandle service(
      OpenServiceW(manager, kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) {
    log.error(L"OpenService для запуска: " + lastError());
    return false;
  }
  // The manager holds its database lock while it starts the automatic services after a boot:
  // wait that out within the start budget.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartWaitMs);
  while (!StartServiceW(service.get(), 0, nullptr)) {
    const DWORD code = GetLastError();
    if (code == ERROR_SERVICE_ALREADY_RUNNING) break;
    if (code != ERROR_SERVICE_DATABASE_LOCKED || std::chrono::steady_clock::now() >= deadline) {
      log.error(L"StartService: " + errorText(code));
      return false;
    }
    Sleep(kPollMs);
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD code = 0;
  switch (waitForState(service.get(), SERVICE_RUNNING, kStartWaitMs, status)) {
    case Wait::Reached: break;
    case Wait::Stopped:
      code = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                 ? status.dwServiceSpecificExitCode
                 : status.dwWin32ExitCode;
      break;
    case Wait::TimedOut: code = ERROR_TIMEOUT; break;
    case Wait::Failed: code = GetLastError(); break;
  }
  if (code != 0 || status.dwCurrentState != SERVICE_RUNNING) {
    log.error(L"служба не дошла до RUNNING: " + errorText(code));
    return false;
  }
  log.info(L"служба запущена");
  return true;
}

// Opens an existing service for deletion after stopping it. Empty when it does not exist; a
// failure to open an existing one is an error.
UniqueServiceHandle openForDeletion(const std::wstring& name, StepLog& log) {
  const UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) {
    log.error(L"OpenSCManager: " + lastError());
    return {};
  }
  {
    const UniqueServiceHandle probe(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    if (!probe && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return {};
  }
  stopService(name, log);
  UniqueServiceHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service && GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
    log.error(L"OpenService(" + name + L"): " + lastError());
  return service;
}

}  // namespace

bool stopService(const std::wstring& name, StepLog& log) {
  const UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
  if (!manager) return true;
  const UniqueServiceHandle service(
      OpenServiceW(manager.get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return true;
  SERVICE_STATUS_PROCESS status{};
  if (queryStatus(service.get(), status) && status.dwCurrentState == SERVICE_STOPPED) return true;
  SERVICE_STATUS ignored{};
  ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
  if (waitForState(service.get(), SERVICE_STOPPED, kStopWaitMs, status) == Wait::Reached) {
    log.info(L"служба " + name + L" остановлена");
    return true;
  }
  if (queryStatus(service.get(), status) && status.dwProcessId != 0) {
    const UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, status.dwProcessId));
    if (process && TerminateProcess(process.get(), 1)) {
      log.info(L"служба " + name + L" не завершалась сама, процесс снят принудительно");
      Sleep(kKilledPauseMs);
      return true;
    }
  }
  log.info(L"служба " + name + L" не остановилась, продолжаю");
  return false;
}

bool installService(const std::wstring& installDir, bool start, StepLog& log) {
  const UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (!manager) {
    log.error(L"OpenSCManager: " + lastError());
    return false;
  }
  const std::wstring image = serviceImagePath(installDir);
  UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
  if (service) {
    if (ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                             SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                             nullptr, nullptr, kProductName))
      log.info(L"существующая служба обновлена на " + image);
    else
      log.error(L"служба уже есть, обновление binPath не удалось: " + lastError());
  } else {
    // No account: LocalSystem.
    service.reset(CreateServiceW(manager.get(), kServiceName, kProductName, SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                 SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr));
    if (!service) {
      log.error(L"CreateService: " + lastError());
      return false;
    }
    log.info(L"служба создана, binPath=" + image);
  }
  if (!setDescription(service.get())) log.info(L"описание службы не задано: " + lastError());
  SERVICE_DELAYED_AUTO_START_INFO delayed{TRUE};
  if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed))
    log.info(L"задержанный автозапуск не задан: " + lastError());
  if (setRecovery(service.get()))
    log.info(L"восстановление: перезапуск через 15 с, 1 мин и 5 мин");
  else
    log.error(L"восстановление не задано: " + lastError());
  service.reset();

  if (!start) {
    log.info(L"запуск службы пропущен");
    return true;
  }
  if (!startAndCheck(log, manager.get())) return true;
  if (serviceAnswersHello()) {
    log.info(L"служба отвечает, защита работает");
  } else {
    log.info(L"служба запущена, но не отвечает на запросы. Перезапустите службу в services.msc и "
             L"посмотрите журнал %ProgramData%\\ZORVEK Antivirus\\zorvek.log");
  }
  return true;
}

void installDriver(const std::wstring& installDir, bool start, StepLog& log) {
  const std::wstring file = driverImagePath(installDir);
  if (!isFile(file)) {
    log.info(L"ZorvekFilter.sys не найден, драйвер пропущен");
    return;
  }
  const UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (!manager) {
    log.error(L"OpenSCManager для драйвера: " + lastError());
    return;
  }
  if (UniqueServiceHandle(OpenServiceW(manager.get(), kDriverName, SERVICE_QUERY_STATUS))) {
    log.info(L"служба драйвера уже зарегистрирована");
  } else {
    const UniqueServiceHandle created(CreateServiceW(
        manager.get(), kDriverName, kDriverDisplayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
        SERVICE_BOOT_START, SERVICE_ERROR_NORMAL, file.c_str(), nullptr, nullptr, nullptr, nullptr,
        nullptr));
    if (!created) {
      log.error(L"CreateService(ZorvekFilter): " + lastError());
      return;
    }
    log.info(L"служба драйвера создана, Start=0 (boot)");
  }

  // The filter manager attaches the instance that DefaultInstance names.
  UniqueRegKey instances, instance;
  bool written =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverInstanceKey, 0, nullptr, 0,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, instances.put(), nullptr) == ERROR_SUCCESS &&
      RegSetValueExW(instances.get(), L"DefaultInstance", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(kDriverInstanceName),
                     sizeof kDriverInstanceName) == ERROR_SUCCESS &&
      RegCreateKeyExW(instances.get(), kDriverInstanceName, 0, nullptr, 0,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, instance.put(), nullptr) == ERROR_SUCCESS;
  const DWORD flags = 0;
  written = written &&
            RegSetValueExW(instance.get(), L"Altitude", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(kDriverAltitude),
                           sizeof kDriverAltitude) == ERROR_SUCCESS &&
            RegSetValueExW(instance.get(), L"Flags", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&flags), sizeof flags) == ERROR_SUCCESS;
  if (written)
    log.info(L"высота фильтра 370040 зарегистрирована");
  else
    log.error(L"не удалось записать Instances (драйвер не загрузится)");

  if (!start) return;
  // An unsigned or not yet loadable driver starts after the restart: not an error of the install.
  const UniqueServiceHandle driver(OpenServiceW(manager.get(), kDriverName, SERVICE_START));
  if (!driver) {
    log.info(L"запуск драйвера не удался, потребуется перезагрузка");
  } else if (StartServiceW(driver.get(), 0, nullptr) ||
             GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) {
    log.info(L"драйвер запущен");
  } else {
    log.info(L"драйвер не стартовал (" + lastError() + L"), нужен перезапуск Windows");
  }
}

void removeDriverService(StepLog& log) {
  const UniqueServiceHandle driver = openForDeletion(kDriverName, log);
  if (!driver) return;
  if (DeleteService(driver.get()))
    log.info(L"служба драйвера удалена");
  else if (GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    log.error(L"DeleteService(ZorvekFilter): " + lastError());
}

void removeProtectionService(StepLog& log) {
  const UniqueServiceHandle service = openForDeletion(kServiceName, log);
  if (!service) return;
  if (DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)
    log.info(L"служба удалена");
  else
    log.error(L"DeleteService: " + lastError());
}

}  // namespace setup
