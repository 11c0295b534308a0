// PE analysis over arbitrary bytes. The first 8 bytes of the input choose the claimed file size
// (it may be smaller or larger than the data) so overlay arithmetic is exercised too.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "service/PeAnalysis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t fileSize = size;
  if (size >= 8) {
    std::memcpy(&fileSize, data, 8);
    data += 8;
    size -= 8;
  }
  const zorvek::PeAnalysis pe = zorvek::analyzePe({data, size}, fileSize, 1'700'000'000);
  // Invariants every result must keep.
  if (!pe.isPe && (!pe.findings.empty() || !pe.sections.empty())) __builtin_trap();
  if (pe.importCount != pe.imports.size() || pe.sectionCount != pe.sections.size()) __builtin_trap();
  if (pe.imports.size() > zorvek::kMaxImports + 1) __builtin_trap();
  if (pe.entropy < 0.0 || pe.entropy > 8.0 || pe.maxSectionEntropy > 8.0) __builtin_trap();
  for (const auto& imp : pe.imports)
    if (imp.size() > 2 * zorvek::kMaxImportNameBytes + 1) __builtin_trap();
  return 0;
}
