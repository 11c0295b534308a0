#pragma once
// What the service host needs from the operating system: the service control manager, console
// control events, the console itself, the crash handler and the minifilter's registry entry.

#include <cstdint>
#include <string>

namespace zorvek::svc::host {

inline constexpr wchar_t kServiceName[] = L"ZorvekService";

// --- Service control manager (Windows; POSIX has none) ---------------------------------------

// Runs `serviceMain` on the dispatcher's thread and returns when the service has stopped. False
// when the dispatcher cannot start (the program was not launched by the service control manager);
// `win32Error` then receives the error number.
bool runServiceDispatcher(void (*serviceMain)(), uint32_t* win32Error);

enum class ServiceState { StartPending, Running, StopPending, Stopped };

// Registers the control handler: STOP and SHUTDOWN report STOP_PENDING and call `onStop`;
// INTERROGATE reports the current state again; anything else is "call not implemented".
bool registerControlHandler(void (*onStop)());
// Reports the state; the checkpoint advances in the pending states and is 0 otherwise.
void reportStatus(ServiceState state, uint32_t win32ExitCode = 0, uint32_t waitHintMs = 0);

// --- Console ----------------------------------------------------------------------------------

// Windows: Ctrl+C, Ctrl+Break and closing the console call `onStop`. POSIX: SIGINT and SIGTERM.
void installConsoleStopHandler(void (*onStop)());
// Gives the process a console when it has neither a usable standard output nor a console.
void ensureConsole();
// One line (CR LF) on standard output: the console's wide write, else UTF-8 bytes.
void printLine(const std::wstring& text);

// --- Crash handler ----------------------------------------------------------------------------

// Windows: the unhandled-exception filter. POSIX: SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT.
// Both write the "crash: UNHANDLED EXCEPTION ..." line to the crash handle of the log and let
// the process end.
void installCrashHandler();

// --- Minifilter -------------------------------------------------------------------------------

// The driver's service entry has Start = 1 (POSIX: false).
bool minifilterRegistered();

}  // namespace zorvek::svc::host
