#include "service/net/LiveFeed.h"

#include <algorithm>
#include <cstdio>

#include "common/HexDigest.h"
#include "common/Text.h"
#include "service/engine/EngineTimers.h"

namespace zorvek::svc {
namespace {

uint64_t bigEndian64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

constexpr size_t kDigestLine = 65;  // 64 hex digits and LF
constexpr size_t kChunk = size_t(1) << 20;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool operator<(const Sha256Digest& a, const Sha256Digest& b) {
  for (int i = 0; i < 32; i += 8) {
    const uint64_t x = bigEndian64(a.bytes + i), y = bigEndian64(b.bytes + i);
    if (x != y) return x < y;
  }
  return false;
}

bool operator==(const Sha256Digest& a, const Sha256Digest& b) {
  return std::equal(a.bytes, a.bytes + 32, b.bytes);
}

bool parseFeedLine(std::string_view line, Sha256Digest& digest) {
  // Nearly every line of a feed is a digest alone or with a name after a blank: decided without
  // trimming. A line that starts with a blank, or whose 65th character is CR or LF, takes the
  // general path below.
  if (line.size() >= 64 && !isBlank(line[0]) && line[0] != '#') {
    if (line.size() == 64 || line[64] == ' ' || line[64] == '\t') {
      return sigdb::decodeDigest(line.substr(0, 64), digest.bytes);
    }
    // The first token runs past 64 characters unless only blanks follow.
    if (line[64] != '\r' && line[64] != '\n') return false;
  }
  while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return false;
  const size_t end = line.find_first_of(" \t");
  if (end != std::string_view::npos) line = line.substr(0, end);
  return line.size() == 64 && sigdb::decodeDigest(line, digest.bytes);
}

void LiveDigestSet::reserve(size_t digests) { digests_.reserve(digests); }

size_t LiveDigestSet::addFeed(std::string_view body) {
  // A digest line takes at least 65 bytes but the last one, so this many fit at most: the
  // vector never reallocates in the middle of a feed.
  const size_t most = body.size() / kDigestLine + 1;
  if (digests_.capacity() - digests_.size() < most) digests_.reserve(digests_.size() + most);
  size_t read = 0;
  Sha256Digest digest;
  forEachLine(body, [&](std::string_view line) {
    if (!parseFeedLine(line, digest)) return;
    digests_.push_back(digest);
    ++read;
  });
  return read;
}

namespace {

// In-place most-significant-byte radix sort ("American flag"): digests from feeds are spread
// evenly over their first bytes, so two passes leave buckets of a few dozen for a plain sort,
// where a comparison sort of millions would compare and move each digest some twenty times.
void radixSort(Sha256Digest* first, Sha256Digest* last, size_t byte) {
  constexpr ptrdiff_t kSmall = 48;
  if (last - first <= kSmall || byte == 32) {
    std::sort(first, last);
    return;
  }
  size_t count[256] = {};
  for (const Sha256Digest* d = first; d != last; ++d) ++count[d->bytes[byte]];
  Sha256Digest* next[256];
  Sha256Digest* end[256];
  Sha256Digest* at = first;
  for (size_t b = 0; b < 256; ++b) {
    next[b] = at;
    at += count[b];
    end[b] = at;
  }
  for (size_t b = 0; b < 256; ++b) {
    while (next[b] != end[b]) {
      Sha256Digest moving = *next[b];
      for (uint8_t home = moving.bytes[byte]; home != b; home = moving.bytes[byte]) {
        std::swap(moving, *next[home]++);
      }
      *next[b]++ = moving;
    }
  }
  Sha256Digest* from = first;
  for (size_t b = 0; b < 256; ++b) {
    radixSort(from, end[b], byte + 1);
    from = end[b];
  }
}

}  // namespace

size_t LiveDigestSet::settle() {
  const auto middle = digests_.begin() + static_cast<std::ptrdiff_t>(settled_);
  radixSort(digests_.data() + settled_, digests_.data() + digests_.size(), 0);
  std::inplace_merge(digests_.begin(), middle, digests_.end());
  digests_.erase(std::unique(digests_.begin(), digests_.end()), digests_.end());
  settled_ = digests_.size();
  return settled_;
}

std::string liveDatabaseVersion(uint64_t unixSeconds) {
  const UtcDateTime t = utcDateTime(unixSeconds);
  char text[32];
  std::snprintf(text, sizeof text, "live-%04u%02u%02u", t.year, t.month, t.day);
  return text;
}

bool writeLiveDatabase(const std::vector<Sha256Digest>& digests, uint64_t generatedUnixSeconds,
                       const std::function<bool(std::string_view)>& emit) {
  std::string out;
  out.reserve(kChunk + kDigestLine);
  out += "# ZORVEK live signature database (auto-updated, do not edit)\nZORVEKDB/1\nVERSION ";
  out += liveDatabaseVersion(generatedUnixSeconds);
  out += "\nGENERATED " + std::to_string(generatedUnixSeconds);
  out += "\nSIZE " + std::to_string(digests.size()) + "\n";
  for (const Sha256Digest& d : digests) {
    appendHex(out, d.bytes, sizeof d.bytes);
    out += '\n';
    if (out.size() >= kChunk) {
      if (!emit(out)) return false;
      out.clear();
    }
  }
  return out.empty() || emit(out);
}

}  // namespace zorvek::svc
