#pragma once
// The one client of the service's pipe: a typed call per request of the catalogue, each on a
// fresh connection. zorvekctl, the service program's client modes, the desktop program and the
// installer's Hello check build on it; what they print, log or retry is theirs, told apart by
// failure().

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Messages.h"
#include "common/platform/Pipe.h"

namespace zorvek::ipc {

struct ClientOptions {
  std::wstring pipe;  // empty: pipePath() when the client is made
  uint32_t connectBudgetMs = kConnectBudgetMs;
  // Bounds the wait for the service to take the request and then for its reply.
  uint32_t replyTimeoutMs = kReplyTimeoutMs;
};

// Where the last call failed.
enum class CallFailure {
  None,
  Connect,     // the pipe could not be opened within the budget
  Exchange,    // the frames could not be moved, including kTimedOutText
  ErrorReply,  // the service answered with an error reply: the error is its text
  WrongReply,  // a reply opcode other than the request's: "unexpected reply opcode"
  Malformed,   // the reply's payload does not read as the request's reply
  Refused,     // a firewall reply whose ok flag is false: the error is its text
};

class ServiceClient {
 public:
  explicit ServiceClient(ClientOptions options = {});

  // Each call returns true on success; otherwise `error` receives an English text (the
  // transport's, the error reply's, "unexpected reply opcode" or "malformed ...") and failure()
  // says which step failed.
  bool hello(HelloReply& reply, std::string* error = nullptr);                         // 1
  bool ping(uint32_t& ticks, std::string* error = nullptr);                            // 2
  bool startScan(const StartScanRequest& request, std::string* error = nullptr);       // 3
  bool progress(ProgressReply& reply, std::string* error = nullptr);                   // 4
  bool cancelScan(std::string* error = nullptr);                                       // 5
  bool scanDetections(std::vector<DetectionRecord>& list, std::string* error = nullptr);  // 6
  bool decide(const ThreatDecisionRequest& request, std::string* error = nullptr);     // 7
  bool quarantineList(std::vector<QuarantineRecord>& list, std::string* error = nullptr);  // 8
  bool quarantineDelete(uint64_t id, std::string* error = nullptr);                    // 9
  bool quarantineRestore(uint64_t id, std::string* error = nullptr);                   // 10
  bool getSettings(ConfigPayload& settings, std::string* error = nullptr);             // 11
  bool setSettings(const ConfigPayload& settings, std::string* error = nullptr);       // 12
  bool updateSignatures(std::string* error = nullptr);                                 // 13
  bool startLiveUpdate(std::string* error = nullptr);                                  // 14
  bool startSelfUpdate(std::string* error = nullptr);                                  // 15
  // The status text, the whole reply payload.
  bool firewallStatus(std::string& text, std::string* error = nullptr);                // 16
  // 17-19 send `request` as a string, 20 an empty payload. A reply whose ok flag is false fails
  // with its text, or "брандмауэр: операция не выполнена" when that is empty.
  bool firewallSetProfile(std::string_view request, FirewallReply& reply,
                          std::string* error = nullptr);                               // 17
  bool firewallBlockInbound(std::string_view request, FirewallReply& reply,
                            std::string* error = nullptr);                             // 18
  bool firewallAppRule(std::string_view request, FirewallReply& reply,
                       std::string* error = nullptr);                                  // 19
  bool firewallRemoveRules(FirewallReply& reply, std::string* error = nullptr);        // 20
  bool shutdown(std::string* error = nullptr);                                         // 21

  CallFailure failure() const { return failure_; }
  const ClientOptions& options() const { return options_; }

 private:
  // One request on a fresh connection; `reply` gets the payload of a reply with the request's
  // opcode.
  bool call(uint32_t opcode, std::string_view payload, std::string& reply, std::string* error);
  bool command(uint32_t opcode, std::string_view payload, std::string* error);
  template <typename T, typename Decode>
  bool query(uint32_t opcode, std::string_view payload, T& out, Decode decode,
             const char* malformed, std::string* error);
  bool firewall(uint32_t opcode, std::string_view payload, FirewallReply& reply,
                std::string* error);
  bool failWith(CallFailure failure, std::string text, std::string* error);

  ClientOptions options_;
  CallFailure failure_ = CallFailure::None;
};

}  // namespace zorvek::ipc
