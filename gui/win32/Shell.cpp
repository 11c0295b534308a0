#include "gui/win32/Shell.h"

#include <shellapi.h>

#include "common/Text.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "gui/model/Commands.h"

namespace zorvek::gui {
namespace {

UINT iconFlag(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information: return MB_ICONINFORMATION;
    case BoxIcon::Warning: return MB_ICONWARNING;
    case BoxIcon::Error: return MB_ICONERROR;
    case BoxIcon::Question: return MB_ICONQUESTION;
  }
  return 0;
}

}  // namespace

bool registerAutostart() {
  const auto command = autostartCommand(modulePath());
  if (!command) return false;
  UniqueRegKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((command->size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), kRunValue, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(command->c_str()), bytes) == ERROR_SUCCESS;
}

void openNotificationSettings() {
  ShellExecuteW(nullptr, L"open", L"ms-settings:notifications", nullptr, nullptr, SW_SHOWNORMAL);
}

void WindowPrompts::show(BoxIcon icon, std::string_view text) {
  MessageBoxW(owner_, toWide(text).c_str(), L"ZORVEK Antivirus", MB_OK | iconFlag(icon));
}

bool WindowPrompts::ask(BoxIcon icon, std::string_view text) {
  return MessageBoxW(owner_, toWide(text).c_str(), L"ZORVEK Antivirus", MB_YESNO | iconFlag(icon)) ==
         IDYES;
}

}  // namespace zorvek::gui
