#include "common/SignatureDatabase.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <emmintrin.h>
#include <xmmintrin.h>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Memory.h"

namespace zorvek {
namespace {

// Growable array of trivially copyable rows. realloc lets a large table grow in place (mremap on
// glibc) instead of holding the old and the new copy at once while loading millions of digests.
template <typename T>
class PodVector {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  PodVector() = default;
  PodVector(const PodVector&) = delete;
  PodVector& operator=(const PodVector&) = delete;
  PodVector(PodVector&& o) noexcept : p_(o.p_), n_(o.n_), cap_(o.cap_) { o.p_ = nullptr, o.n_ = o.cap_ = 0; }
  PodVector& operator=(PodVector&& o) noexcept {
    if (this != &o) {
      std::free(p_);
      p_ = o.p_, n_ = o.n_, cap_ = o.cap_;
      o.p_ = nullptr, o.n_ = o.cap_ = 0;
    }
    return *this;
  }
  ~PodVector() { std::free(p_); }

  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T& operator[](size_t i) { return p_[i]; }
  const T& operator[](size_t i) const { return p_[i]; }
  T* begin() { return p_; }
  T* end() { return p_ + n_; }
  const T* begin() const { return p_; }
  const T* end() const { return p_ + n_; }

  void push_back(const T& v) {
    if (n_ == cap_) setCapacity(cap_ ? cap_ * 2 : 64);
    p_[n_++] = v;
  }
  // Zero-filled array of n elements (for hash slots).
  void assignZeroed(size_t n) {
    std::free(p_);
    p_ = static_cast<T*>(std::calloc(n, sizeof(T)));
    if (!p_ && n) throw std::bad_alloc();
    n_ = cap_ = n;
    // Lookups land anywhere in a large table: large pages spare a TLB miss on top of the cache
    // miss, and far fewer page faults while it is filled.
    adviseLargePages(p_, n * sizeof(T));
  }
  void growZeroed(size_t n) {
    if (n <= n_) return;
    setCapacity(n);
    std::memset(static_cast<void*>(p_ + n_), 0, (n - n_) * sizeof(T));
    n_ = n;
  }

 private:
  void setCapacity(size_t cap) {
    void* q = std::realloc(p_, cap * sizeof(T));
    if (!q) throw std::bad_alloc();
    p_ = static_cast<T*>(q);
    cap_ = cap;
    // Large pages here too: a load writes hundreds of megabytes of fresh memory, and one fault
    // per 4 KiB page costs more than the parsing (seen on virtual machines).
    adviseLargePages(p_, cap * sizeof(T));
  }
  T* p_ = nullptr;
  size_t n_ = 0;
  size_t cap_ = 0;
};

// Per-process random seed: a database from a feed cannot be crafted to collide in our index.
uint64_t hashSeed() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return (uint64_t(rd()) << 32) ^ rd() ^ 0x9E3779B97F4A7C15ull;
  }();
  return seed;
}

void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// 64 × 64 → 128-bit product folded to 64 bits.
uint64_t mum(uint64_t a, uint64_t b) {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
}

// Secret words for the digest hash, derived from the per-process seed.
struct DigestSecrets {
  uint64_t s[6];
  DigestSecrets() {
    uint64_t x = hashSeed();
    for (auto& w : s) w = mix(x += 0x9E3779B97F4A7C15ull) | 1;
  }
};

// Seeded hash of a binary digest. Every lookup pays for it before its cache miss can start, so
// the words are folded in independent multiplications rather than one long chain.
template <size_t N>
uint64_t digestHash(const DigestSecrets& secrets, const uint8_t* key) {
  const uint64_t* s = secrets.s;
  uint64_t h = mum(load64(key) ^ s[0], load64(key + 8) ^ s[1]);
  if constexpr (N == 20) h ^= mum(load64(key + 12) ^ s[2], s[3]);
  if constexpr (N == 32) h ^= mum(load64(key + 16) ^ s[2], load64(key + 24) ^ s[3]);
  return mum(h ^ s[4], s[5]);
}

// Tables at least this large are faulted in by a second thread while the first sorts.
constexpr size_t kPrefaultFrom = size_t(2) << 20;

