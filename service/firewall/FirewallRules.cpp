#include "service/firewall/FirewallRules.h"

#include <cstdio>

#include "common/Text.h"

namespace zorvek::fw {
namespace {

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

bool startsWithNoCase(std::wstring_view text, std::wstring_view lowerPrefix) {
  return text.size() >= lowerPrefix.size() &&
         asciiLower(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// A drive path ("C:\", "C:/") or a UNC path ("\\server\share\...", "\\?\C:\...").
bool isAbsoluteWindowsPath(std::string_view path) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && isSeparator(path[2])) return true;
  return path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && !isSeparator(path[2]);
}

bool hasControlCharacter(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

std::string resultText(uint32_t hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  if (hr == kAccessDenied) return std::string("требуются права администратора (код ") + code + ")";
  return std::string("код ") + code;
}

std::string failureText(std::string_view what, uint32_t hr) {
  return std::string(what) + ": " + resultText(hr);
}

bool isZorvekRule(std::wstring_view name) { return startsWithNoCase(name, L"zorvek:"); }

bool isBlockAllRule(std::wstring_view name) {
  return startsWithNoCase(name, L"zorvek: block all inbound");
}

bool parseProfileChange(std::string_view text, ProfileChange& out, std::string* error) {
  const size_t comma = text.find(',');
  const std::string_view name = text.substr(0, comma);
  size_t index = kProfileCount;
  for (size_t i = 0; i < kProfileCount; ++i)
    if (name == kProfileNames[i]) index = i;
  if (comma == std::string_view::npos || index == kProfileCount)
    return fail(error, "некорректный профиль брандмауэра в запросе");
  const std::string_view value = text.substr(comma + 1);
  if (value != "0" && value != "1") return fail(error, "некорректное значение включения профиля");
  out = {index, value == "1"};
  return true;
}

bool parseBlockAllInbound(std::string_view text, bool& on, std::string* error) {
  if (text != "0" && text != "1") return fail(error, "некорректное значение блокирования входящих");
  on = text == "1";
  return true;
}

bool parseProgramRule(std::string_view text, std::vector<ProgramRule>& rules, std::string* error) {
  const size_t first = text.find('|');
  const size_t second = first == std::string_view::npos ? first : text.find('|', first + 1);
  if (second == std::string_view::npos) return fail(error, kBadProgramRule);
  const std::string_view action = text.substr(0, first);
  const std::string_view direction = text.substr(first + 1, second - first - 1);
  const std::string_view path = text.substr(second + 1);
  if ((action != "allow" && action != "block") ||
      (direction != "in" && direction != "out" && direction != "both") ||
      path.find('|') != std::string_view::npos || !isAbsoluteWindowsPath(path) ||
      isSeparator(path.back()) || hasControlCharacter(path))
    return fail(error, kBadProgramRule);

  size_t nameStart = path.size();
  while (nameStart > 0 && !isSeparator(path[nameStart - 1])) --nameStart;
  const std::wstring base = L"ZORVEK: " + toWide(path.substr(nameStart));
  ProgramRule programRule;
  programRule.description = L"Правило создано ZORVEK Antivirus.";
  programRule.application = toWide(path);
  programRule.action = action == "allow" ? kActionAllow : kActionBlock;
  rules.clear();
  if (direction == "both") {
    programRule.name = base + L" (in)";
    programRule.direction = kDirectionIn;
    rules.push_back(programRule);
    programRule.name = base + L" (out)";
    programRule.direction = kDirectionOut;
    rules.push_back(programRule);
  } else {
    programRule.name = base;
    programRule.direction = direction == "in" ? kDirectionIn : kDirectionOut;
    rules.push_back(programRule);
  }
  return true;
}

ProgramRule blockAllRule(size_t profile) {
  ProgramRule programRule;
  programRule.name = L"ZORVEK: block all inbound (" + toWide(kProfileNames[profile]) + L")";
  programRule.description = L"Входящие блокируются программой ZORVEK Antivirus.";
  programRule.action = kActionBlock;
  programRule.direction = kDirectionIn;
  programRule.profiles = kProfileTypes[profile];
  return programRule;
}

StatusWriter::StatusWriter(std::wstring_view windowsFolder)
    : windowsFolder_(asciiLower(windowsFolder)) {
  if (windowsFolder_.empty() || windowsFolder_.back() != L'\\') windowsFolder_ += L'\\';
}

void StatusWriter::profile(size_t index, bool on) {
  text_ += statusProfileLine(kProfileNames[index], on);
}

void StatusWriter::error(std::string_view text) { text_ += statusErrorLine(text); }

void StatusWriter::rule(const RuleFacts& rule) {
  const bool ours = isZorvekRule(rule.name);
  if (isBlockAllRule(rule.name)) blockAll_ = true;
  if (rule.program.empty() || ruleLines_ >= kMaxRuleLines) return;
  const std::wstring& where = rule.expandedProgram.empty() ? rule.program : rule.expandedProgram;
  if (!ours && startsWithNoCase(where, windowsFolder_)) return;
  StatusRule line;
  line.enabled = rule.enabled;
  line.action = rule.action == kActionAllow ? "allow" : "block";
  line.direction = rule.direction == kDirectionIn    ? "in"
                   : rule.direction == kDirectionOut ? "out"
                                                     : "both";
  line.name = toUtf8(rule.name);
  line.program = toUtf8(rule.program);
  text_ += statusRuleLine(line);
  ++ruleLines_;
}

std::string StatusWriter::finish() {
  text_ += statusBlockInboundLine(blockAll_);
  return std::move(text_);
}

}  // namespace zorvek::fw
