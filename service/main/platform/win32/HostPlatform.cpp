#include "service/main/HostPlatform.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"

namespace zorvek::svc::host {
namespace {

void (*g_serviceMain)() = nullptr;
void (*g_onStop)() = nullptr;
void (*g_consoleStop)() = nullptr;

// The status record: written by service main and the control handler (a system thread).
std::mutex g_statusMutex;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};

DWORD toWin32State(ServiceState state) {
  switch (state) {
    case ServiceState::StartPending: return SERVICE_START_PENDING;
    case ServiceState::Running: return SERVICE_RUNNING;
    case ServiceState::StopPending: return SERVICE_STOP_PENDING;
    case ServiceState::Stopped: return SERVICE_STOPPED;
  }
  return SERVICE_STOPPED;
}

// Under g_statusMutex.
void setStatusLocked(DWORD state, DWORD exitCode, DWORD waitHint) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwWin32ExitCode = exitCode;
  g_status.dwServiceSpecificExitCode = 0;
  g_status.dwWaitHint = waitHint;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  g_status.dwControlsAccepted = pending ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
  if (g_statusHandle) SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI controlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: {
      logInfo("ZORVEK Antivirus: stop requested");
      {
        std::lock_guard lock(g_statusMutex);
        setStatusLocked(SERVICE_STOP_PENDING, NO_ERROR, 30000);
      }
      if (g_onStop) g_onStop();
      return NO_ERROR;
    }
    case SERVICE_CONTROL_INTERROGATE: {
      std::lock_guard lock(g_statusMutex);
      setStatusLocked(g_status.dwCurrentState, NO_ERROR, 0);
      return NO_ERROR;
    }
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI serviceMainEntry(DWORD, LPWSTR*) {
  if (g_serviceMain) g_serviceMain();
}

BOOL WINAPI consoleHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (g_consoleStop) g_consoleStop();
      return TRUE;
    default:
      return FALSE;
  }
}

LONG WINAPI crashFilter(EXCEPTION_POINTERS* info) {
  char text[160];
  const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
  formatUnhandledException(text, sizeof text, record ? record->ExceptionCode : 0,
                           record ? record->ExceptionAddress : nullptr, GetCurrentThreadId());
  writeCrashRecord(text);
  return EXCEPTION_EXECUTE_HANDLER;
}

bool usableHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

}  // namespace

bool runServiceDispatcher(void (*serviceMain)(), uint32_t* win32Error) {
  g_serviceMain = serviceMain;
  static wchar_t name[] = L"ZorvekService";
  const SERVICE_TABLE_ENTRYW table[] = {{name, serviceMainEntry}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherW(table)) return true;
  if (win32Error) *win32Error = GetLastError();
  return false;
}

bool registerControlHandler(void (*onStop)()) {
  g_onStop = onStop;
  const SERVICE_STATUS_HANDLE h = RegisterServiceCtrlHandlerExW(kServiceName, controlHandler, nullptr);
  std::lock_guard lock(g_statusMutex);
  g_statusHandle = h;
  return h != nullptr;
}

void reportStatus(ServiceState state, uint32_t win32ExitCode, uint32_t waitHintMs) {
  std::lock_guard lock(g_statusMutex);
  setStatusLocked(toWin32State(state), win32ExitCode, waitHintMs);
}

void installConsoleStopHandler(void (*onStop)()) {
  g_consoleStop = onStop;
  SetConsoleCtrlHandler(consoleHandler, TRUE);
}

void ensureConsole() {
  if (usableHandle(GetStdHandle(STD_OUTPUT_HANDLE)) || GetConsoleWindow()) return;
  AllocConsole();
}

void printLine(const std::wstring& text) {
  const std::wstring line = text + L"\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!usableHandle(out)) {
    static HANDLE conout = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
    out = conout;
  }
  if (!usableHandle(out)) return;
  DWORD written = 0;
  if (WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) return;
  // Redirected to a file or a pipe: the console write refuses, so send UTF-8 bytes.
  const std::string bytes = toUtf8(line);
  WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void installCrashHandler() { SetUnhandledExceptionFilter(crashFilter); }

bool minifilterRegistered() {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ZorvekFilter", 0,
                    KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return false;
  DWORD value = 0, type = 0, size = sizeof value;
  const LSTATUS rc = RegQueryValueExW(key.get(), L"Start", nullptr, &type,
                                      reinterpret_cast<BYTE*>(&value), &size);
  return rc == ERROR_SUCCESS && type == REG_DWORD && value == 1;
}

}  // namespace zorvek::svc::host