// Writes to every page of zeroed memory so that later writes find it mapped.
void touchPages(void* p, size_t bytes) {
  auto* c = static_cast<volatile char*>(p);
  for (size_t i = 0; i < bytes; i += 4096) c[i] = 0;
}

// Joins the thread, if it still runs, when the scope is left (also by an exception).
class JoinOnExit {
 public:
  explicit JoinOnExit(std::thread& t) : t_(t) {}
  JoinOnExit(const JoinOnExit&) = delete;
  JoinOnExit& operator=(const JoinOnExit&) = delete;
  ~JoinOnExit() {
    if (t_.joinable()) t_.join();
  }

 private:
  std::thread& t_;
};

// Runs `fn` on a new thread; an empty thread when none can be started, and the caller then does
// the work itself.
template <typename Fn>
std::thread tryStartThread(Fn&& fn) {
  try {
    return std::thread(std::forward<Fn>(fn));
  } catch (const std::system_error&) {
    return std::thread();
  }
}

template <size_t N>
struct Row {
  uint8_t key[N];
  uint32_t tag;  // record id + 1; 0 marks an empty slot
};

// Digests of one length, stored binary in the slots of an open-addressing table, so a lookup
// costs one cache miss. The table is built in bulk with entries ordered by their home slot
// (linear probing without wrap-around): a probe stops at an empty slot or at an entry whose home
// lies beyond the digest's, which keeps misses, the common case while scanning, short.
template <size_t N>
class KeyTable {
 public:
  size_t size() const { return size_; }

  Row<N>* find(const uint8_t* key) {
    return const_cast<Row<N>*>(static_cast<const KeyTable*>(this)->find(key));
  }
  const Row<N>* find(const uint8_t* key) const {
    if (size_ == 0) return nullptr;
    const uint64_t h = hashOf(key);
    // The table is touched only after the filter: a speculative read of its line for every miss
    // would push the filter out of the cache.
    if (!filterMayHold(h)) return nullptr;
    const uint64_t home = reduce(h);
    for (uint64_t p = home; p < slots_.size(); ++p) {
      const Row<N>& slot = slots_[p];
      if (slot.tag == 0) return nullptr;
      if (std::memcmp(slot.key, key, N) == 0) return &slot;
      if (homeOf(slot.key) > home) return nullptr;
    }
    return nullptr;
  }

  template <typename Fn>
  void forEach(Fn&& fn) const {
    for (const auto& slot : slots_)
      if (slot.tag != 0) fn(slot);
  }

  // Rows wait unindexed until build(); among waiting rows with the same digest the first wins.
  void append(const uint8_t* key, uint32_t rec) {
    Row<N> r;
    std::memcpy(r.key, key, N);
    r.tag = rec + 1;
    pending_.push_back(r);
  }

  // Takes another table's waiting rows to follow this one's, their record ids translated by
  // `recMap` (none: the same ids). They are kept apart rather than copied: copying means
  // touching as much fresh memory again.
  void appendPending(KeyTable& later, const std::vector<uint32_t>* recMap) {
    PodVector<Row<N>> rows = std::move(later.pending_);
    if (recMap)
      for (Row<N>& r : rows) r.tag = (*recMap)[r.tag - 1] + 1;
    if (later_.empty()) {
      later_ = std::move(rows);
    } else {
      for (const Row<N>& r : rows) later_.push_back(r);
    }
  }

