#include "PeBuilder.h"

#include <algorithm>

namespace zorvek::test {

void putLe(std::string& s, size_t off, uint64_t v, int bytes) {
  if (s.size() < off + static_cast<size_t>(bytes)) s.resize(off + static_cast<size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) s[off + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::string PeBuilder::importData(uint32_t va, uint32_t* directorySize) const {
  const size_t es = pe64_ ? 8 : 4;
  std::string d;
  const size_t descriptors = (imports_.size() + 1) * 20;
  *directorySize = static_cast<uint32_t>(descriptors);
  d.resize(descriptors, '\0');
  for (size_t i = 0; i < imports_.size(); ++i) {
    const Imp& imp = imports_[i];
    const size_t tableBytes = (imp.functions.size() + 1) * es;
    const size_t lookup = d.size();
    d.resize(d.size() + tableBytes, '\0');
    const size_t address = d.size();
    d.resize(d.size() + tableBytes, '\0');
    const size_t name = d.size();
    d += imp.dll;
    d += '\0';
    for (size_t j = 0; j < imp.functions.size(); ++j) {
      const std::string& fn = imp.functions[j];
      uint64_t entry;
      if (!fn.empty() && fn[0] == '#') {
        entry = std::stoul(fn.substr(1)) | (pe64_ ? uint64_t{1} << 63 : uint64_t{1} << 31);
      } else {
        if (d.size() % 2) d += '\0';
        entry = va + d.size();
        putLe(d, d.size(), 7, 2);  // hint
        d += fn;
        d += '\0';
      }
      if (imp.lookupTable) putLe(d, lookup + j * es, entry, static_cast<int>(es));
      putLe(d, address + j * es, entry, static_cast<int>(es));
    }
    putLe(d, i * 20, imp.lookupTable ? va + lookup : 0, 4);
    putLe(d, i * 20 + 12, va + name, 4);
    putLe(d, i * 20 + 16, va + address, 4);
  }
  return d;
}

std::string PeBuilder::build() const {
  std::vector<Sec> secs = sections_;
  std::vector<Dir> dirs = directories_;
  // The import section goes last; its VA follows the others.
  uint32_t va = 0x1000;
  for (const auto& s : secs) {
    const uint32_t span = std::max<uint32_t>(s.virtualSize, static_cast<uint32_t>(s.data.size()));
    va += (std::max<uint32_t>(span, 1) + 0xFFF) & ~0xFFFu;
  }
  if (!imports_.empty()) {
    uint32_t size = 0;
    secs.push_back({importSection_, kData, importData(va, &size), 0});
    dirs.push_back({1, va, size});
  }

  std::string f(kPeOffset, '\0');
  f[0] = 'M';
  f[1] = 'Z';
  putLe(f, 0x3C, kPeOffset, 4);
  f += std::string("PE\0\0", 4);
  const size_t fh = kPeOffset + 4;
  putLe(f, fh, machine_, 2);
  putLe(f, fh + 2, secs.size(), 2);
  putLe(f, fh + 4, timeStamp_, 4);
  putLe(f, fh + 16, pe64_ ? 240 : 224, 2);
  putLe(f, fh + 18, characteristics_, 2);
  const size_t opt = fh + 20;
  putLe(f, opt, pe64_ ? 0x20B : 0x10B, 2);
  putLe(f, opt + 32, 0x1000, 4);  // section alignment
  putLe(f, opt + 36, 0x200, 4);   // file alignment
  const size_t dirsAt = opt + (pe64_ ? 112 : 96);
  putLe(f, dirsAt - 4, 16, 4);
  for (const auto& d : dirs) {
    putLe(f, dirsAt + 8 * static_cast<size_t>(d.index), d.rva, 4);
    putLe(f, dirsAt + 8 * static_cast<size_t>(d.index) + 4, d.size, 4);
  }
  const size_t table = dirsAt + 128;
  f.resize(table + 40 * secs.size(), '\0');

  va = 0x1000;
  for (size_t i = 0; i < secs.size(); ++i) {
    const Sec& s = secs[i];
    f.resize((f.size() + 0x1FF) & ~size_t{0x1FF}, '\0');
    const size_t h = table + 40 * i;
    for (size_t k = 0; k < 8 && k < s.name.size(); ++k) f[h + k] = s.name[k];
    const uint32_t raw = static_cast<uint32_t>(s.data.size());
    const uint32_t vsize = s.virtualSize ? s.virtualSize : raw;
    putLe(f, h + 8, vsize, 4);
    putLe(f, h + 12, va, 4);
    putLe(f, h + 16, raw, 4);
    putLe(f, h + 20, raw ? f.size() : 0, 4);
    putLe(f, h + 36, s.flags, 4);
    f += s.data;
    va += (std::max<uint32_t>(std::max(vsize, raw), 1) + 0xFFF) & ~0xFFFu;
  }
  return f + overlay_;
}

}  // namespace zorvek::test
