#pragma once
// Hash feeds and the live signature database they become: the feed text parser, the set of
// distinct SHA-256 digests (held as 32 bytes each, not as 64 characters) and the writer of the
// database text.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvek::svc {

// More distinct digests than this in one run ends it: a feed that large is not a hash list.
inline constexpr size_t kMaxLiveDigests = 4000000;

struct Sha256Digest {
  uint8_t bytes[32];
};
bool operator<(const Sha256Digest& a, const Sha256Digest& b);
bool operator==(const Sha256Digest& a, const Sha256Digest& b);

// One feed line: blanks (space, tab, CR, LF) around it are ignored, empty and "#" lines are
// comments, and the first token (up to a space or tab) counts only when it is exactly 64 hex
// digits of either case. False for every other line.
bool parseFeedLine(std::string_view line, Sha256Digest& digest);

class LiveDigestSet {
 public:
  // Room for `digests` entries without moving the ones held.
  void reserve(size_t digests);
  // Keeps every digest line of the LF-separated body; the number of digest lines read.
  size_t addFeed(std::string_view body);
  // Sorts what was added since the last call in with the rest and drops duplicates; the number
  // of distinct digests.
  size_t settle();
  // Ascending byte order, no duplicates, once settled.
  const std::vector<Sha256Digest>& digests() const { return digests_; }

 private:
  std::vector<Sha256Digest> digests_;
  size_t settled_ = 0;
};

// "live-" + the UTC date of the time as YYYYMMDD.
std::string liveDatabaseVersion(uint64_t unixSeconds);

// The live database as ZORVEKDB/1 text: the comment, magic, VERSION, GENERATED and SIZE lines,
// then one lower-case digest per line, handed to `emit` in pieces of about a mebibyte. False as
// soon as `emit` is.
bool writeLiveDatabase(const std::vector<Sha256Digest>& digests, uint64_t generatedUnixSeconds,
                       const std::function<bool(std::string_view)>& emit);

}  // namespace zorvek::svc
