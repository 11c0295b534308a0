#pragma once
// The desktop program's client of the service: the shared pipe client plus what this program
// adds to it. Every call is one transaction on a fresh connection; the four reads the poll
// depends on (hello, progress, quarantineList, getSettings) are tried once more after a short
// pause, and connection and exchange failures are logged as "gui: ..." warnings. The error text
// handed back is always the English detail alone.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Messages.h"
#include "common/Settings.h"
#include "common/client/ServiceClient.h"

namespace zorvek::gui {

// Pause before the one retry of a read.
inline constexpr std::chrono::milliseconds kRetryPause{120};

struct SessionOptions {
  ipc::ClientOptions client;
  // Both default to the real thing; tests record them instead.
  std::function<void(std::chrono::milliseconds)> sleep;
  std::function<void(std::string_view)> logWarning;
};

class SessionClient {
 public:
  explicit SessionClient(SessionOptions options = {});

  bool hello(ipc::HelloReply& status, std::string* error = nullptr);
  bool startScan(ipc::ScanScope scope, const std::vector<std::wstring>& paths,
                 std::string* error = nullptr);
  bool progress(ipc::ProgressReply& reply, std::string* error = nullptr);
  bool cancelScan(std::string* error = nullptr);
  // Sends the record back exactly as it was received, with the action of the user's choice.
  bool decide(const ipc::ThreatRecord& threat, ipc::ThreatAction action,
              std::string* error = nullptr);
  bool quarantineList(std::vector<ipc::QuarantineRecord>& list, std::string* error = nullptr);
  bool quarantineDelete(uint64_t id, std::string* error = nullptr);
  bool quarantineRestore(uint64_t id, std::string* error = nullptr);
  // The client copy: the two paths are read and dropped, so the copy never carries them back.
  bool getSettings(Settings& settings, std::string* error = nullptr);
  // Sends both paths empty, which tells the service to keep its own.
  bool setSettings(const Settings& settings, std::string* error = nullptr);
  bool updateSignatures(std::string* error = nullptr);
  bool startLiveUpdate(std::string* error = nullptr);
  bool startSelfUpdate(std::string* error = nullptr);
  bool firewallStatus(std::string& text, std::string* error = nullptr);
  bool firewallSetProfile(std::string_view request, std::string* error = nullptr);
  bool firewallBlockInbound(std::string_view request, std::string* error = nullptr);
  bool firewallAppRule(std::string_view request, std::string* error = nullptr);
  bool firewallRemoveRules(std::string* error = nullptr);

 private:
  // Runs one transaction and logs its connection or exchange failure.
  template <typename Call>
  bool once(Call&& call, std::string* error);
  // The same, tried a second time after kRetryPause unless the reply was malformed.
  template <typename Call>
  bool retried(Call&& call, std::string* error);

  ipc::ServiceClient client_;
  SessionOptions options_;
};

}  // namespace zorvek::gui
