// Live signature update: three local feeds holding 4,000,000 distinct SHA-256 digests (plus
// duplicates within and across feeds, upper-case lines with names, comments and junk), served by
// the reference update server on 127.0.0.1. Measures the whole update (fetch, parse, sort, write)
// and its peak memory against a naive unordered_set<std::string> update of the same feeds in the
// same run, and the engine's reload of the result against `sigutil stats` on the same file.
//
//   live_update_bench [--digests N] [--python PATH]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "BenchUtil.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Memory.h"
#include "common/platform/Process.h"
#include "common/platform/System.h"
#include "service/net/HttpClient.h"
#include "service/net/LiveUpdate.h"

using namespace zorvek;
using bench::Clock;
using bench::median;
using bench::seconds;
using bench::splitmix;
namespace fs = std::filesystem;

namespace {

std::string digest(uint64_t i) { return bench::randomDigest(0x5EED, i); }

struct FeedStats {
  uint64_t lines = 0, bytes = 0;
};

// Feed k holds digests [k*n/3, (k+1)*n/3); every 7th line is upper case with a name after it,
// every 16th digest comes again (half of them from the previous feed), and every 40th line is a
// comment or a token of the wrong length.
FeedStats writeFeeds(const fs::path& folder, uint64_t n) {
  FeedStats stats;
  uint64_t noise = 1;
  for (uint64_t k = 0; k < 3; ++k) {
    std::ofstream f(folder / ("part" + std::to_string(k + 1) + ".txt"), std::ios::binary);
    std::string chunk;
    const uint64_t from = k * n / 3, to = (k + 1) * n / 3;
    for (uint64_t i = from; i < to; ++i) {
      std::string d = digest(i);
      if (i % 7 == 0) {
        for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        d = "  " + d + " Win.Trojan.Sample" + std::to_string(i);
      }
      chunk += d + "\n";
      if (i % 16 == 0) {
        const uint64_t again = (i % 32 == 0 && from > 0) ? from - 1 - splitmix(noise) % from
                                                         : from + splitmix(noise) % (i - from + 1);
        chunk += digest(again) + "\r\n";
        ++stats.lines;
      }
      if (i % 40 == 0) {
        chunk += (i % 80 == 0) ? "# comment " + std::to_string(i) + "\n" : digest(i).substr(1) + "\n";
        ++stats.lines;
      }
      ++stats.lines;
      if (chunk.size() > (1 << 20)) {
        f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        stats.bytes += chunk.size();
        chunk.clear();
      }
    }
    f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    stats.bytes += chunk.size();
  }
  return stats;
}


std::wstring sourceScript() {
  return toWide(ZORVEK_SOURCE_DIR) + pathSeparator() + L"scripts" + pathSeparator() + L"update_server.py";
}

double mib(uint64_t bytes) { return double(bytes) / (1024.0 * 1024.0); }

struct Figures {
  double seconds = 0;
  double peakMiB = 0;
  uint64_t count = 0;
};

template <typename Run>
Figures measure(Run&& run) {
  Figures f;
  resetPeakResident();
  const uint64_t before = residentBytes();
  const auto t0 = Clock::now();
  f.count = run();
  f.seconds = seconds(t0, Clock::now());
  f.peakMiB = mib(peakResidentBytes() - before);
  return f;
}

// The update as the plain reading of its rules does it: strings in an unordered_set, a sorted
// copy, an ofstream.
uint64_t naiveUpdate(const std::vector<std::string>& urls, const fs::path& out) {
  std::unordered_set<std::string> set;
  for (const std::string& url : urls) {
    std::string body;
    if (!svc::httpGet(url, &body, nullptr)) return 0;
    forEachLine(body, [&](std::string_view line) {
      const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
      while (!line.empty() && blank(line.front())) line.remove_prefix(1);
      while (!line.empty() && blank(line.back())) line.remove_suffix(1);
      if (line.empty() || line[0] == '#') return;
      line = line.substr(0, line.find_first_of(" \t"));
      if (line.size() != 64) return;
      std::string token(line);
      for (char& c : token) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      set.insert(std::move(token));
    });
  }
  std::vector<std::string> sorted(set.begin(), set.end());
  std::sort(sorted.begin(), sorted.end());
  const fs::path temp = out.string() + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << "# ZORVEK live signature database (auto-updated, do not edit)\nZORVEKDB/1\n"
      << "VERSION live-20250301\nGENERATED 1740789000\nSIZE " << sorted.size() << "\n";
    for (const std::string& d : sorted) f << d << '\n';
  }
  fs::rename(temp, out);
  return sorted.size();
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t n = 4000000;
  std::string python = "python3";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--digests")) n = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--python")) python = argv[i + 1];
  }
  const fs::path bin = toPath(modulePath()).parent_path();
  const fs::path work = fs::temp_directory_path() / ("zorvek-live-bench-" + std::to_string(currentProcessId()));
  fs::create_directories(work / "files");
  std::printf("writing three feeds with %llu distinct digests...\n", (unsigned long long)n);
  std::fflush(stdout);
  const FeedStats feeds = writeFeeds(work / "files", n);

  // The reference update server, on a port of its own choosing.
  const std::wstring portFile = pathToWide(work / "port");
  ChildProcess server;
  std::string error;
  if (!server.start({L"/usr/bin/env", toWide(python), sourceScript(), pathToWide(work), L"--port", L"0",
                     L"--port-file", portFile, L"--quiet"},
                    &error)) {
    std::fprintf(stderr, "cannot start the update server: %s\n", error.c_str());
    return 1;
  }
  std::string port;
  for (int i = 0; i < 200 && port.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    readWholeFile(portFile, port);
  }
  if (port.empty()) {
    std::fprintf(stderr, "the update server did not start\n");
    return 1;
  }
  port = port.substr(0, port.find('\n'));
  std::vector<std::string> urls;
  for (int k = 1; k <= 3; ++k) {
    urls.push_back("http://127.0.0.1:" + port + "/files/part" + std::to_string(k) + ".txt");
  }

  // The transfer alone, for reference: three GETs into memory.
  double fetchSeconds = 0;
  {
    const auto t0 = Clock::now();
    for (const auto& url : urls) {
      std::string body;
      if (!svc::httpGet(url, &body, &error)) {
        std::fprintf(stderr, "fetch failed: %s\n", error.c_str());
        return 1;
      }
    }
    fetchSeconds = seconds(t0, Clock::now());
  }

  const fs::path live = work / "signatures.live.txt";
  svc::LiveUpdateOptions options;
  options.livePath = pathToWide(live);
  options.builtInFeeds = urls;
  options.unixSeconds = [] { return uint64_t(1740789000); };  // the naive writer's header
  const Figures ours = measure([&] {
    uint64_t count = 0;
    if (!svc::fetchLiveSignatures("", &count, &error, options)) {
      std::fprintf(stderr, "update failed: %s\n", error.c_str());
    }
    return count;
  });

  // Reload as the engine does it (main database, then the live one) against sigutil stats.
  const std::wstring seed = pathToWide(bin / "data" / "signatures.seed.txt");
  std::vector<double> reload, stats;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    std::wstring wideError;
    const auto db = assembleServiceDatabase(seed, options.livePath, &wideError);
    reload.push_back(seconds(t0, Clock::now()));
    if (!db || db->info().count < ours.count) std::fprintf(stderr, "reload lost digests\n");
    t0 = Clock::now();
    ChildProcess sigutil;
    uint32_t code = 1;
    const std::wstring command = L"'" + pathToWide(bin / "sigutil") + L"' stats '" + options.livePath + L"' >/dev/null";
    if (!sigutil.start({L"/bin/sh", L"-c", command}) || !sigutil.wait(&code) ||
        code != 0) {
      std::fprintf(stderr, "sigutil stats failed\n");
    }
    stats.push_back(seconds(t0, Clock::now()));
  }

  const Figures naive = measure([&] { return naiveUpdate(urls, work / "naive.txt"); });
  std::string ourText, naiveText;
  readWholeFile(options.livePath, ourText);
  readWholeFile(pathToWide(work / "naive.txt"), naiveText);
  const bool same = ourText == naiveText;
  ourText = naiveText = std::string();
  server.kill();
  server.wait();
  fs::remove_all(work);

  std::printf("live update: %llu distinct digests in 3 feeds, %llu lines, %.0f MB\n",
              (unsigned long long)ours.count, (unsigned long long)feeds.lines, double(feeds.bytes) / 1e6);
  std::printf("%-40s %10s %10s %8s\n", "", "zorvek", "naive", "ratio");
  std::printf("%-40s %9.2fs %9.2fs %7.2fx\n", "update: fetch+parse+sort+write", ours.seconds,
              naive.seconds, naive.seconds / ours.seconds);
  std::printf("%-40s %7.0fMiB %7.0fMiB %7.2fx\n", "peak memory of the update", ours.peakMiB,
              naive.peakMiB, naive.peakMiB / ours.peakMiB);
  std::printf("%-40s %9.2fs\n", "  of which the three GETs alone", fetchSeconds);
  std::printf("%-40s %9.2fs %9.2fs %7.2fx\n", "reload vs sigutil stats (median of 3)", median(reload),
              median(stats), median(reload) / median(stats));
  std::printf("byte-identical to the naive update's file: %s\n", same ? "yes" : "NO");
  std::printf("targets: update <= 3 s (%s), peak <= 400 MB (%s), reload <= 1.3x sigutil stats (%s)\n",
              ours.seconds <= 3 ? "met" : "missed", ours.peakMiB * 1.048576 <= 400 ? "met" : "missed",
              median(reload) <= 1.3 * median(stats) ? "met" : "missed");
  return 0;
}