  // Indexes the waiting rows together with the entries already in the table (which the caller
  // keeps distinct from the waiting ones).
  void build() {
    if (pending_.empty() && later_.empty()) return;
    PodVector<Row<N>> all = std::move(pending_);
    forEach([&](const Row<N>& r) { all.push_back(r); });
    const PodVector<Row<N>> later = std::move(later_);
    // Row i of the input: the waiting rows and the table's entries, then the later rows.
    const size_t split = all.size();
    auto rowAt = [&](size_t i) -> const Row<N>& {
      const Row<N>* base = i < split ? all.begin() : later.begin() - split;
      return base[i];
    };
    slots_ = PodVector<Row<N>>();
    size_ = 0;
    const size_t n = split + later.size();
    cap_ = n + n / 2 + 16;

    // Counting sort by home slot; stable, so the first of equal digests comes first. Every pass
    // touches memory at random; prefetching a few rows ahead overlaps those cache misses. Each
    // digest is hashed once, here, for its home and its filter bits (equal digests set the same
    // bits, so the filter may be sized before they are dropped).
    constexpr size_t kAhead = 16;
    filter_.assignZeroed(std::max<size_t>(1, n / 8));
    // The first write to each page of fresh memory costs as much as sorting (page faults are slow
    // on virtual machines): a large table is allocated and faulted in by another thread while
    // this one sorts.
    std::exception_ptr prefaultFailure;
    std::thread prefault;
    const size_t slotCount = cap_ + 64;
    if (slotCount * sizeof(Row<N>) >= kPrefaultFrom) {
      prefault = tryStartThread([this, slotCount, &prefaultFailure] {
        try {
          slots_.assignZeroed(slotCount);
          touchPages(slots_.begin(), slotCount * sizeof(Row<N>));
        } catch (...) {
          prefaultFailure = std::current_exception();
        }
      });
    }
    if (!prefault.joinable()) slots_.assignZeroed(slotCount);
    const JoinOnExit joinPrefault(prefault);
    PodVector<uint32_t> order, start;
    order.assignZeroed(n);
    start.assignZeroed(cap_ + 1);
    {
      PodVector<uint32_t> homes;
      homes.assignZeroed(n);
      for (size_t i = 0; i < n; ++i) {
        const uint64_t h = hashOf(rowAt(i).key);
        homes[i] = static_cast<uint32_t>(reduce(h));
        const uint64_t g = filterHash(h);
        filter_[filterWord(g)] |= filterBits(g);
      }
      for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) prefetch(&start[homes[i + kAhead] + 1]);
        ++start[homes[i] + 1];
      }
      for (size_t h = 1; h <= cap_; ++h) start[h] += start[h - 1];
      for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) prefetch(&start[homes[i + kAhead]]);
        order[start[homes[i]]++] = static_cast<uint32_t>(i);
      }
    }
    // start[h] is now where the rows of home h end: walking it alongside the sorted rows gives
    // each row's home without hashing it again.
    if (prefault.joinable()) prefault.join();
    if (prefaultFailure) std::rethrow_exception(prefaultFailure);
    uint64_t next = 0, groupHome = UINT64_MAX, groupStart = 0, home = 0;
    for (size_t j = 0; j < n; ++j) {
      if (j + kAhead < n) prefetch(&rowAt(order[j + kAhead]));
      const Row<N>& r = rowAt(order[j]);
      while (start[home] <= j) ++home;
      const uint64_t p = std::max(home, next);
      if (home != groupHome) groupHome = home, groupStart = p;
      bool repeat = false;
      for (uint64_t q = groupStart; q < p && !repeat; ++q) repeat = std::memcmp(slots_[q].key, r.key, N) == 0;
      if (repeat) continue;
      if (p >= slots_.size()) slots_.growZeroed(slots_.size() * 2);
      slots_[p] = r;
      next = p + 1;
      ++size_;
    }
  }

 private:
  uint64_t hashOf(const uint8_t* key) const { return digestHash<N>(secrets_, key); }
  // Range reduction by multiplication keeps the order of hashes, so homes sort like hashes.
  uint64_t reduce(uint64_t h) const { return ((h >> 32) * cap_) >> 32; }
  uint64_t homeOf(const uint8_t* key) const { return reduce(hashOf(key)); }

  // Most lookups while scanning are misses. A filter of one byte per digest (three bits in one
  // 64-bit word each) stays in the processor's cache and answers most of them without touching
  // the table, whose one cache miss costs several hundred nanoseconds.
  // The filter's bits come from the hash spread by one multiplication, not from the bits that
  // chose the home slot.
  static uint64_t filterHash(uint64_t h) { return h * 0x9E3779B97F4A7C15ull; }
  static uint64_t filterBits(uint64_t g) {
    return (1ull << (g & 63)) | (1ull << ((g >> 6) & 63)) | (1ull << ((g >> 12) & 63));
  }
  uint64_t filterWord(uint64_t g) const { return ((g >> 32) * filter_.size()) >> 32; }
  bool filterMayHold(uint64_t h) const {
    const uint64_t g = filterHash(h);
    const uint64_t bits = filterBits(g);
    return (filter_[filterWord(g)] & bits) == bits;
  }

  DigestSecrets secrets_;
  PodVector<Row<N>> pending_;
  PodVector<Row<N>> later_;  // waiting rows that follow pending_
  PodVector<Row<N>> slots_;
  PodVector<uint64_t> filter_;
  uint64_t cap_ = 0;  // number of home slots; the table has a little room beyond for overflow
  size_t size_ = 0;
};

