#include "gui/model/Poll.h"

#include <utility>

#include "common/Text.h"

namespace zorvek::gui {
namespace {

void reportLiveUpdate(ServiceView& view, Prompts& prompts) {
  if (!view.waitingForLiveUpdate || !view.connected || view.status.liveUpdateRunning) return;
  view.waitingForLiveUpdate = false;
  if (view.status.liveUpdateError.empty())
    prompts.show(BoxIcon::Information, "База сигнатур обновлена из интернета.");
  else
    prompts.show(BoxIcon::Error, "Обновление из интернета не удалось:\n" + view.status.liveUpdateError);
}

void reportSelfUpdate(ServiceView& view, Prompts& prompts) {
  if (!view.waitingForSelfUpdate || !view.connected || view.status.selfUpdateRunning) return;
  view.waitingForSelfUpdate = false;
  if (!view.status.selfUpdateError.empty())
    prompts.show(BoxIcon::Error, "Обновление программы не удалось:\n" + view.status.selfUpdateError);
  else if (!view.status.installerPath.empty())
    prompts.show(BoxIcon::Information,
                 "Установщик скачан:\n" + toUtf8(view.status.installerPath) +
                     "\n\nНажмите «Установить обновление», чтобы запустить его.");
  else
    prompts.show(BoxIcon::Information, "Обновлений нет — установлена актуальная версия.");
}

}  // namespace

bool ensureSettings(SessionClient& client, ServiceView& view, std::string* error) {
  if (view.settingsLoaded) return true;
  view.settingsLoaded = client.getSettings(view.settings, error);
  return view.settingsLoaded;
}

void poll(SessionClient& client, ServiceView& view, Prompts& prompts) {
  ipc::HelloReply status;
  const bool wasConnected = view.connected;
  view.connected = client.hello(status);
  if (view.connected) {
    view.status = std::move(status);
    // A reconnect reloads the settings: they may have changed while the service was away.
    if (!wasConnected) view.settingsLoaded = false;
    (void)ensureSettings(client, view, nullptr);
  }

  reportLiveUpdate(view, prompts);
  reportSelfUpdate(view, prompts);

  if (!view.connected) return;
  ipc::ProgressReply reply;
  if (!client.progress(reply)) return;
  view.progress = std::move(reply.progress);
  view.status.scanRunning = reply.scanRunning;
  view.summary = reply.summary;
  for (auto& threat : reply.detections) view.pendingThreats.push_back(std::move(threat));
}

}  // namespace zorvek::gui
