#pragma once
// Digests of one length, indexed for lookups that cost one cache miss.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <thread>

#include "common/Intrinsics.h"
#include "common/PodVector.h"
#include "common/SeededHash.h"
#include "common/Threads.h"

namespace zorvek::sigdb {

// Tables at least this large are faulted in by a second thread while the first sorts.
inline constexpr size_t kPrefaultFrom = size_t(2) << 20;

// Writes to every page of zeroed memory so that later writes find it mapped.
inline void touchPages(void* p, size_t bytes) {
  auto* c = static_cast<volatile char*>(p);
  for (size_t i = 0; i < bytes; i += 4096) c[i] = 0;
}

template <size_t N>
struct DigestRow {
  uint8_t key[N];
  uint32_t tag;  // record id + 1; 0 marks an empty slot
};

// Digests of one length, stored binary in the slots of an open-addressing table, so a lookup
// costs one cache miss. The table is built in bulk with entries ordered by their home slot
// (linear probing without wrap-around): a probe stops at an empty slot or at an entry whose home
// lies beyond the digest's, which keeps misses, the common case while scanning, short.
template <size_t N>
class DigestTable {
 public:
  size_t size() const { return size_; }

  DigestRow<N>* find(const uint8_t* key) {
    return const_cast<DigestRow<N>*>(static_cast<const DigestTable*>(this)->find(key));
  }
  const DigestRow<N>* find(const uint8_t* key) const {
    if (size_ == 0) return nullptr;
    const uint64_t h = hashOf(key);
    // The table is touched only after the filter: a speculative read of its line for every miss
    // would push the filter out of the cache.
    if (!filterMayHold(h)) return nullptr;
    const uint64_t home = reduce(h);
    for (uint64_t p = home; p < slots_.size(); ++p) {
      const DigestRow<N>& slot = slots_[p];
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
    DigestRow<N> r;
    std::memcpy(r.key, key, N);
    r.tag = rec + 1;
    pending_.push_back(r);
  }

  // Puts a digest the built table does not hold into its place at once, shifting the rows between
  // there and the next empty slot by one: adding a few digests to a large table costs a few
  // moves instead of a rebuild. False when no empty slot follows before the end (the caller then
  // appends and rebuilds).
  bool insertBuilt(const uint8_t* key, uint32_t rec) {
    if (slots_.size() == 0) return false;
    const uint64_t h = hashOf(key);
    const uint64_t home = reduce(h);
    // After every row of an earlier or the same home: the order by home is what find relies on.
    uint64_t at = home;
    while (at < slots_.size() && slots_[at].tag != 0 && homeOf(slots_[at].key) <= home) ++at;
    uint64_t gap = at;
    while (gap < slots_.size() && slots_[gap].tag != 0) ++gap;
    if (gap >= slots_.size()) return false;
    std::memmove(&slots_[at + 1], &slots_[at], static_cast<size_t>(gap - at) * sizeof(DigestRow<N>));
    std::memcpy(slots_[at].key, key, N);
    slots_[at].tag = rec + 1;
    const uint64_t g = filterHash(h);
    filter_[filterWord(g)] |= filterBits(g);
    ++size_;
    return true;
  }

  // Takes another table's waiting rows to follow this one's, their record ids translated by
  // `recMap` (none: the same ids). They are kept apart rather than copied: copying means
  // touching as much fresh memory again.
  void appendPending(DigestTable& later, const std::vector<uint32_t>* recMap) {
    PodVector<DigestRow<N>> rows = std::move(later.pending_);
    if (recMap)
      for (DigestRow<N>& r : rows) r.tag = (*recMap)[r.tag - 1] + 1;
    if (later_.empty()) {
      later_ = std::move(rows);
    } else {
      for (const DigestRow<N>& r : rows) later_.push_back(r);
    }
  }

  // Indexes the waiting rows together with the entries already in the table (which the caller
  // keeps distinct from the waiting ones).
  void build() {
    if (pending_.empty() && later_.empty()) return;
    PodVector<DigestRow<N>> all = std::move(pending_);
    forEach([&](const DigestRow<N>& r) { all.push_back(r); });
    const PodVector<DigestRow<N>> later = std::move(later_);
    // Row i of the input: the waiting rows and the table's entries, then the later rows.
    const size_t split = all.size();
    auto rowAt = [&](size_t i) -> const DigestRow<N>& {
      const DigestRow<N>* base = i < split ? all.begin() : later.begin() - split;
      return base[i];
    };
    slots_ = PodVector<DigestRow<N>>();
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
    if (slotCount * sizeof(DigestRow<N>) >= kPrefaultFrom) {
      prefault = tryStartThread([this, slotCount, &prefaultFailure] {
        try {
          slots_.assignZeroed(slotCount);
          touchPages(slots_.begin(), slotCount * sizeof(DigestRow<N>));
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
        if (i + kAhead < n) prefetchRead(&start[homes[i + kAhead] + 1]);
        ++start[homes[i] + 1];
      }
      for (size_t h = 1; h <= cap_; ++h) start[h] += start[h - 1];
      for (size_t i = 0; i < n; ++i) {
        if (i + kAhead < n) prefetchRead(&start[homes[i + kAhead]]);
        order[start[homes[i]]++] = static_cast<uint32_t>(i);
      }
    }
    // start[h] is now where the rows of home h end: walking it alongside the sorted rows gives
    // each row's home without hashing it again.
    if (prefault.joinable()) prefault.join();
    if (prefaultFailure) std::rethrow_exception(prefaultFailure);
    uint64_t next = 0, groupHome = UINT64_MAX, groupStart = 0, home = 0;
    for (size_t j = 0; j < n; ++j) {
      if (j + kAhead < n) prefetchRead(&rowAt(order[j + kAhead]));
      const DigestRow<N>& r = rowAt(order[j]);
      while (start[home] <= j) ++home;
      const uint64_t p = std::max(home, next);
      if (home != groupHome) groupHome = home, groupStart = p;
      bool repeat = false;
      for (uint64_t q = groupStart; q < p && !repeat; ++q)
        repeat = std::memcmp(slots_[q].key, r.key, N) == 0;
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
  PodVector<DigestRow<N>> pending_;
  PodVector<DigestRow<N>> later_;  // waiting rows that follow pending_
  PodVector<DigestRow<N>> slots_;
  PodVector<uint64_t> filter_;
  uint64_t cap_ = 0;  // number of home slots; the table has a little room beyond for overflow
  size_t size_ = 0;
};

}  // namespace zorvek::sigdb
