#pragma once
// The commands of the main window and its tray menu, and the parts of them that are not a
// window: the requests they make and the boxes they raise.

#include <optional>
#include <string>

#include "gui/model/Prompts.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"

namespace zorvek::gui {

// Command identifiers of buttons and navigation items.
enum Command : int {
  kCmdShowOverview = 100,
  kCmdShowScan = 101,
  kCmdShowQuarantine = 102,
  kCmdShowSettings = 104,
  kCmdQuickScan = 105,
  kCmdFullScan = 106,
  kCmdCancelScan = 107,
  kCmdToggleProtection = 108,
  kCmdUpdateSignatures = 111,
  kCmdExit = 112,
  kCmdSaveSettings = 116,
  kCmdNotificationSettings = 117,
  kCmdAutostart = 118,
  kCmdLiveUpdate = 119,
  kCmdProgramUpdate = 120,
  kCmdShowFirewall = 121,
};

// Tray menu items.
enum TrayCommand : int {
  kTrayOpen = 20001,
  kTrayQuickScan = 20002,
  kTrayFullScan = 20003,
  kTrayCancelScan = 20004,
  kTrayToggleProtection = 20005,
  kTrayQuarantine = 20006,
  kTrayExit = 20007,
};

// Pages in navigation order.
enum class Page { Overview = 0, Scan = 1, Quarantine = 2, Settings = 3, Firewall = 4 };
inline constexpr int kPageCount = 5;

// The navigation item's command of a page and back.
int pageCommand(Page page);
std::optional<Page> pageOfCommand(int command);

// Starts a quick or full scan. With `prompts` a failure raises "Не удалось начать проверку:";
// the tray passes none and ignores it.
bool startScan(SessionClient& client, bool full, Prompts* prompts);

// Flips ProtectionEnabled in the client copy and sends the settings at once. A failure raises
// "Не удалось сохранить настройки:" when `prompts` is given. The copy is loaded first when the
// poll has not managed to, and the flip is undone when it could not be sent, so the copy keeps
// saying what the service has.
bool toggleProtection(SessionClient& client, ServiceView& view, Prompts* prompts);

// The Run value that starts the program hidden at logon: the quoted module path and
// " --autostart"; nothing for an empty path or one of 260 characters or more.
std::optional<std::wstring> autostartCommand(const std::wstring& modulePath);

}  // namespace zorvek::gui
