#include "service/net/WebShield.h"

#include <unordered_set>

#include "common/Fail.h"
#include "common/Hosts.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "service/engine/EngineAccess.h"
#include "service/net/UpdateServer.h"

namespace zorvek::svc {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool startsWithWww(std::string_view domain) { return domain.substr(0, 4) == "www."; }

constexpr std::string_view kEntryTail = " # zorvek-blocked\n";

}  // namespace

std::string builtInBlocklistFeed() { return "https://phish.sinking.yachts/v2/text"; }

bool isValidDomain(std::string_view candidate) {
  const std::string_view d = trimBlanks(candidate);
  if (d.empty() || d.size() > 253 || d.front() == '.' || d.back() == '.') return false;
  bool dot = false, letter = false;
  for (size_t i = 0; i < d.size(); ++i) {
    const char c = d[i];
    if (c == '.') {
      if (d[i + 1] == '.') return false;  // the last character is not a dot: i + 1 is in range
      dot = true;
    } else if (isAsciiLetter(c)) {
      letter = true;
    } else if (!(c >= '0' && c <= '9') && c != '-') {
      return false;
    }
  }
  return dot && letter;
}

std::vector<std::string> parseBlockedDomains(std::string_view body) {
  std::vector<std::string> domains;
  std::unordered_set<std::string> seen;
  size_t start = 0;
  while (start < body.size() && domains.size() < kMaxBlockedDomains) {
    size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#' || !isValidDomain(line)) continue;
    // Trimmed before use: " example.com" would otherwise become the entry "www. example.com",
    // which blocks a host named "www." instead.
    std::string domain = asciiLower(trimBlanks(line));
    if (seen.insert(domain).second) domains.push_back(std::move(domain));
  }
  return domains;
}

bool fetchBlockedDomains(const std::string& url, std::vector<std::string>& domains,
                         std::string* error, const HttpFetch& fetch) {
  domains.clear();
  std::string body, failure;
  if (!(fetch ? fetch(url, &body, &failure) : httpGet(url, &body, &failure))) {
    return fail(error, failure);
  }
  domains = parseBlockedDomains(body);
  return true;
}

std::string buildWebShieldHosts(std::string_view hostsText, const std::vector<std::string>& domains) {
  std::vector<std::string> lines = linesOutsideBlock(hostsText);
  // Without this every pass would add one more blank line before the block.
  while (!lines.empty() && trimBlanks(lines.back()).empty()) lines.pop_back();
  std::string out;
  for (const std::string& line : lines) {
    out += line;
    out += '\n';
  }
  out += '\n';
  out += kWebShieldBegin;
  out += '\n';
  size_t count = 2;
  for (const std::string& candidate : domains) {
    if (count > kMaxBlockLines) break;
    if (!isValidDomain(candidate)) continue;
    const std::string domain = asciiLower(trimBlanks(candidate));
    out += "127.0.0.1 ";
    out += domain;
    out += kEntryTail;
    ++count;
    if (!startsWithWww(domain)) {
      out += "127.0.0.1 www.";
      out += domain;
      out += kEntryTail;
      ++count;
    }
  }
  out += kWebShieldEnd;
  out += '\n';
  return out;
}

bool applyWebShieldBlock(const std::wstring& path, const std::vector<std::string>& domains,
                         std::string* error) {
  std::string text;
  if (!readHostsText(path, text, error)) return false;
  return writeHostsAtomically(path, buildWebShieldHosts(text, domains), error);
}

void runWebShield(WebShieldAccess& engine, const WebShieldOptions& options) {
  const ServiceConfig config = engine.snapshotConfig();
  const std::wstring path = options.hostsPath.empty() ? hostsPath() : options.hostsPath;
  std::string error;
  if (!config.webShield) {
    std::string text;
    // An unreadable file must not be rewritten from nothing, and may still hold our block: the
    // user hears of it instead of the pass passing silently.
    if (!readHostsText(path, text, &error)) {
      logWarning("web shield: cannot clean hosts: " + error);
      return;
    }
    if (countBlockEntries(text) == 0) return;
    if (!removeWebShieldBlock(path, &error)) logWarning("web shield: cannot clean hosts: " + error);
    return;
  }
  const std::string url = config.updateServer.empty()
                              ? options.builtInFeed
                              : updateServerUrl(config.updateServer, kBlocklistPath);
  std::vector<std::string> domains;
  const HttpFetch fetch = options.fetch ? options.fetch
                                        : HttpFetch([&engine](const std::string& u, std::string* body,
                                                              std::string* why) {
                                            return httpGet(u, body, why,
                                                           {kHttpTimeoutMs, [&engine] {
                                                              return engine.stopping();
                                                            }});
                                          });
  if (!fetchBlockedDomains(url, domains, &error, fetch)) {
    logWarning("web shield: domain feed failed: " + error);
    return;
  }
  if (!applyWebShieldBlock(path, domains, &error)) {
    logError("web shield: hosts update failed: " + error);
    return;
  }
  std::string written;
  const size_t entries = readHostsText(path, written) ? countBlockEntries(written) : 0;
  logInfo("web shield: blocked " + std::to_string(domains.size()) + " domains (" +
          std::to_string(entries) + " hosts entries)");
}

}  // namespace zorvek::svc
