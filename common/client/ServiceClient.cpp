#include "common/client/ServiceClient.h"

#include <utility>

namespace zorvek::ipc {

ServiceClient::ServiceClient(ClientOptions options) : options_(std::move(options)) {
  if (options_.pipe.empty()) options_.pipe = pipePath();
}

bool ServiceClient::failWith(CallFailure failure, std::string text, std::string* error) {
  failure_ = failure;
  if (error) *error = std::move(text);
  return false;
}

bool ServiceClient::call(uint32_t opcode, std::string_view payload, std::string& reply,
                         std::string* error) {
  std::string why;
  PipeHandle pipe = connectPipe(options_.pipe, &why, options_.connectBudgetMs);
  if (!pipe) return failWith(CallFailure::Connect, std::move(why), error);
  uint32_t replyOpcode = 0;
  if (!exchange(pipe, opcode, payload, replyOpcode, reply, &why, options_.replyTimeoutMs))
    return failWith(CallFailure::Exchange, std::move(why), error);
  if (replyOpcode == kOpError)
    return failWith(CallFailure::ErrorReply, errorReplyText(reply), error);
  if (replyOpcode != opcode)
    return failWith(CallFailure::WrongReply, "unexpected reply opcode", error);
  failure_ = CallFailure::None;
  return true;
}

bool ServiceClient::command(uint32_t opcode, std::string_view payload, std::string* error) {
  std::string ignored;
  return call(opcode, payload, ignored, error);
}

template <typename T, typename Decode>
bool ServiceClient::query(uint32_t opcode, std::string_view payload, T& out, Decode decode,
                          const char* malformed, std::string* error) {
  std::string reply;
  if (!call(opcode, payload, reply, error)) return false;
  if (!decode(reply, out)) return failWith(CallFailure::Malformed, malformed, error);
  return true;
}

bool ServiceClient::firewall(uint32_t opcode, std::string_view payload, FirewallReply& reply,
                             std::string* error) {
  if (!query(opcode, payload, reply, decodeFirewallReply, "malformed firewall reply", error))
    return false;
  if (reply.ok) return true;
  return failWith(CallFailure::Refused,
                  reply.text.empty() ? "брандмауэр: операция не выполнена" : reply.text, error);
}

bool ServiceClient::hello(HelloReply& reply, std::string* error) {
  return query(kOpHello, {}, reply, decodeHelloReply, "malformed Hello reply", error);
}

bool ServiceClient::ping(uint32_t& ticks, std::string* error) {
  return query(kOpPing, {}, ticks, decodeU32Payload, "malformed Ping reply", error);
}

bool ServiceClient::startScan(const StartScanRequest& request, std::string* error) {
  return command(kOpStartScan, encodeStartScanRequest(request), error);
}

bool ServiceClient::progress(ProgressReply& reply, std::string* error) {
  return query(kOpProgress, {}, reply, decodeProgressReply, "malformed progress reply", error);
}

bool ServiceClient::cancelScan(std::string* error) { return command(kOpCancelScan, {}, error); }

bool ServiceClient::scanDetections(std::vector<DetectionRecord>& list, std::string* error) {
  return query(kOpScanDetections, {}, list, decodeDetectionList, "malformed detections list",
               error);
}

bool ServiceClient::decide(const ThreatDecisionRequest& request, std::string* error) {
  return command(kOpThreatDecision, encodeThreatDecisionRequest(request), error);
}

bool ServiceClient::quarantineList(std::vector<QuarantineRecord>& list, std::string* error) {
  return query(kOpQuarantineList, {}, list, decodeQuarantineList, "malformed quarantine list",
               error);
}

bool ServiceClient::quarantineDelete(uint64_t id, std::string* error) {
  return command(kOpQuarantineDelete, encodeU64Payload(id), error);
}

bool ServiceClient::quarantineRestore(uint64_t id, std::string* error) {
  return command(kOpQuarantineRestore, encodeU64Payload(id), error);
}

bool ServiceClient::getSettings(ConfigPayload& settings, std::string* error) {
  return query(kOpGetConfig, {}, settings, decodeConfigPayload, "malformed settings", error);
}

bool ServiceClient::setSettings(const ConfigPayload& settings, std::string* error) {
  return command(kOpSetConfig, encodeConfigPayload(settings), error);
}

bool ServiceClient::updateSignatures(std::string* error) {
  return command(kOpUpdateSignatures, {}, error);
}

bool ServiceClient::startLiveUpdate(std::string* error) {
  return command(kOpLiveUpdate, {}, error);
}

bool ServiceClient::startSelfUpdate(std::string* error) {
  return command(kOpSelfUpdate, {}, error);
}

bool ServiceClient::firewallStatus(std::string& text, std::string* error) {
  return call(kOpFirewallStatus, {}, text, error);
}

bool ServiceClient::firewallSetProfile(std::string_view request, FirewallReply& reply,
                                       std::string* error) {
  return firewall(kOpFirewallSetProfile, encodeStringPayload(request), reply, error);
}

bool ServiceClient::firewallBlockInbound(std::string_view request, FirewallReply& reply,
                                         std::string* error) {
  return firewall(kOpFirewallBlockInbound, encodeStringPayload(request), reply, error);
}

bool ServiceClient::firewallAppRule(std::string_view request, FirewallReply& reply,
                                    std::string* error) {
  return firewall(kOpFirewallAppRule, encodeStringPayload(request), reply, error);
}

bool ServiceClient::firewallRemoveRules(FirewallReply& reply, std::string* error) {
  return firewall(kOpFirewallRemoveRules, {}, reply, error);
}

bool ServiceClient::shutdown(std::string* error) { return command(kOpShutdown, {}, error); }

}  // namespace zorvek::ipc
