#pragma once
// Detection records of the signature database, each distinct one stored once: a feed may give
// millions of digests the same texts, or each a name of its own.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ThreatLevel.h"

namespace zorvek::sigdb {

// A detection record as texts; the views point into a pool or into the line being parsed.
struct Record {
  std::string_view extra, name, family, reference;
  ThreatLevel level = ThreatLevel::High;

  bool operator==(const Record&) const = default;
};

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
  size_t home(uint32_t fp) const {
    return static_cast<size_t>((uint64_t(fp) * slots_.size()) >> 32);
  }
  void grow();

  std::vector<uint64_t> slots_;
  size_t count_ = 0;
};

// Every distinct text once, in one arena: a heap string per name would cost several times the
// digest itself.
class StringPool {
 public:
  uint32_t intern(std::string_view s);
  std::string_view view(uint32_t id) const {
    return {chars_.data() + spans_[id].first, spans_[id].second};
  }

 private:
  std::string chars_;
  std::vector<std::pair<size_t, size_t>> spans_;
  IdIndex index_;
};

class RecordPool {
 public:
  uint32_t intern(const Record& r);
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

}  // namespace zorvek::sigdb
