#pragma once
// The desktop program's picture of the service, refreshed by the poll and by the commands.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/FirewallStatus.h"
#include "common/Messages.h"
#include "common/Settings.h"

namespace zorvek::gui {

struct ServiceView {
  ipc::HelloReply status;  // its scanRunning is overwritten by every progress reply
  ipc::ScanProgress progress;
  ipc::ScanSummary summary;
  // Detections awaiting the user's decision, oldest first.
  std::deque<ipc::ThreatRecord> pendingThreats;
  // The detection the last tray balloon announced, so a hidden window raises one balloon per
  // detection rather than one a second.
  std::optional<ipc::ThreatRecord> announced;
  // The client copy of the settings, without the two paths.
  Settings settings;
  // Whether `settings` came from the service since the last reconnect: until it has, the copy
  // holds defaults that must never be sent back over the user's real settings.
  bool settingsLoaded = false;
  std::vector<ipc::QuarantineRecord> quarantine;
  // The service's quarantine generation `quarantine` was fetched at; 0 when it must be fetched.
  uint64_t quarantineGeneration = 0;
  fw::FirewallStatus firewall;
  std::string firewallError;
  bool connected = false;  // the last hello succeeded
  bool waitingForLiveUpdate = false;
  bool waitingForSelfUpdate = false;
};

}  // namespace zorvek::gui