// A detection record as texts; the views point into a pool or into the line being parsed.
struct Record {
  std::string_view extra, name, family, reference;
  ThreatLevel level = ThreatLevel::High;

  bool operator==(const Record&) const = default;
};

uint64_t hashBytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint64_t h = hashSeed() ^ (n * 0x9E3779B97F4A7C15ull);
  for (; n >= 8; p += 8, n -= 8) h = mix(h ^ load64(p));
  uint64_t tail = 0;
  if (n) std::memcpy(&tail, p, n);  // an empty view may have no data pointer at all
  return mix(h ^ tail);
}

// Open-addressing set of ids for the pools below. A slot holds (32-bit hash fingerprint << 32)
// | (id + 1), 0 when empty; the home slot comes from the fingerprint too, so growing needs no
// rehash and a probe reads the pooled text only when the fingerprints agree.
class IdIndex {
 public:
  template <typename Equal>
  std::pair<uint32_t, bool> findOrAdd(uint64_t h, uint32_t newId, Equal&& equal) {
    if ((count_ + 1) * 4 > slots_.size() * 3) grow();
    const auto fp = static_cast<uint32_t>(h >> 32);
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(fp);; i = (i + 1) & mask) {
      const uint64_t slot = slots_[i];
      if (slot == 0) {
        slots_[i] = (uint64_t(fp) << 32) | (uint64_t(newId) + 1);
        ++count_;
        return {newId, true};
      }
      const auto id = static_cast<uint32_t>(slot) - 1;
      if (static_cast<uint32_t>(slot >> 32) == fp && equal(id)) return {id, false};
    }
  }

 private:
  size_t home(uint32_t fp) const { return static_cast<size_t>((uint64_t(fp) * slots_.size()) >> 32); }
  void grow() {
    std::vector<uint64_t> old(std::max<size_t>(64, slots_.size() * 2), 0);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const uint64_t slot : old) {
      if (slot == 0) continue;
      size_t i = home(static_cast<uint32_t>(slot >> 32));
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = slot;
    }
  }
  std::vector<uint64_t> slots_;
  size_t count_ = 0;
};

// Every distinct text once, in one arena: a feed may give each of millions of digests a name
// of its own, and a heap string per name would cost several times the digest itself.
class StringPool {
 public:
  uint32_t intern(std::string_view s) {
    const auto id = static_cast<uint32_t>(spans_.size());
    const auto [found, added] =
        index_.findOrAdd(hashBytes(s.data(), s.size()), id, [&](uint32_t i) { return view(i) == s; });
    if (added) {
      spans_.push_back({chars_.size(), s.size()});
      chars_.append(s);
    }
    return found;
  }
  std::string_view view(uint32_t id) const { return {chars_.data() + spans_[id].first, spans_[id].second}; }

 private:
  std::string chars_;
  std::vector<std::pair<size_t, size_t>> spans_;
  IdIndex index_;
};

// Detection records repeat across millions of digests: each distinct record is stored once.
class RecordPool {
 public:
  uint32_t intern(const Record& r) {
    const Packed p{strings_.intern(r.extra), strings_.intern(r.name), strings_.intern(r.family),
                   strings_.intern(r.reference), static_cast<uint32_t>(r.level)};
    const auto id = static_cast<uint32_t>(records_.size());
    const auto [found, added] = index_.findOrAdd(
        hashBytes(&p, sizeof p), id, [&](uint32_t i) { return std::memcmp(&records_[i], &p, sizeof p) == 0; });
    if (added) records_.push_back(p);
    return found;
  }
  // The views stay valid until the next intern into this pool.
  Record operator[](uint32_t id) const {
    const Packed& p = records_[id];
    return {strings_.view(p.extra), strings_.view(p.name), strings_.view(p.family),
            strings_.view(p.reference), static_cast<ThreatLevel>(p.level)};
  }
  size_t size() const { return records_.size(); }

