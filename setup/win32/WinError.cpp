#include "setup/win32/WinError.h"

#include "common/platform/win32/Win.h"

#include "common/platform/win32/Handle.h"

namespace setup {

std::wstring systemMessage(uint32_t code) {
  zorvek::UniqueLocal<wchar_t*> text;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
  if (n == 0 || !text) return {};
  std::wstring message(text.get(), n);
  for (auto& c : message) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!message.empty() && (message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return message;
}

std::wstring errorText(uint32_t code) {
  const std::wstring message = systemMessage(code);
  const std::wstring number = L"win32=" + std::to_wstring(code);
  return message.empty() ? number : message + L" (" + number + L")";
}

}  // namespace setup
