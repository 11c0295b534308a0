#include "service/firewall/Firewall.h"

#include "service/firewall/FirewallRules.h"

namespace zorvek::fw {

ipc::FirewallReply request(uint32_t opcode, std::string_view argument) {
  ipc::FirewallReply reply;
  switch (opcode) {
    case ipc::kOpFirewallSetProfile:
      reply.ok = setProfile(argument, &reply.text);
      break;
    case ipc::kOpFirewallBlockInbound:
      reply.ok = setBlockAllInbound(argument, &reply.text);
      break;
    case ipc::kOpFirewallAppRule:
      reply.ok = addProgramRule(argument, &reply.text);
      break;
    case ipc::kOpFirewallRemoveRules:
      reply.ok = removeZorvekRules(&reply.text);
      break;
    default:
      reply.text = kInternalError;
  }
  return reply;
}

}  // namespace zorvek::fw