 private:
  struct Packed {
    uint32_t extra, name, family, reference, level;
  };
  std::vector<Packed> records_;
  StringPool strings_;
  IdIndex index_;
};

// 16 hex characters (either case) to 8 bytes with SSE2, which every x86-64 has. Returns a mask
// with a bit set for each character that is not a hex digit, so a whole digest is decoded
// without a branch per chunk.
int decodeHex16(const char* in, uint8_t* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // Unsigned x <= limit as min(x, limit) == x.
  auto atMost = [](__m128i x, char limit) { return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(limit)), x); };
  const __m128i digit = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i isDigit = atMost(digit, 9);
  const __m128i isLetter = atMost(letter, 5);
  const __m128i nibbles = _mm_or_si128(_mm_and_si128(isDigit, digit),
                                       _mm_andnot_si128(isDigit, _mm_add_epi8(letter, _mm_set1_epi8(10))));
  // Each 16-bit lane holds (high nibble, low nibble) as bytes (first, second).
  const __m128i hi = _mm_slli_epi16(_mm_and_si128(nibbles, _mm_set1_epi16(0x00FF)), 4);
  const __m128i lo = _mm_srli_epi16(nibbles, 8);
  const __m128i bytes = _mm_packus_epi16(_mm_or_si128(hi, lo), _mm_setzero_si128());
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
  return _mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) ^ 0xFFFF;
}

// Decodes a 32/40/64-character hex digest (either case) into bytes; false for anything else.
bool decodeDigest(std::string_view hex, uint8_t* out) {
  const char* in = hex.data();
  switch (hex.size()) {
    case 32:
      return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8)) == 0;
    case 40: {
      // The last chunk overlaps the second: bytes 12..19 from characters 24..39.
      return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8) | decodeHex16(in + 24, out + 12)) == 0;
    }
    case 64:
      return (decodeHex16(in, out) | decodeHex16(in + 16, out + 8) | decodeHex16(in + 32, out + 16) |
              decodeHex16(in + 48, out + 24)) == 0;
    default:
      return false;
  }
}

// Unsigned decimal after optional white space; stops at the first non-digit; saturates.
uint64_t parseDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  uint64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    const auto d = static_cast<uint64_t>(s[i] - '0');
    if (v > (UINT64_MAX - d) / 10) return UINT64_MAX;
    v = v * 10 + d;
  }
  return v;
}

bool shouldReplace(const Record& old, const Record& fresh) {
  return (!fresh.reference.empty() && old.reference.empty()) ||
         (!fresh.family.empty() && old.family.empty()) ||
         (old.name == kGenericSignatureName && fresh.name != kGenericSignatureName);
}

}  // namespace

struct Tables {
  KeyTable<16> md5;
  KeyTable<20> sha1;
  KeyTable<32> sha256;
  RecordPool records;

  size_t size() const { return md5.size() + sha1.size() + sha256.size(); }
};

struct SignatureDatabase::State {
  mutable std::mutex mutex;
  Tables tables;
  uint64_t count = 0;
  std::string version;
  uint64_t generated = 0;
  std::string source;
};

namespace {

// Turns lines into unindexed rows; finish() indexes them, keeping each digest's first line.
class Parser {
 public:
  Parser() : generic_(tables_.records.intern({"", kGenericSignatureName, kGenericSignatureName, "", ThreatLevel::High})) {}

  void line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return;
    if (line.starts_with("ZORVEKDB/") || line.starts_with("SIZE ")) return;
    if (line.starts_with("VERSION ")) {
      version_ = std::string(line.substr(8));
      sawVersion_ = true;
      return;
    }
    if (line.starts_with("GENERATED ")) {
      generated_ = parseDecimal(line.substr(10));
      sawGenerated_ = true;
      return;
    }
    entry(line);
  }

