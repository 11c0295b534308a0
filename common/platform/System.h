#pragma once
// Process and system facts that differ between the platforms: known folders, the program's own
// path, the environment, the debugger channel, local time.

#include <cstdint>
#include <optional>
#include <string>

namespace zorvek {

// Windows known folders; on POSIX the nearest equivalents (empty where there is none).
// Programs and Desktop are the user's Start menu programs and desktop (shortcuts).
enum class KnownFolder { ProgramData, LocalAppData, ProgramFiles, Windows, Programs, Desktop };

// The folder's path without a trailing separator, or empty when it cannot be obtained.
std::wstring knownFolder(KnownFolder folder);

// The folder the system keeps its data in before any override: Windows: ProgramData\ZORVEK
// Antivirus, else LocalAppData\ZorvekAntivirus, else empty. POSIX: /var/lib/zorvek for root,
// else $XDG_DATA_HOME/zorvek or ~/.local/share/zorvek.
std::wstring platformDataFolder();

// Full path of the running program's executable (empty when unknown).
std::wstring modulePath();

std::optional<std::wstring> environmentVariable(const std::wstring& name);
// An empty optional removes the variable.
bool setEnvironmentVariable(const std::wstring& name, const std::optional<std::wstring>& value);

// Whether standard error is an interactive terminal (for live progress lines).
bool stderrIsTerminal();

// Sends text to an attached debugger (OutputDebugStringA); nothing on POSIX.
void debugOutput(const char* text);

uint32_t currentThreadId();
uint32_t currentProcessId();

struct LocalTimeOfDay {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTimeOfDay localTimeOfDay();

// Milliseconds since 1970-01-01 UTC.
uint64_t unixTimeMs();

// The error number of the last failed system call on this thread (GetLastError / errno).
unsigned long lastSystemError();

}  // namespace zorvek
