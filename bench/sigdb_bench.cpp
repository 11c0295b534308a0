// Signature database: load time, lookup time and resident bytes per entry for a file of
// 4,000,000 bare SHA-256 digests, against a plain unordered_map<std::string, entry> baseline
// measured in the same run.
//
//   sigdb_bench [--entries N] [--file PATH] [--named 1]
// --named gives every digest a detection name of its own (digest:Sample.N:Bench), as hash
// feeds with per-sample names do.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchUtil.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/Memory.h"

using namespace zorvek;
using bench::Clock;
using bench::median;
using bench::seconds;
using bench::splitmix;

namespace {

// Digest i of the stream `seed`: the file holds seed 1, misses come from seed 2.
std::string digest(uint64_t seed, uint64_t i) { return bench::randomDigest(seed, i); }

void generate(const std::filesystem::path& path, uint64_t n, bool named) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  std::string chunk;
  for (uint64_t i = 0; i < n; ++i) {
    chunk += digest(1, i);
    if (named) chunk += ":Sample." + std::to_string(i) + ":Bench";
    chunk += '\n';
    if (chunk.size() > (1 << 20)) {
      f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      chunk.clear();
    }
  }
  f.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}


// The obvious implementation: the whole file in memory, a temporary map per load merged into
// the main map, std::string keys and fields.
struct Baseline {
  std::unordered_map<std::string, SignatureEntry> table;

  void load(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string text = ss.str();
    std::unordered_map<std::string, SignatureEntry> temp;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      const std::string hash = asciiLower(line.substr(0, line.find(':')));
      if (hash.size() != 32 && hash.size() != 40 && hash.size() != 64) continue;
      SignatureEntry e;
      e.hash = hash;
      const size_t c1 = line.find(':');
      if (c1 == std::string::npos) {
        e.name = e.family = kGenericSignatureName;
      } else {
        const size_t c2 = line.find(':', c1 + 1);
        e.name = line.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
        e.family = c2 == std::string::npos ? e.name : line.substr(c2 + 1);
      }
      temp.emplace(hash, std::move(e));
    }
    for (auto& [k, v] : temp) table.emplace(k, v);
  }
  bool lookup(const std::string& sha256, SignatureMatch* m) const {
    m->clear();
    const auto it = table.find(asciiLower(sha256));
    if (it == table.end()) return false;
    m->name = it->second.name;
    m->family = it->second.family;
    m->level = it->second.level;
    m->reference = it->second.reference;
    m->hash = it->second.hash;
    return true;
  }
};

struct Figures {
  double loadSeconds = 0;
  double bytesPerEntry = 0;
  double peakMiB = 0;
  double hitNs = 0;
  double missNs = 0;
  uint64_t count = 0;
};

constexpr int kRounds = 3;


template <typename Lookup>
void timeLookups(Figures& fig, uint64_t n, Lookup&& lookup) {
  constexpr int kProbes = 1000000;
  std::vector<std::string> hits, misses;
  hits.reserve(kProbes);
  misses.reserve(kProbes);
  uint64_t s = 42;
  for (int i = 0; i < kProbes; ++i) {
    hits.push_back(digest(1, splitmix(s) % n));
    misses.push_back(digest(2, static_cast<uint64_t>(i)));
  }
  // The median of a few rounds: other guests on this machine make single rounds jump.
  SignatureMatch m;
  std::vector<double> hitNs, missNs;
  for (int round = 0; round < kRounds; ++round) {
    size_t found = 0;
    auto t0 = Clock::now();
    for (const auto& h : hits) found += lookup(h, &m);
    auto t1 = Clock::now();
    for (const auto& h : misses) found += lookup(h, &m);
    auto t2 = Clock::now();
    if (found != kProbes) std::fprintf(stderr, "warning: %zu of %d lookups found\n", found, kProbes);
    hitNs.push_back(seconds(t0, t1) * 1e9 / kProbes);
    missNs.push_back(seconds(t1, t2) * 1e9 / kProbes);
  }
  fig.hitNs = median(hitNs);
  fig.missNs = median(missNs);
}