  // Takes over the lines `later` has read, which come after this parser's lines in the text.
  void append(Parser&& later) {
    std::vector<uint32_t> recMap(later.tables_.records.size());
    bool same = true;
    for (uint32_t id = 0; id < recMap.size(); ++id) {
      recMap[id] = tables_.records.intern(later.tables_.records[id]);
      same = same && recMap[id] == id;
    }
    const std::vector<uint32_t>* map = same ? nullptr : &recMap;
    tables_.md5.appendPending(later.tables_.md5, map);
    tables_.sha1.appendPending(later.tables_.sha1, map);
    tables_.sha256.appendPending(later.tables_.sha256, map);
    if (later.sawVersion_) version_ = std::move(later.version_), sawVersion_ = true;
    if (later.sawGenerated_) generated_ = later.generated_, sawGenerated_ = true;
  }

  Tables finish() {
    tables_.md5.build();
    tables_.sha1.build();
    tables_.sha256.build();
    return std::move(tables_);
  }
  const std::string& version() const { return version_; }
  uint64_t generated() const { return generated_; }

 private:
  void entry(std::string_view line) {
    const size_t colon = line.find(':');
    const std::string_view digest = line.substr(0, colon);
    uint8_t key[32];
    if (!decodeDigest(digest, key)) return;
    const std::string_view rest = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);

    // Fields after the digest; a separator at the very end adds no field. Field 6 onward is kept
    // whole as `tail`: the reference is free text and may itself hold ":" (links do).
    std::string_view f[4];
    size_t pieces = 0;
    std::string_view tail;
    size_t pos = 0;
    bool more = !rest.empty();
    while (more && pieces < 4) {
      const size_t c = rest.find(':', pos);
      if (c == std::string_view::npos) {
        f[pieces++] = rest.substr(pos);
        more = false;
      } else {
        f[pieces++] = rest.substr(pos, c - pos);
        pos = c + 1;
        more = pos < rest.size();
      }
    }
    if (more) {
      tail = rest.substr(pos);
      if (tail.back() == ':') tail.remove_suffix(1);
    }

    uint32_t rec;
    if (pieces == 0) {
      rec = generic_;
    } else if (!more || digest.size() == 32) {
      Record r;
      r.name = f[0];
      r.family = pieces >= 2 && f[1] != "SIGNATURE" ? f[1] : f[0];
      rec = intern(r);
    } else {
      Record r;
      r.extra = f[0];
      r.family = f[1];
      r.level = parseThreatLevel(f[2]);
      r.name = f[3];
      r.reference = tail;
      rec = intern(r);
    }
    switch (digest.size()) {
      case 32: tables_.md5.append(key, rec); break;
      case 40: tables_.sha1.append(key, rec); break;
      default: tables_.sha256.append(key, rec); break;
    }
  }

  // Consecutive lines usually carry the same texts: skip the pool's index for them.
  uint32_t intern(const Record& r) {
    if (haveLast_ && tables_.records[lastId_] == r) return lastId_;
    lastId_ = tables_.records.intern(r);
    haveLast_ = true;
    return lastId_;
  }

  Tables tables_;
  uint32_t generic_;
  uint32_t lastId_ = 0;
  bool haveLast_ = false;
  std::string version_;
  uint64_t generated_ = 0;
  bool sawVersion_ = false;
  bool sawGenerated_ = false;
};

template <size_t N>
void mergeTable(KeyTable<N>& into, RecordPool& intoRecords, const KeyTable<N>& from,
                const RecordPool& fromRecords, std::vector<uint32_t>& recMap) {
  auto translate = [&](uint32_t id) {
    if (recMap[id] == UINT32_MAX) recMap[id] = intoRecords.intern(fromRecords[id]);
    return recMap[id];
  };
  from.forEach([&](const Row<N>& row) {
    const uint32_t rec = row.tag - 1;
    if (Row<N>* old = into.find(row.key)) {
      if (shouldReplace(intoRecords[old->tag - 1], fromRecords[rec])) old->tag = translate(rec) + 1;
    } else {
      into.append(row.key, translate(rec));
    }
  });
  into.build();
}

