#include <gtest/gtest.h>

#include "common/FirewallStatus.h"
#include "common/Messages.h"
#include "service/firewall/Firewall.h"

namespace zorvek::fw {
namespace {

constexpr char kText[] = "брандмауэр недоступен: в этой системе нет брандмауэра Windows";

TEST(UnavailableFirewallTest, EveryRequestSaysWhy) {
  EXPECT_EQ(status(), std::string("error,") + kText + "\n");
  const FirewallStatus s = parseFirewallStatus(status());
  EXPECT_EQ(s.firstError(), kText);
  EXPECT_FALSE(s.blockInbound.has_value());
  for (const uint32_t opcode : {ipc::kOpFirewallSetProfile, ipc::kOpFirewallBlockInbound,
                                ipc::kOpFirewallAppRule, ipc::kOpFirewallRemoveRules}) {
    SCOPED_TRACE(opcode);
    EXPECT_EQ(request(opcode, "private,1"), (ipc::FirewallReply{false, kText}));
  }
}

}  // namespace
}  // namespace zorvek::fw
