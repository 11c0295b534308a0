#include "gui/model/SessionClient.h"

#include <thread>
#include <utility>

#include "common/Logger.h"

namespace zorvek::gui {

SessionClient::SessionClient(SessionOptions options)
    : client_(options.client), options_(std::move(options)) {
  if (!options_.sleep) options_.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
  if (!options_.logWarning) options_.logWarning = [](std::string_view line) { zorvek::logWarning(line); };
}

template <typename Call>
bool SessionClient::once(Call&& call, std::string* error) {
  std::string detail;
  if (call(&detail)) return true;
  const ipc::CallFailure failure = client_.failure();
  if (failure == ipc::CallFailure::Connect)
    options_.logWarning("gui: не удалось подключиться к службе: " + detail);
  else if (failure == ipc::CallFailure::Exchange)
    options_.logWarning("gui: обмен прерван: " + detail);
  if (error) *error = std::move(detail);
  return false;
}

template <typename Call>
bool SessionClient::retried(Call&& call, std::string* error) {
  if (once(call, error)) return true;
  // A reply that does not parse would not parse the second time either.
  if (client_.failure() == ipc::CallFailure::Malformed) return false;
  options_.sleep(kRetryPause);
  return once(call, error);
}

bool SessionClient::hello(ipc::HelloReply& status, std::string* error) {
  return retried([&](std::string* e) { return client_.hello(status, e); }, error);
}

bool SessionClient::startScan(ipc::ScanScope scope, const std::vector<std::wstring>& paths,
                              std::string* error) {
  const ipc::StartScanRequest request{scope, paths};
  return once([&](std::string* e) { return client_.startScan(request, e); }, error);
}

bool SessionClient::progress(ipc::ProgressReply& reply, std::string* error) {
  return retried([&](std::string* e) { return client_.progress(reply, e); }, error);
}

bool SessionClient::cancelScan(std::string* error) {
  return once([&](std::string* e) { return client_.cancelScan(e); }, error);
}

bool SessionClient::decide(const ipc::ThreatRecord& threat, ipc::ThreatAction action,
                           std::string* error) {
  const ipc::ThreatDecisionRequest request{threat.path,       static_cast<uint32_t>(action),
                                           threat.threatName, threat.secondText,
                                           threat.level,      threat.size,
                                           {}};
  return once([&](std::string* e) { return client_.decide(request, e); }, error);
}

bool SessionClient::quarantineList(std::vector<ipc::QuarantineRecord>& list, std::string* error) {
  return retried([&](std::string* e) { return client_.quarantineList(list, e); }, error);
}

bool SessionClient::quarantineDelete(uint64_t id, std::string* error) {
  return once([&](std::string* e) { return client_.quarantineDelete(id, e); }, error);
}

bool SessionClient::quarantineRestore(uint64_t id, std::string* error) {
  return once([&](std::string* e) { return client_.quarantineRestore(id, e); }, error);
}

bool SessionClient::getSettings(Settings& settings, std::string* error) {
  // Decoded into a scratch copy: a failed read leaves the caller's copy as it was.
  Settings read = settings;
  if (!retried([&](std::string* e) { return client_.getSettings(read, e); }, error)) return false;
  read.signatureDb.clear();
  read.quarantineDir.clear();
  settings = std::move(read);
  return true;
}

bool SessionClient::setSettings(const Settings& settings, std::string* error) {
  Settings sent = settings;
  sent.signatureDb.clear();
  sent.quarantineDir.clear();
  return once([&](std::string* e) { return client_.setSettings(sent, e); }, error);
}

bool SessionClient::updateSignatures(std::string* error) {
  return once([&](std::string* e) { return client_.updateSignatures(e); }, error);
}

bool SessionClient::startLiveUpdate(std::string* error) {
  return once([&](std::string* e) { return client_.startLiveUpdate(e); }, error);
}

bool SessionClient::startSelfUpdate(std::string* error) {
  return once([&](std::string* e) { return client_.startSelfUpdate(e); }, error);
}

bool SessionClient::firewallStatus(std::string& text, std::string* error) {
  return once([&](std::string* e) { return client_.firewallStatus(text, e); }, error);
}

bool SessionClient::firewallSetProfile(std::string_view request, std::string* error) {
  ipc::FirewallReply reply;
  return once([&](std::string* e) { return client_.firewallSetProfile(request, reply, e); }, error);
}

bool SessionClient::firewallBlockInbound(std::string_view request, std::string* error) {
  ipc::FirewallReply reply;
  return once([&](std::string* e) { return client_.firewallBlockInbound(request, reply, e); },
              error);
}

bool SessionClient::firewallAppRule(std::string_view request, std::string* error) {
  ipc::FirewallReply reply;
  return once([&](std::string* e) { return client_.firewallAppRule(request, reply, e); }, error);
}

bool SessionClient::firewallRemoveRules(std::string* error) {
  ipc::FirewallReply reply;
  return once([&](std::string* e) { return client_.firewallRemoveRules(reply, e); }, error);
}

}  // namespace zorvek::gui
