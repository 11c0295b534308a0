#pragma once
// Facts and heuristic findings from the first bytes of a Windows PE image. The input is hostile:
// every read is bounds-checked, and the work stays linear in the bytes given.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/Finding.h"

namespace zorvek {

struct PeSection {
  std::string name;  // the 8-byte header name up to its first NUL, bytes as they are
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;
  double entropy = 0.0;  // of the raw data inside the analysed bytes
  bool executable = false;
  bool writable = false;
};

struct PeAnalysis {
  bool isPe = false;
  bool isDll = false;
  bool hasOverlay = false;
  bool rwxLowEntropy = false;
  bool hasImportDirectory = false;
  bool hasResourceDirectory = false;
  bool hasRelocDirectory = false;
  bool hasDebugDirectory = false;
  bool hasTlsDirectory = false;
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint32_t timeDateStamp = 0;
  double entropy = 0.0;
  double maxSectionEntropy = 0.0;
  uint64_t overlaySize = 0;
  std::vector<PeSection> sections;
  std::vector<std::string> imports;  // "dll!function"
  uint32_t sectionCount = 0;
  uint32_t importCount = 0;
  std::vector<Finding> findings;
};

// What the file evaluation reads of a file at most.
inline constexpr uint64_t kPeReadLimit = 64ull << 20;
// Import reading caps.
inline constexpr uint32_t kMaxImportDescriptors = 256;
inline constexpr uint32_t kMaxImportsPerDll = 512;
inline constexpr size_t kMaxImports = 2000;
inline constexpr size_t kMaxImportNameBytes = 127;

// `data` is the beginning of a file of `fileSize` bytes; `now` is the current time in seconds
// since 1970 (UTC), for the time-stamp rule. A buffer that is not a PE image gives the empty result.
PeAnalysis analyzePe(std::span<const uint8_t> data, uint64_t fileSize, int64_t now);
// Reads min(readLimit, size) bytes of the file and analyses them with the true size. A file that
// cannot be sized, opened or read gives the empty result.
PeAnalysis analyzePeFile(const std::wstring& path, uint64_t readLimit, int64_t now);

// The packer named by the first section whose name is a known packer section name (ASCII case
// ignored); "" when none is.
std::string packerOf(const std::vector<PeSection>& sections);

// The seven rules over the facts of `pe`, appended to pe.findings in rule order.
void addPeFindings(PeAnalysis& pe, int64_t now);

}  // namespace zorvek
