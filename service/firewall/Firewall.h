#pragma once
// Firewall control: reads and changes the Windows Firewall profiles and the rules the system
// creates (names beginning "ZORVEK: "). Windows: the firewall's COM objects, initialised per call
// on the calling thread, so concurrent callers share nothing. Elsewhere every operation answers
// "брандмауэр недоступен: " + a reason. Texts are Russian, for the user.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Messages.h"

namespace zorvek::fw {

// The status text of common/FirewallStatus.h. Never fails: what cannot be read becomes an
// "error," line.
std::string status();
// "domain|private|public,0|1".
[[nodiscard]] bool setProfile(std::string_view text, std::string* error = nullptr);
// "1" replaces the block-all-inbound rules by one per profile, "0" removes them.
[[nodiscard]] bool setBlockAllInbound(std::string_view text, std::string* error = nullptr);
// "allow|block" "|" "in|out|both" "|" absolute program path.
[[nodiscard]] bool addProgramRule(std::string_view text, std::string* error = nullptr);
// Removes every rule whose name begins with "zorvek:" in any case.
[[nodiscard]] bool removeZorvekRules(std::string* error = nullptr);

// Requests 17-20 with their argument: the operation's success flag and error text.
ipc::FirewallReply request(uint32_t opcode, std::string_view argument);

}  // namespace zorvek::fw
