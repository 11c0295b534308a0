#pragma once
// The firewall status text of FirewallStatus (16): LF-ended lines of comma-separated fields, where
// a backslash before a comma makes it part of the field. The service writes it; zorvekctl and the
// desktop program read it back with parseFirewallStatus.
//
//   prof,<domain|private|public>,<on|off>
//   rule,<on|off>,<allow|block>,<in|out|both>,<name>,<program>
//   blockin,<on|off>
//   error,<text>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvek::fw {

inline constexpr size_t kProfileCount = 3;
// The profiles in the order every text lists them.
inline constexpr std::array<std::string_view, kProfileCount> kProfileNames = {"domain", "private",
                                                                              "public"};

struct StatusRule {
  bool enabled = false;
  std::string action;     // "allow" or "block" as written
  std::string direction;  // "in", "out" or "both" as written
  std::string name;
  std::string program;
  bool operator==(const StatusRule&) const = default;
};

struct FirewallStatus {
  // In kProfileNames order; empty when the text has no line for the profile (a reader that shows
  // a switch takes that as off).
  std::array<std::optional<bool>, kProfileCount> profiles;
  std::optional<bool> blockInbound;
  std::vector<StatusRule> rules;
  // The text of every "error," line (its fields joined with commas again), in order.
  std::vector<std::string> errors;

  bool allProfilesOn() const;
  // The first non-empty error text, or "".
  std::string firstError() const;
  bool operator==(const FirewallStatus&) const = default;
};

// Never fails: lines it does not know, and lines with too few fields, are skipped.
FirewallStatus parseFirewallStatus(std::string_view text);

// The lines, each ended by LF. The fields of a rule get "\," for commas and blanks for CR and LF;
// error texts get blanks for CR and LF.
std::string statusProfileLine(std::string_view profile, bool on);
std::string statusRuleLine(const StatusRule& rule);
std::string statusBlockInboundLine(bool on);
std::string statusErrorLine(std::string_view text);

}  // namespace zorvek::fw
