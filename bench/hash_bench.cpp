// Hasher throughput against OpenSSL measured in the same run.
//
// Figures are bytes per CPU second (user + kernel), as openssl speed counts user CPU time.
//
//   hash_bench [--seconds S] [--file-mib N] [--ref md5=B,sha1=B,sha256=B]
//              [--ref-portable md5=B,sha1=B,sha256=B]
//
// Without --ref the program runs `openssl speed -evp <alg> -bytes 16384` itself (and once more
// with the SHA extensions masked for the portable comparison). Under Wine there is no openssl to
// run: bench/hash_bench.sh measures it natively and passes the figures in bytes per second, or
// ZORVEK_OPENSSL_REF / ZORVEK_OPENSSL_REF_PORTABLE hold them in the same form.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/Hash.h"
#include "common/platform/CpuTime.h"

using namespace zorvek::hash;
using zorvek::processCpuSeconds;

namespace {

const char* const kAlgs[] = {"md5", "sha1", "sha256"};
using Figures = std::map<std::string, double>;  // algorithm -> bytes per second

Figures parseFigures(const std::string& text) {
  Figures f;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(pos, end - pos);
    const size_t eq = item.find('=');
    if (eq != std::string::npos) f[item.substr(0, eq)] = std::atof(item.c_str() + eq + 1);
    pos = end + 1;
  }
  return f;
}

// Bytes per second of `openssl speed -evp alg` on 16 KiB blocks, or 0 when it cannot run.
double opensslSpeed(const char* alg, bool maskShaExt, int seconds) {
  std::string cmd = std::string(maskShaExt ? "OPENSSL_ia32cap=':~0x20000000' " : "") +
                    "openssl speed -mr -evp " + alg + " -bytes 16384 -seconds " +
                    std::to_string(seconds) + " 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return 0;
  char line[512];
  double rate = 0;
  while (std::fgets(line, sizeof line, p)) {
    // "+F:<n>:<alg>:<bytes per second>"
    if (std::strncmp(line, "+F:", 3) == 0) {
      const char* last = std::strrchr(line, ':');
      if (last) rate = std::atof(last + 1);
    }
  }
  pclose(p);
  return rate;
}

Figures measureOpenssl(bool maskShaExt, int seconds) {
  Figures f;
  for (const char* a : kAlgs) {
    const double r = opensslSpeed(a, maskShaExt, seconds);
    if (r > 0) f[a] = r;
  }
  return f;
}

template <typename H>
double ourSpeed(const std::vector<uint8_t>& block, double seconds) {
  // As openssl speed does: a whole digest per 16 KiB block.
  size_t done = 0;
  volatile char sink = 0;
  // CPU time, as openssl speed measures by default: other processes share this machine.
  const double start = processCpuSeconds();
  double elapsed = 0;
  do {
    for (int i = 0; i < 64; ++i) {
      H h;
      h.update(block.data(), block.size());
      sink = static_cast<char>(sink + h.finalDigest()[0]);
      done += block.size();
    }
    elapsed = processCpuSeconds() - start;
  } while (elapsed < seconds);
  return static_cast<double>(done) / elapsed;
}

Figures measureOurs(double seconds) {
  std::vector<uint8_t> block(16384);
  std::mt19937 rng(1);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  return {{"md5", ourSpeed<Md5>(block, seconds)},
          {"sha1", ourSpeed<Sha1>(block, seconds)},
          {"sha256", ourSpeed<Sha256>(block, seconds)}};
}

double limitOf(const Figures& f) {
  if (!f.count("md5") || !f.count("sha1") || !f.count("sha256")) return 0;
  return 1.0 / (1.0 / f.at("md5") + 1.0 / f.at("sha1") + 1.0 / f.at("sha256"));
}

void printTable(const char* title, const Figures& ours, const Figures& ref) {
  std::printf("%s\n  %-8s %12s %12s %8s\n", title, "alg", "ours GB/s", "openssl", "ratio");
  for (const char* a : kAlgs) {
    const double o = ours.count(a) ? ours.at(a) : 0, r = ref.count(a) ? ref.at(a) : 0;
    if (r > 0)
      std::printf("  %-8s %12.3f %12.3f %8.3f\n", a, o / 1e9, r / 1e9, o / r);
    else
      std::printf("  %-8s %12.3f %12s %8s\n", a, o / 1e9, "-", "-");
  }
}

double tripleDigestSpeed(size_t mib) {
  const auto path = std::filesystem::temp_directory_path() / "zorvek-hash-bench.bin";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> buf(1 << 20);
    std::mt19937 rng(3);
    for (auto& c : buf) c = static_cast<char>(rng());
    for (size_t i = 0; i < mib; ++i) {
      buf[0] = static_cast<char>(i);
      out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    }
  }
  const std::wstring wpath = path.wstring();
  hashFile(wpath, kDefaultChunkSize);  // warm the page cache
  double best = 0;
  for (int run = 0; run < 2; ++run) {
    const double start = processCpuSeconds();
    const FileDigests d = hashFile(wpath, kDefaultChunkSize);
    const double s = processCpuSeconds() - start;
    if (d.bytesRead != mib << 20) std::printf("  short read: %llu bytes\n",
                                              static_cast<unsigned long long>(d.bytesRead));
    best = std::max(best, static_cast<double>(d.bytesRead) / s);
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 1;
  size_t fileMib = 256;
  std::string ref, refPortable;
  if (const char* e = std::getenv("ZORVEK_OPENSSL_REF")) ref = e;
  if (const char* e = std::getenv("ZORVEK_OPENSSL_REF_PORTABLE")) refPortable = e;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--seconds") seconds = std::atoi(argv[i + 1]);
    else if (a == "--file-mib") fileMib = static_cast<size_t>(std::atoi(argv[i + 1]));
    else if (a == "--ref") ref = argv[i + 1];
    else if (a == "--ref-portable") refPortable = argv[i + 1];
  }
  if (seconds < 1) seconds = 1;

  const Figures openssl = ref.empty() ? measureOpenssl(false, seconds) : parseFigures(ref);
  const Figures opensslPortable =
      refPortable.empty() ? measureOpenssl(true, seconds) : parseFigures(refPortable);
  if (openssl.empty()) std::printf("note: no OpenSSL reference (openssl not runnable here)\n");

  std::printf("CPU SHA extensions: %s\n", cpuHasShaExtensions() ? "yes" : "no");
  const Figures ours = measureOurs(seconds);
  printTable("16 KiB blocks, dispatched path:", ours, openssl);

  setShaExtensionsEnabled(false);
  const Figures oursPortable = measureOurs(seconds);
  setShaExtensionsEnabled(true);
  printTable("16 KiB blocks, portable path vs OpenSSL with SHA extensions masked:", oursPortable,
             opensslPortable);

  if (fileMib) {
    const double triple = tripleDigestSpeed(fileMib);
    const double limit = limitOf(openssl), limitOurs = limitOf(ours);
    std::printf("single-pass MD5+SHA-1+SHA-256 over a warm %zu MiB file: %.3f GB/s\n", fileMib,
                triple / 1e9);
    if (limit > 0)
      std::printf("  OpenSSL limit 1/(1/md5+1/sha1+1/sha256): %.3f GB/s, ratio %.3f\n",
                  limit / 1e9, triple / limit);
    std::printf("  limit from our own figures: %.3f GB/s, ratio %.3f\n", limitOurs / 1e9,
                triple / limitOurs);
  }
  return 0;
}
