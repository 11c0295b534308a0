#pragma once
// What the desktop program asks of Windows outside its window: the logon autostart value, the
// notification settings, and message boxes.

#include <string>
#include <string_view>

#include "common/platform/win32/Win.h"
#include "gui/model/Prompts.h"

namespace zorvek::gui {

inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValue[] = L"ZORVEK Antivirus";

// Writes the Run value that starts the program hidden at logon (HKEY_CURRENT_USER). Errors are
// ignored by the caller; the result says whether the value was written.
bool registerAutostart();
// Opens the Windows notification settings.
void openNotificationSettings();
// The Settings page's permission rows: notifications are allowed unless "ToastEnabled" reads 0;
// autostart is granted when the Run value holds at least 3 bytes.
bool notificationsGranted();
bool autostartGranted();
// Opens a file with the shell's "open" verb (the downloaded installer).
void openWithShell(const std::wstring& path);
// The firewall page's open-file dialog; empty when nothing was chosen.
std::wstring chooseProgram(HWND owner, const wchar_t* title);

// Message boxes owned by a window, captioned "ZORVEK Antivirus".
class WindowPrompts : public Prompts {
 public:
  void setOwner(HWND owner) { owner_ = owner; }
  void show(BoxIcon icon, std::string_view text) override;
  bool ask(BoxIcon icon, std::string_view text) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace zorvek::gui