template <typename Load>
void measureLoad(Figures& fig, Load&& load) {
  resetPeakResident();
  const uint64_t before = residentBytes();
  const auto t0 = Clock::now();
  fig.count = load();
  const auto t1 = Clock::now();
  fig.loadSeconds = seconds(t0, t1);
  fig.bytesPerEntry = double(residentBytes() - before) / double(fig.count ? fig.count : 1);
  fig.peakMiB = double(peakResidentBytes()) / (1024.0 * 1024.0);
}

// One dependent random read over `bytes` of memory: the floor under a lookup that misses the
// processor's caches on this machine.
double memoryLatencyNs(size_t bytes) {
  const size_t n = bytes / sizeof(uint64_t);
  std::vector<uint64_t> next(n);
  for (size_t i = 0; i < n; ++i) next[i] = i;
  uint64_t s = 7;
  for (size_t i = n - 1; i > 0; --i) std::swap(next[i], next[splitmix(s) % (i + 1)]);  // one cycle
  std::vector<uint64_t> cycle(n);
  for (size_t i = 0; i < n; ++i) cycle[next[i]] = next[(i + 1) % n];
  uint64_t p = 0;
  constexpr int kSteps = 2000000;
  std::vector<double> ns;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kSteps; ++i) p = cycle[p];
    const auto t1 = Clock::now();
    ns.push_back(seconds(t0, t1) * 1e9 / kSteps);
  }
  if (p == UINT64_MAX) std::printf("!");
  return median(ns);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t entries = 4000000;
  std::filesystem::path file;
  bool named = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--entries")) entries = std::strtoull(argv[i + 1], nullptr, 10);
    if (!std::strcmp(argv[i], "--file")) file = argv[i + 1];
    if (!std::strcmp(argv[i], "--named")) named = std::strcmp(argv[i + 1], "0") != 0;
  }
  if (file.empty())
    file = std::filesystem::temp_directory_path() /
           ("zorvek-sigdb-" + std::to_string(entries) + (named ? "-named" : "") + ".txt");
  if (!std::filesystem::exists(file) || (!named && std::filesystem::file_size(file) != entries * 65)) {
    std::printf("generating %llu digests into %s\n", (unsigned long long)entries, file.string().c_str());
    generate(file, entries, named);
  }
  { std::ifstream warm(file, std::ios::binary); std::vector<char> b(1 << 20); while (warm.read(b.data(), 1 << 20)) {} }

  Figures ours, base;
  {
    SignatureDatabase db;
    measureLoad(ours, [&] {
      db.load(pathToWide(file));
      return db.info().count;
    });
    timeLookups(ours, entries, [&](const std::string& h, SignatureMatch* m) { return db.lookup("", "", h, m); });
  }
  {
    Baseline db;
    measureLoad(base, [&] {
      db.load(file);
      return uint64_t(db.table.size());
    });
    timeLookups(base, entries, [&](const std::string& h, SignatureMatch* m) { return db.lookup(h, m); });
  }

  std::printf("signature database, %llu SHA-256 digests%s (%.0f MB file)\n", (unsigned long long)entries,
              named ? ", each with its own name" : "",
              double(std::filesystem::file_size(file)) / 1e6);
  std::printf("%-28s %12s %12s %10s\n", "", "zorvek", "baseline", "ratio");
  auto row = [](const char* what, double a, double b, const char* unit) {
    std::printf("%-28s %10.2f%-2s %10.2f%-2s %9.2fx\n", what, a, unit, b, unit, b / a);
  };
  row("load time", ours.loadSeconds, base.loadSeconds, "s");
  row("resident bytes per entry", ours.bytesPerEntry, base.bytesPerEntry, "B");
  row("peak RSS (MiB)", ours.peakMiB, base.peakMiB, "");
  row("lookup, hit", ours.hitNs, base.hitNs, "ns");
  row("lookup, miss", ours.missNs, base.missNs, "ns");
  // A hit must read its digest from a table far larger than the processor's caches: it cannot
  // take less than one memory read.
  std::printf("one dependent random memory read over 256 MiB on this machine: %.0f ns\n",
              memoryLatencyNs(size_t(256) << 20));
  std::printf("lookups are the median of %d rounds of 1,000,000\n", kRounds);
  std::printf("targets: load <= 1.5 s, <= 64 B/entry, peak <= 512 MiB, lookup <= 200 ns\n");
  return 0;
}
