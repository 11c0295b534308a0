#pragma once
// What the firewall operations decide without the platform: the request texts, the rules the
// system creates, which rules the status lists, and the result texts of failed calls.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/FirewallStatus.h"

namespace zorvek::fw {

// The platform's values (profile types, NET_FW_ACTION, NET_FW_RULE_DIRECTION, protocols).
inline constexpr std::array<int32_t, kProfileCount> kProfileTypes = {1, 2, 4};
inline constexpr int32_t kAllProfiles = 0x7FFFFFFF;
inline constexpr int32_t kActionBlock = 0;
inline constexpr int32_t kActionAllow = 1;
inline constexpr int32_t kDirectionIn = 1;
inline constexpr int32_t kDirectionOut = 2;
inline constexpr int32_t kProtocolAny = 256;

inline constexpr size_t kMaxRuleLines = 400;
inline constexpr uint32_t kAccessDenied = 0x80070005;

inline constexpr char kUnavailable[] = "брандмауэр недоступен";
inline constexpr char kInternalError[] = "внутренняя ошибка брандмауэра";
inline constexpr char kBadProgramRule[] = "некорректное описание правила приложения";

// "код 0x80004005", or the administrator text for E_ACCESSDENIED.
std::string resultText(uint32_t hr);
// what + ": " + resultText(hr).
std::string failureText(std::string_view what, uint32_t hr);

// Names beginning with "zorvek:" / "zorvek: block all inbound", in any case.
bool isZorvekRule(std::wstring_view name);
bool isBlockAllRule(std::wstring_view name);

// A rule to create, in the order its properties are set.
struct ProgramRule {
  std::wstring name;
  std::wstring description;
  std::wstring application;
  int32_t action = kActionBlock;
  int32_t direction = kDirectionIn;
  int32_t profiles = kAllProfiles;
  bool operator==(const ProgramRule&) const = default;
};

// "private,1": the profile's index in kProfileNames and the wanted state.
struct ProfileChange {
  size_t profile = 0;
  bool enable = false;
};
[[nodiscard]] bool parseProfileChange(std::string_view text, ProfileChange& out, std::string* error);
// "1" or "0" of the block-all-inbound switch.
[[nodiscard]] bool parseBlockAllInbound(std::string_view text, bool& on, std::string* error);
// "allow|both|C:\app.exe": one rule per direction. The path must be absolute, name a file and
// hold no "|" or control characters: the request text cannot say where such a path ends.
[[nodiscard]] bool parseProgramRule(std::string_view text, std::vector<ProgramRule>& rules,
                                    std::string* error);
// The block-all rule of one profile (index in kProfileNames).
ProgramRule blockAllRule(size_t profile);

// What the status needs of one rule.
struct RuleFacts {
  std::wstring name;
  std::wstring program;
  // The program path with environment variables expanded, for the Windows-folder test; empty
  // when it is the program path itself.
  std::wstring expandedProgram;
  bool enabled = false;
  int32_t action = kActionBlock;
  int32_t direction = kDirectionIn;
};

// Assembles the status text: lines in the order they are given, the listing rules for rules,
// the 400-line cap, and the "blockin" line at the end.
class StatusWriter {
 public:
  // windowsFolder: the Windows folder with or without a trailing separator.
  explicit StatusWriter(std::wstring_view windowsFolder);

  void profile(size_t index, bool on);
  void error(std::string_view text);
  void rule(const RuleFacts& rule);
  std::string finish();

 private:
  std::wstring windowsFolder_;  // lower-cased, ending in a backslash
  std::string text_;
  size_t ruleLines_ = 0;
  bool blockAll_ = false;
};

}  // namespace zorvek::fw
