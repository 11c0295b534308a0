// Corpus and database generator for bench/zscan_bench.sh, and the single-pass triple-digest
// figures that zscan's speed is compared with.
//   zscan_corpus make DIR [--files N] [--random-digests N] [--seed S]
//     DIR/corpus/...      files of scanned types, 1 KiB - 8 MiB, about a quarter PE images
//     DIR/zorvek.db       ZORVEKDB/1: the random SHA-256 digests plus every 40th corpus file
//     DIR/clam.hsb        the same digests as ClamAV hash signatures (sha256:*:Name:73)
//   zscan_corpus limit DIR
//     single-pass MD5+SHA-1+SHA-256 of every corpus file (warm), one thread, in MB/s

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Hash.h"
#include "common/Text.h"

namespace fs = std::filesystem;
using namespace zorvek;

namespace {

struct Rng {  // xorshift64*: fast and the same everywhere
  uint64_t s;
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ull;
  }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

void put16(std::string& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void put32(std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A PE32 header with .text/.data/.rsrc sections over the file's bytes, so that zscan runs its
// PE analysis (sections, entropy) as on real programs.
void stampPe(std::string& b) {
  if (b.size() < 4096) return;
  std::memset(&b[0], 0, 1024);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, 0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  const size_t fh = 0x84;
  put16(b, fh, 0x14c);
  put16(b, fh + 2, 3);
  put32(b, fh + 4, 0x5f000000);
  put16(b, fh + 16, 224);
  put16(b, fh + 18, 0x0102);
  const size_t opt = fh + 20;
  put16(b, opt, 0x10B);
  put32(b, opt + 92, 16);
  const size_t table = opt + 224;
  const uint32_t body = static_cast<uint32_t>(b.size()) - 1024;
  const char* names[3] = {".text", ".data", ".rsrc"};
  const uint32_t flags[3] = {0x60000020, 0xC0000040, 0x40000040};
  uint32_t raw = 1024;
  for (int i = 0; i < 3; ++i) {
    const size_t s = table + 40 * static_cast<size_t>(i);
    std::memcpy(&b[s], names[i], std::strlen(names[i]));
    const uint32_t len = i < 2 ? body / 3 : body - 2 * (body / 3);
    put32(b, s + 8, len);
    put32(b, s + 12, 0x1000 * static_cast<uint32_t>(i + 1) * 0x100);
    put32(b, s + 16, len);
    put32(b, s + 20, raw);
    put32(b, s + 36, flags[i]);
    raw += len;
  }
}

const char* kExtensions[] = {".exe", ".dll", ".js", ".ps1", ".sys", ".msi", ".py", ".jar", ".so",
                             ".bat"};

int make(const fs::path& dir, uint64_t files, uint64_t randomDigests, uint64_t seed) {
  Rng rng{seed * 0x9E3779B97F4A7C15ull + 1};
  fs::create_directories(dir / "corpus");
  std::vector<std::string> known;
  uint64_t total = 0;
  std::string buf;
  for (uint64_t i = 0; i < files; ++i) {
    // Mostly small files, one in fifteen large: about 600 MB for 3000 files.
    const bool large = rng.next() % 15 == 0;
    const double lo = large ? 18.0 : 10.0, hi = large ? 23.0 : 18.0;  // log2 of the size
    const auto size = static_cast<size_t>(std::exp2(lo + (hi - lo) * rng.unit()));
    buf.resize(size);
    for (size_t k = 0; k + 8 <= size; k += 8) {
      const uint64_t v = rng.next();
      std::memcpy(&buf[k], &v, 8);
    }
    const char* ext = kExtensions[rng.next() % 10];
    if ((ext[1] == 'e' || ext[1] == 'd' || ext[1] == 's') && rng.next() % 2 == 0) stampPe(buf);
    char name[64];
    std::snprintf(name, sizeof name, "d%02u/f%05u%s", static_cast<unsigned>(i % 40),
                  static_cast<unsigned>(i), ext);
    const fs::path p = dir / "corpus" / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(buf.data(), static_cast<std::streamsize>(size));
    total += size;
    if (i % 40 == 0) {
      hash::Sha256 h;
      h.update(buf.data(), buf.size());
      known.push_back(h.finalDigest());
    }
  }
  std::FILE* db = std::fopen((dir / "zorvek.db").string().c_str(), "wb");
  std::FILE* hsb = std::fopen((dir / "clam.hsb").string().c_str(), "wb");
  if (!db || !hsb) return 1;
  std::fputs("ZORVEKDB/1\nVERSION bench\n", db);
  static const char hex[] = "0123456789abcdef";
  char line[128];
  auto emit = [&](const std::string& digest, uint64_t n) {
    std::snprintf(line, sizeof line, "%s:Bench.Sample.%" PRIu64 ":Bench\n", digest.c_str(), n);
    std::fputs(line, db);
    std::snprintf(line, sizeof line, "%s:*:Bench.Sample.%" PRIu64 ":73\n", digest.c_str(), n);
    std::fputs(line, hsb);
  };
  std::string digest(64, '0');
  for (uint64_t n = 0; n < randomDigests; ++n) {
    for (int k = 0; k < 4; ++k) {
      uint64_t v = rng.next();
      for (int j = 0; j < 16; ++j, v >>= 4) digest[static_cast<size_t>(k * 16 + j)] = hex[v & 15];
    }
    emit(digest, n);
  }
  for (size_t n = 0; n < known.size(); ++n) emit(known[n], randomDigests + n);
  std::fclose(db);
  std::fclose(hsb);
  std::printf("corpus: %" PRIu64 " files, %.1f MB; database: %" PRIu64 " digests, %zu of corpus files\n",
              files, static_cast<double>(total) / 1e6, randomDigests + known.size(), known.size());
  return 0;
}

int limit(const fs::path& dir) {
  std::vector<std::wstring> paths;
  for (const auto& e : fs::recursive_directory_iterator(dir / "corpus"))
    if (e.is_regular_file()) paths.push_back(pathToWide(e.path()));
  double best = 0;
  uint64_t bytes = 0;
  for (int run = 0; run < 2; ++run) {  // the first run also warms the page cache
    bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& p : paths) bytes += hash::hashFile(p, hash::kDefaultChunkSize).bytesRead;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s > 0 && static_cast<double>(bytes) / s > best) best = static_cast<double>(bytes) / s;
  }
  std::printf("triple-digest limit: %.1f MB/s over %zu files, %.1f MB\n", best / 1e6, paths.size(),
              static_cast<double>(bytes) / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
    uint64_t files = 3000, digests = 4000000, seed = 1;
    for (int i = 3; i + 1 < argc; i += 2) {
      const uint64_t v = std::strtoull(argv[i + 1], nullptr, 10);
      if (!std::strcmp(argv[i], "--files")) files = v;
      else if (!std::strcmp(argv[i], "--random-digests")) digests = v;
      else if (!std::strcmp(argv[i], "--seed")) seed = v;
    }
    return make(argv[2], files, digests, seed);
  }
  if (argc == 3 && std::strcmp(argv[1], "limit") == 0) return limit(argv[2]);
  std::fprintf(stderr, "usage: zscan_corpus make DIR [--files N] [--random-digests N] [--seed S]\n"
                       "       zscan_corpus limit DIR\n");
  return 2;
}
