#include "gui/model/PageCommands.h"

#include <algorithm>
#include <iterator>

#include "common/Text.h"

namespace zorvek::gui {
namespace {

constexpr SettingRow kSettingRows[] = {
    {"Включить защиту", &Settings::protectionEnabled, 108},
    {"Сканировать съёмные носители", &Settings::scanRemovable, kFirstSettingRowId + 1},
    {"Показывать окно при обнаружении угрозы", &Settings::showThreatModal, kFirstSettingRowId + 2},
    {"Помещать найденное в карантин сразу", &Settings::quarantineOnDetect, kFirstSettingRowId + 3},
    {"Запускать проверку по расписанию", &Settings::scheduledScan, kFirstSettingRowId + 4},
    {"Автоматическое обновление базы из интернета", &Settings::liveUpdates, kFirstSettingRowId + 5},
    {"Сетевой экран: блокировать опасные сайты", &Settings::webShield, kFirstSettingRowId + 6},
};

// The status fetched again after a command; the command's own failure outlives the fetch.
void finishFirewallCommand(SessionClient& client, ServiceView& view, bool ok, const std::string& error) {
  refreshFirewall(client, view);
  if (!ok) view.firewallError = error;
}

}  // namespace

const SettingRow* settingRows(size_t* count) {
  *count = std::size(kSettingRows);
  return kSettingRows;
}

bool editSetting(ServiceView& view, int id) {
  if (id == kScheduledHourId) {
    view.settings.scheduledHour = (view.settings.scheduledHour + 1) % 24;
    return true;
  }
  for (const auto& row : kSettingRows) {
    if (row.id != id || row.id < kFirstSettingRowId) continue;
    view.settings.*row.field = !(view.settings.*row.field);
    return true;
  }
  return false;
}

bool saveSettings(SessionClient& client, ServiceView& view, Prompts& prompts) {
  std::string error;
  if (!view.settingsLoaded) {
    // Edits made on a copy of defaults would overwrite every other setting of the service.
    error = view.connected ? "settings were not loaded from the service yet"
                           : "cannot connect to service pipe";
  } else if (client.setSettings(view.settings, &error)) {
    prompts.show(BoxIcon::Information,
                 "Настройки сохранены. Для применения защиты в реальном времени может "
                 "потребоваться перезапуск службы.");
    return true;
  }
  prompts.show(BoxIcon::Error, "Не удалось сохранить настройки:\n" + error);
  return false;
}

bool updateSignatures(SessionClient& client, Prompts& prompts) {
  std::string error;
  if (client.updateSignatures(&error)) {
    prompts.show(BoxIcon::Information, "База сигнатур обновлена.");
    return true;
  }
  prompts.show(BoxIcon::Error, "Не удалось обновить базу:\n" + error);
  return false;
}

bool startLiveUpdate(SessionClient& client, ServiceView& view, Prompts& prompts) {
  std::string error;
  if (client.startLiveUpdate(&error)) {
    view.waitingForLiveUpdate = true;
    return true;
  }
  prompts.show(BoxIcon::Error, "Не удалось запустить обновление:\n" + error);
  return false;
}

bool programUpdate(SessionClient& client, ServiceView& view, Prompts& prompts,
                   const std::function<void(const std::wstring&)>& open) {
  const std::wstring& installer = view.status.installerPath;
  if (!installer.empty()) {
    if (!prompts.ask(BoxIcon::Question, "Установщик обновления скачан:\n" + toUtf8(installer) +
                                            "\n\nЗапустить установку сейчас?"))
      return false;
    open(installer);
    return true;
  }
  std::string error;
  if (client.startSelfUpdate(&error)) {
    view.waitingForSelfUpdate = true;
    return true;
  }
  prompts.show(BoxIcon::Error, "Не удалось проверить обновления:\n" + error);
  return false;
}

void refreshQuarantine(SessionClient& client, ServiceView& view, bool force) {
  const uint64_t current = view.status.quarantineGeneration;
  if (!force && current != 0 && current == view.quarantineGeneration) return;
  // Taken before the request: a change while it runs leaves the list marked older than it is,
  // which costs one more fetch, never a missed one.
  view.quarantineGeneration = client.quarantineList(view.quarantine) ? current : 0;
}

bool isQuarantineRowId(int id) {
  return id >= kRestoreRowBase && id < kDeleteRowBase + kRowIdSpan;
}

std::optional<size_t> quarantineEntryOf(int id, size_t firstRow, size_t entries) {
  if (!isQuarantineRowId(id)) return std::nullopt;
  const size_t entry = firstRow + static_cast<size_t>(id % kRowIdSpan);
  if (entry >= entries) return std::nullopt;
  return entry;
}

void quarantineRowCommand(SessionClient& client, ServiceView& view, Prompts& prompts, int id,
                          size_t firstRow) {
  if (const auto entry = quarantineEntryOf(id, firstRow, view.quarantine.size())) {
    const uint64_t record = view.quarantine[*entry].id;
    std::string error;
    bool ok = true;
    if (id >= kDeleteRowBase) {
      if (prompts.ask(BoxIcon::Warning, "Объект будет удалён безвозвратно. Продолжить?"))
        ok = client.quarantineDelete(record, &error);
    } else {
      ok = client.quarantineRestore(record, &error);
    }
    if (!ok) prompts.show(BoxIcon::Error, "Ошибка:\n" + error);
  }
  refreshQuarantine(client, view, true);
  // The change made the last hello's generation old: the next poll fetches once more.
  view.quarantineGeneration = 0;
}

size_t scrollRows(size_t firstRow, long long delta, size_t entries, size_t visibleRows) {
  const size_t last = entries > visibleRows ? entries - visibleRows : 0;
  if (delta < 0) {
    const auto up = static_cast<size_t>(-(delta + 1)) + 1;  // -delta without overflow
    return up >= firstRow ? 0 : std::min(firstRow - up, last);
  }
  const auto down = static_cast<size_t>(delta);
  return down >= last || firstRow >= last - down ? last : firstRow + down;
}

void refreshFirewall(SessionClient& client, ServiceView& view) {
  view.firewallError.clear();
  std::string text, error;
  if (!client.firewallStatus(text, &error)) {
    view.firewall = {};
    view.firewallError = error;
    return;
  }
  view.firewall = fw::parseFirewallStatus(text);
  view.firewallError = view.firewall.firstError();
}

void toggleFirewall(SessionClient& client, ServiceView& view) {
  if (!view.connected) return;
  const char* value = view.firewall.allProfilesOn() ? ",0" : ",1";
  std::string error;
  bool ok = true;
  for (const char* profile : {"private", "public", "domain"}) {
    ok = client.firewallSetProfile(std::string(profile) + value, &error);
    if (!ok) break;
  }
  finishFirewallCommand(client, view, ok, error);
}

void toggleBlockInbound(SessionClient& client, ServiceView& view) {
  if (!view.connected) return;
  std::string error;
  const bool ok = client.firewallBlockInbound(view.firewall.blockInbound.value_or(false) ? "0" : "1", &error);
  finishFirewallCommand(client, view, ok, error);
}

void addProgramRule(SessionClient& client, ServiceView& view, bool allow, const std::wstring& program) {
  if (!view.connected || program.empty()) return;
  std::string error;
  const bool ok =
      client.firewallAppRule(std::string(allow ? "allow|in|" : "block|in|") + toUtf8(program), &error);
  finishFirewallCommand(client, view, ok, error);
}

void removeFirewallRules(SessionClient& client, ServiceView& view, Prompts& prompts) {
  if (!view.connected) return;
  if (!prompts.ask(BoxIcon::Question, "Удалить все правила ZORVEK из брандмауэра Windows?")) return;
  std::string error;
  const bool ok = client.firewallRemoveRules(&error);
  finishFirewallCommand(client, view, ok, error);
}

}  // namespace zorvek::gui
