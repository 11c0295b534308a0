#include "gui/model/ThreatStep.h"

#include <utility>

#include "common/Text.h"

namespace zorvek::gui {

void threatStep(SessionClient& client, ServiceView& view, Prompts& prompts, ThreatUi& ui,
                bool& dialogOpen) {
  if (dialogOpen || view.pendingThreats.empty() || !view.settings.showThreatModal) return;
  const ipc::ThreatRecord& first = view.pendingThreats.front();
  if (!ui.windowVisible()) {
    // The record stays pending until the window is shown. A balloon every second would bury
    // the notification centre, so each detection is announced once.
    if (view.announced == first) return;
    view.announced = first;
    ui.balloon(kBalloonTitle, first.threatName + " — " + toUtf8(first.path));
    return;
  }
  view.announced.reset();
  dialogOpen = true;
  const int decision = ui.askDecision(first);
  dialogOpen = false;
  if (decision < 1 || decision > 3) return;  // asked again at the next poll
  // The polls inside the dialog's loop may have appended records, never removed the front.
  const ipc::ThreatRecord threat = std::move(view.pendingThreats.front());
  view.pendingThreats.pop_front();
  const auto action = static_cast<ipc::ThreatAction>(decision);
  std::string error;
  if (client.decide(threat, action, &error)) {
    ui.setTrayGreen(action == ipc::ThreatAction::Quarantine);
  } else {
    // The service still holds the detection undecided, and it is not in the quarantine.
    prompts.show(BoxIcon::Warning, "Не удалось применить действие:\n" + error +
                                       "\n\nФайл остался на месте; проверка найдёт его снова.");
  }
  ui.repaint();
}

}  // namespace zorvek::gui
