#pragma once
// The commands behind the pages' buttons and rows that are not a window: the requests they make,
// the boxes they raise and what they change in the window's picture of the service.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "gui/model/Prompts.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"

namespace zorvek::gui {

// Commands of the pages beyond the navigation.
enum PageCommand : int {
  kCmdFirewallToggle = 122,
  kCmdFirewallBlockInbound = 123,
  kCmdFirewallAllowProgram = 124,
  kCmdFirewallBlockProgram = 125,
  kCmdFirewallRemoveRules = 126,
};

// --- Settings page ----------------------------------------------------------------------------
// The toggle rows in order. The first sends the settings at once (command 108); the others only
// flip the copy and carry identifiers of their own.
struct SettingRow {
  const char* label;
  bool Settings::*field;
  int id;
};
inline constexpr int kFirstSettingRowId = 300;
inline constexpr int kScheduledHourId = 310;
const SettingRow* settingRows(size_t* count);
// Flips the row's field (or advances the hour) in the client copy; false for other identifiers.
bool editSetting(ServiceView& view, int id);

// 116: sends the client copy. Refuses (with the failure box) while the copy was never loaded,
// so defaults never overwrite the service's settings.
bool saveSettings(SessionClient& client, ServiceView& view, Prompts& prompts);

// --- Updates ----------------------------------------------------------------------------------
bool updateSignatures(SessionClient& client, Prompts& prompts);             // 111
bool startLiveUpdate(SessionClient& client, ServiceView& view, Prompts& prompts);  // 119
// 120: offers to run a downloaded installer (opened through `open`), else starts the check.
bool programUpdate(SessionClient& client, ServiceView& view, Prompts& prompts,
                   const std::function<void(const std::wstring&)>& open);

// --- Quarantine page --------------------------------------------------------------------------
// Row buttons: 1000 + visible row for "Восстановить", 2000 + visible row for "Удалить". The list
// scrolls, so a visible row is `firstRow` entries into the list.
inline constexpr int kRestoreRowBase = 1000;
inline constexpr int kDeleteRowBase = 2000;
inline constexpr int kRowIdSpan = 1000;
bool isQuarantineRowId(int id);
// The entry a row identifier stands for, or nothing when the row shows no entry.
std::optional<size_t> quarantineEntryOf(int id, size_t firstRow, size_t entries);
// Fetches the list, unless `force` is false and the list held is as new as the service's
// quarantine generation from the last hello. A service that reports no generation is asked
// every time.
void refreshQuarantine(SessionClient& client, ServiceView& view, bool force);
// Restores at once, or deletes after the user agreed; then fetches the list again.
void quarantineRowCommand(SessionClient& client, ServiceView& view, Prompts& prompts, int id,
                          size_t firstRow);
// The first visible row after scrolling by `delta` rows, kept within the list.
size_t scrollRows(size_t firstRow, long long delta, size_t entries, size_t visibleRows);

// --- Firewall page ----------------------------------------------------------------------------
// Fetches and parses the status; the error text is cleared first and set from a failure or the
// status's own error line.
void refreshFirewall(SessionClient& client, ServiceView& view);
// 122-126. Each does nothing while not connected and ends by fetching the status again; a
// failure's text becomes the page's error line. `program` is the file the user chose.
void toggleFirewall(SessionClient& client, ServiceView& view);
void toggleBlockInbound(SessionClient& client, ServiceView& view);
void addProgramRule(SessionClient& client, ServiceView& view, bool allow, const std::wstring& program);
void removeFirewallRules(SessionClient& client, ServiceView& view, Prompts& prompts);

}  // namespace zorvek::gui
