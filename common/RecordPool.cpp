#include "common/RecordPool.h"

#include <algorithm>
#include <cstring>

#include "common/SeededHash.h"

namespace zorvek::sigdb {

void IdIndex::grow() {
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

uint32_t StringPool::intern(std::string_view s) {
  const auto id = static_cast<uint32_t>(spans_.size());
  const auto [found, added] =
      index_.findOrAdd(hashBytes(s.data(), s.size()), id, [&](uint32_t i) { return view(i) == s; });
  if (added) {
    spans_.push_back({chars_.size(), s.size()});
    chars_.append(s);
  }
  return found;
}

uint32_t RecordPool::intern(const Record& r) {
  const Packed p{strings_.intern(r.extra), strings_.intern(r.name), strings_.intern(r.family),
                 strings_.intern(r.reference), static_cast<uint32_t>(r.level)};
  const auto id = static_cast<uint32_t>(records_.size());
  const auto [found, added] = index_.findOrAdd(hashBytes(&p, sizeof p), id, [&](uint32_t i) {
    return std::memcmp(&records_[i], &p, sizeof p) == 0;
  });
  if (added) records_.push_back(p);
  return found;
}

}  // namespace zorvek::sigdb
