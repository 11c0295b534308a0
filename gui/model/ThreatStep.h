#pragma once
// The step that ends every poll: the first pending detection is put to the user, in the threat
// dialog when the window is visible or as a tray balloon when it is hidden, and the decision
// goes to the service.

#include "gui/model/Prompts.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"

namespace zorvek::gui {

// What the threat step needs of the windows.
class ThreatUi {
 public:
  virtual ~ThreatUi() = default;
  virtual bool windowVisible() = 0;
  // Runs the modal dialog: 0 closed without a choice, else the ThreatAction chosen.
  virtual int askDecision(const ipc::ThreatRecord& threat) = 0;
  virtual void balloon(const std::string& title, const std::string& text) = 0;
  // Redraws the tray icon green or red and remembers the colour.
  virtual void setTrayGreen(bool green) = 0;
  virtual void repaint() = 0;
};

inline constexpr char kBalloonTitle[] = "ZORVEK Antivirus: обнаружена угроза";

// One step. `dialogOpen` guards against the polls that run inside the dialog's own message loop:
// at most one dialog is open at a time.
void threatStep(SessionClient& client, ServiceView& view, Prompts& prompts, ThreatUi& ui,
                bool& dialogOpen);

}  // namespace zorvek::gui
