#include "setup/win32/Console.h"

#include "common/Text.h"
#include "common/platform/win32/Win.h"

namespace setup {
namespace {

bool usable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

HANDLE output() {
  static const HANDLE handle = [] {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (usable(out)) return out;
    // Started from a command prompt without redirection: print into that prompt's console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  }();
  return handle;
}

}  // namespace

void printText(std::wstring_view text) {
  const HANDLE out = output();
  if (!usable(out) || text.empty()) return;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    while (!text.empty()) {
      const DWORD chunk = static_cast<DWORD>(text.size() > 16384 ? 16384 : text.size());
      DWORD written = 0;
      if (!WriteConsoleW(out, text.data(), chunk, &written, nullptr) || written == 0) return;
      text.remove_prefix(written);
    }
    return;
  }
  const std::string bytes = zorvek::toUtf8(text);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    DWORD written = 0;
    if (!WriteFile(out, rest.data(), static_cast<DWORD>(rest.size() > (1u << 20) ? (1u << 20) : rest.size()),
                   &written, nullptr) || written == 0)
      return;
    rest.remove_prefix(written);
  }
}

void printLine(std::wstring_view text) { printText(std::wstring(text) + L"\r\n"); }

}  // namespace setup