void mergeInto(SignatureDatabase::State& st, Parser& parser, const std::string& source) {
  Tables parsed = parser.finish();
  std::lock_guard<std::mutex> lock(st.mutex);
  if (st.tables.size() == 0) {
    st.tables = std::move(parsed);
  } else {
    std::vector<uint32_t> recMap(parsed.records.size(), UINT32_MAX);
    mergeTable(st.tables.md5, st.tables.records, parsed.md5, parsed.records, recMap);
    mergeTable(st.tables.sha1, st.tables.records, parsed.sha1, parsed.records, recMap);
    mergeTable(st.tables.sha256, st.tables.records, parsed.sha256, parsed.records, recMap);
  }
  st.count = st.tables.size();
  if (!parser.version().empty()) st.version = parser.version();
  if (parser.generated() != 0) st.generated = parser.generated();
  if (!source.empty()) st.source = source;
}

void fillMatch(SignatureMatch* match, const Record r, const uint8_t* key, size_t n) {
  if (!match) return;
  match->name = r.name;
  match->family = r.family;
  match->level = r.level;
  match->reference = r.reference;
  match->hash.clear();
  appendHex(match->hash, key, n);
}

template <size_t N>
bool findIn(const KeyTable<N>& table, const RecordPool& records, const uint8_t* key,
            SignatureMatch* match) {
  const Row<N>* row = table.find(key);
  if (!row) return false;
  fillMatch(match, records[row->tag - 1], key, N);
  return true;
}

}  // namespace

SignatureDatabase::SignatureDatabase() : state_(std::make_shared<State>()) {}

namespace {

constexpr size_t kChunk = 1 << 20;

// Feeds the lines of bytes [from, to) of the file to the parser, `to` < 0 meaning the end of the
// file; `from` starts a line. Streamed in chunks: the lines are the same as in the whole text
// without holding it all. The buffer grows only for a line longer than a chunk.
void parseRange(InputFile& file, long long from, long long to, Parser& parser) {
  size_t capacity = 2 * kChunk;
  std::unique_ptr<char[]> buf(new char[capacity]);
  size_t filled = 0;  // bytes in buf, the first of them the start of a line
  long long pos = from;
  for (;;) {
    if (capacity - filled < kChunk) {
      capacity *= 2;
      std::unique_ptr<char[]> bigger(new char[capacity]);
      std::memcpy(bigger.get(), buf.get(), filled);
      buf = std::move(bigger);
    }
    size_t want = kChunk;
    if (to >= 0) want = static_cast<size_t>(std::min<long long>(static_cast<long long>(want), to - pos));
    const long long got = want == 0 ? 0 : file.readAt(buf.get() + filled, want, pos);
    if (got <= 0) break;
    pos += got;
    filled += static_cast<size_t>(got);
    const char* base = buf.get();
    size_t start = 0;
    for (;;) {
      const void* nl = std::memchr(base + start, '\n', filled - start);
      if (!nl) break;
      const size_t end = static_cast<size_t>(static_cast<const char*>(nl) - base);
      parser.line(std::string_view(base + start, end - start));
      start = end + 1;
    }
    filled -= start;
    std::memmove(buf.get(), base + start, filled);
  }
  if (filled > 0) parser.line(std::string_view(buf.get(), filled));
}

// Where the first line that starts after `offset` begins, or -1 when none does.
long long nextLineStart(InputFile& file, long long offset) {
  char buf[4096];
  for (long long pos = offset;;) {
    const long long got = file.readAt(buf, sizeof buf, pos);
    if (got <= 0) return -1;
    if (const void* nl = std::memchr(buf, '\n', static_cast<size_t>(got)))
      return pos + (static_cast<const char*>(nl) - buf) + 1;
    pos += got;
  }
}

}  // namespace

