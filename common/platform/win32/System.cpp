#include "common/platform/System.h"

#include "common/platform/win32/Win.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

namespace zorvek {
namespace {

std::wstring knownFolderPath(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &raw)) && raw) path = raw;
  CoTaskMemFree(raw);
  return path;
}

}  // namespace

std::wstring knownFolder(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::ProgramData: return knownFolderPath(FOLDERID_ProgramData);
    case KnownFolder::LocalAppData: return knownFolderPath(FOLDERID_LocalAppData);
    case KnownFolder::ProgramFiles: return knownFolderPath(FOLDERID_ProgramFiles);
    case KnownFolder::Windows: return knownFolderPath(FOLDERID_Windows);
    case KnownFolder::Programs: return knownFolderPath(FOLDERID_Programs);
    case KnownFolder::Desktop: return knownFolderPath(FOLDERID_Desktop);
  }
  return {};
}

std::wstring platformDataFolder() {
  std::wstring base = knownFolder(KnownFolder::ProgramData);
  if (!base.empty()) return base + L"\\ZORVEK Antivirus";
  base = knownFolder(KnownFolder::LocalAppData);
  if (!base.empty()) return base + L"\\ZorvekAntivirus";
  return {};
}

std::wstring modulePath() {
  // Grow past MAX_PATH: a truncated name would point the seed database somewhere else.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::wstring> environmentVariable(const std::wstring& name) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n =
        GetEnvironmentVariableW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::wstring();
    }
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n);
  }
}

bool setEnvironmentVariable(const std::wstring& name, const std::optional<std::wstring>& value) {
  return SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr) != 0;
}

bool stderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void debugOutput(const char* text) { OutputDebugStringA(text); }

uint32_t currentThreadId() { return GetCurrentThreadId(); }

uint32_t currentProcessId() { return GetCurrentProcessId(); }

LocalTimeOfDay localTimeOfDay() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint64_t unixTimeMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (ticks - 116444736000000000ull) / 10000;
}

unsigned long lastSystemError() { return GetLastError(); }

}  // namespace zorvek
