#include "gui/model/Commands.h"

#include "gui/model/Poll.h"

namespace zorvek::gui {
namespace {

constexpr int kPageCommands[kPageCount] = {kCmdShowOverview, kCmdShowScan, kCmdShowQuarantine,
                                           kCmdShowSettings, kCmdShowFirewall};

}  // namespace

int pageCommand(Page page) { return kPageCommands[static_cast<int>(page)]; }

std::optional<Page> pageOfCommand(int command) {
  for (int i = 0; i < kPageCount; ++i)
    if (kPageCommands[i] == command) return static_cast<Page>(i);
  return std::nullopt;
}

bool startScan(SessionClient& client, bool full, Prompts* prompts) {
  std::string error;
  if (client.startScan(full ? ipc::ScanScope::Full : ipc::ScanScope::Quick, {}, &error)) return true;
  if (prompts) prompts->show(BoxIcon::Error, "Не удалось начать проверку:\n" + error);
  return false;
}

bool toggleProtection(SessionClient& client, ServiceView& view, Prompts* prompts) {
  std::string error;
  bool sent = ensureSettings(client, view, &error);
  if (sent) {
    view.settings.protectionEnabled = !view.settings.protectionEnabled;
    sent = client.setSettings(view.settings, &error);
    if (!sent) view.settings.protectionEnabled = !view.settings.protectionEnabled;
  }
  if (!sent && prompts) prompts->show(BoxIcon::Error, "Не удалось сохранить настройки:\n" + error);
  return sent;
}

std::optional<std::wstring> autostartCommand(const std::wstring& modulePath) {
  constexpr size_t kMaxPath = 260;
  if (modulePath.empty() || modulePath.size() >= kMaxPath) return std::nullopt;
  return L"\"" + modulePath + L"\" --autostart";
}

}  // namespace zorvek::gui