bool SignatureDatabase::load(const std::wstring& path, std::string* error) {
  InputFile file;
  if (!file.open(path, InputFile::Share::ReadWrite)) {
    if (error) *error = "cannot open: " + toUtf8(path);
    return false;
  }
  // A large file is read by two threads, each parsing its own half of the lines; the second
  // half's rows then follow the first's, so the result is the same as reading it in one go.
  constexpr long long kTwoThreadsFrom = 4 << 20;
  const long long size = file.size();
  const long long split = size >= kTwoThreadsFrom ? nextLineStart(file, size / 2) : -1;
  Parser parser;
  Parser later;
  std::exception_ptr failure;
  std::thread worker;
  if (split > 0) {
    worker = tryStartThread([&] {
      try {
        parseRange(file, split, -1, later);
      } catch (...) {
        failure = std::current_exception();
      }
    });
  }
  if (worker.joinable()) {
    {
      const JoinOnExit join(worker);
      parseRange(file, 0, split, parser);
    }
    if (failure) std::rethrow_exception(failure);
    parser.append(std::move(later));
  } else {
    parseRange(file, 0, -1, parser);
  }
  mergeInto(*state_, parser, toUtf8(path));
  return true;
}

bool SignatureDatabase::parse(std::string_view text, const std::string& source) {
  Parser parser;
  forEachLine(text, [&](std::string_view line) { parser.line(line); });
  mergeInto(*state_, parser, source);
  return true;
}

bool SignatureDatabase::lookup(const std::string& md5, const std::string& sha1,
                               const std::string& sha256, SignatureMatch* match) const {
  if (match) match->clear();
  // Decoded before taking the lock: that work then overlaps whatever came before.
  struct Key {
    uint8_t bytes[32];
    size_t size = 0;
  } keys[3];
  size_t count = 0;
  for (const std::string* digest : {&sha256, &sha1, &md5})
    if (!digest->empty() && decodeDigest(*digest, keys[count].bytes)) keys[count++].size = digest->size();
  if (count == 0) return false;

  std::lock_guard<std::mutex> lock(state_->mutex);
  const Tables& t = state_->tables;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* key = keys[i].bytes;
    const bool found = keys[i].size == 32   ? findIn(t.md5, t.records, key, match)
                       : keys[i].size == 40 ? findIn(t.sha1, t.records, key, match)
                                            : findIn(t.sha256, t.records, key, match);
    if (found) return true;
  }
  return false;
}

SignatureDbInfo SignatureDatabase::info() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return {state_->count, state_->version, state_->generated, state_->source};
}

std::string SignatureDatabase::serialize() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const State& st = *state_;
  std::string out = "# Zorvek Antivirus signature database\nZORVEKDB/1\n";
  out += "VERSION " + (st.version.empty() ? std::string("0") : st.version) + "\n";
  out += "GENERATED " + std::to_string(st.generated) + "\n";
  out += "SIZE " + std::to_string(st.count) + "\n";

  struct Item {
    const uint8_t* key;
    uint32_t len;
    uint32_t rec;
  };
  std::vector<Item> items;
  items.reserve(st.tables.size());
  st.tables.md5.forEach([&](const auto& r) { items.push_back({r.key, 16, r.tag - 1}); });
  st.tables.sha1.forEach([&](const auto& r) { items.push_back({r.key, 20, r.tag - 1}); });
  st.tables.sha256.forEach([&](const auto& r) { items.push_back({r.key, 32, r.tag - 1}); });
  // Byte order of the binary digests is the order of their hex text, a shorter prefix first.
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    const int c = std::memcmp(a.key, b.key, std::min(a.len, b.len));
    return c != 0 ? c < 0 : a.len < b.len;
  });
  for (const Item& it : items) {
    const Record r = st.tables.records[it.rec];
    appendHex(out, it.key, it.len);
    out += ':';
    out += r.name;
    out += ':';
    out += r.family.empty() ? r.name : r.family;
    out += '\n';
  }
  return out;
}

std::shared_ptr<SignatureDatabase> assembleServiceDatabase(const std::wstring& mainPath,
                                                           const std::wstring& livePath,
                                                           std::wstring* error) {
  auto db = std::make_shared<SignatureDatabase>();
  std::string mainError, liveError;
  const bool mainLoaded = db->load(mainPath, &mainError);
  if (!livePath.empty() && pathExists(livePath)) db->load(livePath, &liveError);
  if (db->info().count > 0) {
    if (error) error->clear();
    return db;
  }
  if (error) {
    std::string text = mainLoaded ? liveError : mainError;
    if (text.empty()) text = "database is empty";
    *error = toWide(text);
  }
  return nullptr;
}

}  // namespace zorvek
