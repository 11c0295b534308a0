// Verdict rules and the scan filter over hostile names and bytes: the first line is the path
// (UTF-8, as file names arrive from disks and archives), the rest the file's first bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/Text.h"
#include "service/FileScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t nl = all.find('\n');
  const std::wstring path = zorvek::toWide(all.substr(0, nl));
  const std::string_view bytes = nl == std::string_view::npos ? "" : all.substr(nl + 1);

  static const zorvek::FileScanner scanner(nullptr);
  (void)scanner.shouldScan(path);
  (void)zorvek::isExcludedFolder(path);

  const zorvek::PeAnalysis pe = zorvek::analyzePe(
      {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, bytes.size(), 1'700'000'000);
  zorvek::SignatureMatch match;
  match.level = static_cast<zorvek::ThreatLevel>(bytes.empty() ? 0 : bytes[0] % 5);
  const bool inDatabase = !bytes.empty() && (bytes[0] & 0x80) != 0;
  const zorvek::FileVerdict v =
      zorvek::buildVerdict(path, bytes.size(), 0, "", "", "", pe, inDatabase, match);

  // Invariants: the level is the top finding level (clean without findings), a level of medium
  // or more always carries a reason, and the name is the tail of the path.
  uint32_t top = 0;
  for (const auto& f : v.findings) top = std::max(top, static_cast<uint32_t>(f.level));
  if (v.findings.empty() && v.level != zorvek::ThreatLevel::Clean) std::abort();
  if (!v.findings.empty() && static_cast<uint32_t>(v.level) != top) std::abort();
  if (static_cast<uint32_t>(v.level) >= 2 && v.reasons.empty()) std::abort();
  if (path.size() < v.fileName.size() ||
      path.compare(path.size() - v.fileName.size(), std::wstring::npos, v.fileName) != 0)
    std::abort();
  return 0;
}
