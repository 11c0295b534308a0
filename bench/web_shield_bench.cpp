// Web shield: one pass over a feed of 30,000 domains against a 1 MB hosts file (the download
// excluded): parse the feed, rebuild the block, write the file atomically. The reference in the
// same run is the least any pass must do: read the same hosts file and write it back atomically
// unchanged.
//
//   web_shield_bench [--domains N] [--hosts-bytes N]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "common/Hosts.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/net/WebShield.h"

using namespace zorvek;
using bench::Clock;
using bench::median;
using bench::seconds;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  size_t domainCount = 30000, hostsBytes = 1 << 20;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--domains")) domainCount = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--hosts-bytes")) hostsBytes = std::strtoull(argv[i + 1], nullptr, 10);
  }
  uint64_t seed = 0x5EED;
  std::string feed = "# phishing domains\n";
  for (size_t i = 0; i < domainCount; ++i) {
    const uint64_t r = bench::splitmix(seed);
    feed.append(i % 7 == 0 ? "WWW.Login-" : "login-").append(std::to_string(r % 1000000007));
    feed.append(".Example").append(std::to_string(i % 97)).append(".com\r\n");
  }
  std::string hosts;
  for (size_t i = 0; hosts.size() < hostsBytes; ++i) {
    hosts.append("10.").append(std::to_string(i % 250)).append(".");
    hosts.append(std::to_string(i / 250 % 250)).append(".1 host").append(std::to_string(i));
    hosts.append(".corp.local  # a user's own line\r\n");
  }

  const fs::path folder =
      fs::temp_directory_path() / ("zorvek-web-shield-bench-" + std::to_string(currentProcessId()));
  fs::create_directories(folder);
  const std::wstring path = pathToWide(folder / "hosts");
  std::vector<double> pass, reference;
  uint64_t written = 0;
  size_t blocked = 0;
  for (int round = 0; round < 7; ++round) {
    writeFileAtomically(path, hosts);
    auto t0 = Clock::now();
    std::string text;
    readHostsText(path, text);
    writeHostsAtomically(path, text);
    auto t1 = Clock::now();
    reference.push_back(seconds(t0, t1));

    writeFileAtomically(path, hosts);
    std::string error;
    t0 = Clock::now();
    const auto domains = svc::parseBlockedDomains(feed);
    const bool ok = svc::applyWebShieldBlock(path, domains, &error);
    t1 = Clock::now();
    if (!ok) {
      std::fprintf(stderr, "pass failed: %s\n", error.c_str());
      return 1;
    }
    pass.push_back(seconds(t0, t1));
    blocked = domains.size();
    written = static_cast<uint64_t>(fileSize(path));
  }
  fs::remove_all(folder);
  const double p = median(pass), r = median(reference);
  std::printf("web shield pass: %zu domains, hosts %zu bytes -> %llu bytes written\n", blocked,
              hosts.size(), static_cast<unsigned long long>(written));
  std::printf("  pass (parse + block + atomic write): %.1f ms (target <= 100 ms)\n", p * 1000);
  std::printf("  reference (read + atomic write back): %.1f ms\n", r * 1000);
  std::printf("  ratio pass/reference: %.2f\n", p / r);
  return 0;
}
