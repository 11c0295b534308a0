#pragma once
// The one-second poll: run when the window is created, on every tick of its timer and after
// every command. The window then shows the headline in the tray tip and runs the threat step.

#include "gui/model/Prompts.h"
#include "gui/model/ServiceView.h"
#include "gui/model/SessionClient.h"

namespace zorvek::gui {

// hello (and, after a reconnect, the settings); the outcome boxes of a finished live update or
// self-update check the user is waiting for; progress, whose detections join the pending
// threats. Failures inside the poll are silent apart from the client's log lines.
void poll(SessionClient& client, ServiceView& view, Prompts& prompts);

// Loads the client copy of the settings when it is not loaded yet. A command that sends the
// settings calls it first, so a copy of defaults never overwrites the service's settings.
bool ensureSettings(SessionClient& client, ServiceView& view, std::string* error);

}  // namespace zorvek::gui
