#include "common/FirewallStatus.h"

#include "common/Text.h"

namespace zorvek::fw {
namespace {

std::string unescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == ',') ++i;
    out += raw[i];
  }
  return out;
}

// The fields of a line as they stand in it, split at the commas that no backslash precedes.
std::vector<std::string_view> rawFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != ',' || (i > 0 && line[i - 1] == '\\')) continue;
    fields.push_back(line.substr(start, i - start));
    start = i + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

void appendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == ',') out += "\\,";
    else if (c == '\r' || c == '\n') out += ' ';
    else out += c;
  }
}

void parseRule(const std::vector<std::string_view>& f, FirewallStatus& status) {
  StatusRule rule;
  rule.enabled = f[1] == "on";
  rule.action = unescape(f[2]);
  rule.direction = unescape(f[3]);
  if (f.size() >= 6) {
    rule.name = unescape(f[4]);
    rule.program = unescape(f[5]);
  } else {
    // A name ending in a backslash hides the comma after it: "a\,C:\p.exe". Every listed rule has
    // a program, so a line one field short was cut that way; the last "\," is the likeliest
    // separator (names hold commas more often than paths do), and its backslash is the name's.
    const size_t cut = f[4].rfind("\\,");
    if (cut == std::string_view::npos) return;
    rule.name = unescape(f[4].substr(0, cut)) + '\\';
    rule.program = unescape(f[4].substr(cut + 2));
  }
  status.rules.push_back(std::move(rule));
}

}  // namespace

bool FirewallStatus::allProfilesOn() const {
  for (const auto& p : profiles)
    if (!p.value_or(false)) return false;
  return true;
}

std::string FirewallStatus::firstError() const {
  for (const std::string& e : errors)
    if (!e.empty()) return e;
  return {};
}

FirewallStatus parseFirewallStatus(std::string_view text) {
  FirewallStatus status;
  forEachLine(text, [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> f = rawFields(line);
    if (f[0] == "prof" && f.size() >= 3) {
      for (size_t i = 0; i < kProfileCount; ++i)
        if (f[1] == kProfileNames[i]) status.profiles[i] = f[2] == "on";
    } else if (f[0] == "blockin") {
      status.blockInbound = f.size() >= 2 && f[1] == "on";
    } else if (f[0] == "rule" && f.size() >= 5) {
      parseRule(f, status);
    } else if (f[0] == "error") {
      std::string joined;
      for (size_t i = 1; i < f.size(); ++i) {
        if (i > 1) joined += ',';
        joined += unescape(f[i]);
      }
      status.errors.push_back(std::move(joined));
    }
  });
  return status;
}

std::string statusProfileLine(std::string_view profile, bool on) {
  return "prof," + std::string(profile) + (on ? ",on\n" : ",off\n");
}

std::string statusRuleLine(const StatusRule& rule) {
  std::string line = rule.enabled ? "rule,on," : "rule,off,";
  for (const std::string* field : {&rule.action, &rule.direction, &rule.name}) {
    appendEscaped(line, *field);
    line += ',';
  }
  appendEscaped(line, rule.program);
  return line + '\n';
}

std::string statusBlockInboundLine(bool on) { return on ? "blockin,on\n" : "blockin,off\n"; }

std::string statusErrorLine(std::string_view text) { return "error," + singleLine(text) + '\n'; }

}  // namespace zorvek::fw
