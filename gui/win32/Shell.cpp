#include "gui/win32/Shell.h"

#include <commdlg.h>
#include <shellapi.h>

#include <iterator>

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

bool notificationsGranted() {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\PushNotifications",
                   L"ToastEnabled", RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return true;
  return value != 0;
}

bool autostartGranted() {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, nullptr,
                   &size) != ERROR_SUCCESS)
    return false;
  return size >= 3;
}

void openWithShell(const std::wstring& path) {
  ShellExecuteW(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::wstring chooseProgram(HWND owner, const wchar_t* title) {
  wchar_t path[260] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  // Pairs of description and pattern, ended by an empty pair.
  ofn.lpstrFilter = L"Программы (*.exe)\0*.exe\0Все файлы\0*.*\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = static_cast<DWORD>(std::size(path));
  ofn.lpstrTitle = title;
  ofn.lpstrDefExt = L"exe";
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return {};
  return path;
}

void WindowPrompts::show(BoxIcon icon, std::string_view text) {
  MessageBoxW(owner_, toWide(text).c_str(), L"ZORVEK Antivirus", MB_OK | iconFlag(icon));
}

bool WindowPrompts::ask(BoxIcon icon, std::string_view text) {
  return MessageBoxW(owner_, toWide(text).c_str(), L"ZORVEK Antivirus", MB_YESNO | iconFlag(icon)) ==
         IDYES;
}

}  // namespace zorvek::gui
