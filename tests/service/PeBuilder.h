#pragma once
// Builds PE32 / PE32+ images in memory for tests: sections with chosen names, flags and contents,
// an import section with hint/name and ordinal entries, data directories and an overlay.
// Raw data of each section is exactly its contents (file-aligned start, no tail padding), so
// section entropies and overlay sizes are what the test chose.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvek::test {

inline constexpr uint32_t kCode = 0x60000020;   // code, execute, read
inline constexpr uint32_t kData = 0x40000040;   // initialised data, read
inline constexpr uint32_t kRwx = 0xE0000020;    // code, execute, read, write

class PeBuilder {
 public:
  static constexpr uint32_t kPeOffset = 0x80;

  PeBuilder& pe64(bool on = true) { pe64_ = on; return *this; }
  PeBuilder& machine(uint16_t m) { machine_ = m; return *this; }
  PeBuilder& characteristics(uint16_t c) { characteristics_ = c; return *this; }
  PeBuilder& timeStamp(uint32_t t) { timeStamp_ = t; return *this; }
  PeBuilder& section(std::string name, uint32_t flags, std::string data, uint32_t virtualSize = 0) {
    sections_.push_back({std::move(name), flags, std::move(data), virtualSize});
    return *this;
  }
  // Functions named "#n" are imported by ordinal n. Without a lookup table only the address
  // table is written (as some linkers do).
  PeBuilder& import(std::string dll, std::vector<std::string> functions, bool lookupTable = true) {
    imports_.push_back({std::move(dll), std::move(functions), lookupTable});
    return *this;
  }
  PeBuilder& directory(int index, uint32_t rva, uint32_t size) {
    directories_.push_back({index, rva, size});
    return *this;
  }
  PeBuilder& overlay(std::string bytes) { overlay_ = std::move(bytes); return *this; }
  PeBuilder& importSectionName(std::string name) { importSection_ = std::move(name); return *this; }

  uint32_t optionalHeaderOffset() const { return kPeOffset + 24; }
  uint32_t sectionTableOffset() const { return optionalHeaderOffset() + (pe64_ ? 240 : 224); }

  std::string build() const;

 private:
  struct Sec {
    std::string name;
    uint32_t flags;
    std::string data;
    uint32_t virtualSize;
  };
  struct Imp {
    std::string dll;
    std::vector<std::string> functions;
    bool lookupTable;
  };
  struct Dir {
    int index;
    uint32_t rva, size;
  };
  std::string importData(uint32_t va, uint32_t* directorySize) const;

  bool pe64_ = false;
  uint16_t machine_ = 0x14c;
  uint16_t characteristics_ = 0x0102;
  uint32_t timeStamp_ = 0x5f000000;
  std::vector<Sec> sections_;
  std::vector<Imp> imports_;
  std::vector<Dir> directories_;
  std::string overlay_;
  std::string importSection_ = ".idata";
};

// Little-endian stores into a byte string, growing it as needed.
void putLe(std::string& s, size_t off, uint64_t v, int bytes);

}  // namespace zorvek::test
