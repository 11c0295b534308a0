#pragma once
// The web shield: a list of dangerous domains fetched over HTTP(S) and kept unreachable through
// a marked block of 127.0.0.1 entries at the end of the hosts file (common/Hosts.h holds the
// file half the installer shares).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "service/net/HttpClient.h"

namespace zorvek::svc {

class WebShieldAccess;

// Domains taken from one feed; further lines are not read.
inline constexpr size_t kMaxBlockedDomains = 30000;
// Entry lines (counted from 2, the markers) after which no further domain is written.
inline constexpr size_t kMaxBlockLines = 60000;

// The public phishing-domain list fetched when no update server is set.
std::string builtInBlocklistFeed();

// Blanks around the candidate ignored: 1 to 253 characters of ASCII letters, digits, "-" and
// ".", at least one "." and one letter, no leading, trailing or doubled ".".
bool isValidDomain(std::string_view candidate);

// The feed's valid domains, trimmed and lower-cased, each once at its first place, at most
// kMaxBlockedDomains.
std::vector<std::string> parseBlockedDomains(std::string_view body);

// Downloads `url` and parses it; false with the HTTP client's text when the download fails.
bool fetchBlockedDomains(const std::string& url, std::vector<std::string>& domains,
                         std::string* error, const HttpFetch& fetch = {});

// The hosts text with the block rebuilt from `domains`: the lines outside the old block (CR
// removed, trailing blank lines dropped), an empty line, then the block.
std::string buildWebShieldHosts(std::string_view hostsText, const std::vector<std::string>& domains);

// Rewrites the block of the hosts file at `path`. A file that exists but cannot be read fails
// ("cannot read hosts: ...") and stays as it is.
bool applyWebShieldBlock(const std::wstring& path, const std::vector<std::string>& domains,
                         std::string* error);

struct WebShieldOptions {
  std::wstring hostsPath;  // empty: hostsPath() (ZORVEK_HOSTS or the system's)
  std::string builtInFeed = builtInBlocklistFeed();
  HttpFetch fetch;         // empty: httpGet, cancelled when the engine stops
};

// One pass: with WebShield on, fetch the feed and rewrite the block; with it off, remove a block
// that has entries. Outcomes go to the log.
void runWebShield(WebShieldAccess& engine, const WebShieldOptions& options = {});

}  // namespace zorvek::svc
