#pragma once
// scan.cache: what the last scans saw of each file (size, last-write time, level). Nothing in
// the service decides from it; it is kept for diagnosis and for later incremental scans.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ThreatLevel.h"

namespace zorvek::svc {

struct ScanCacheEntry {
  std::wstring path;
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME
  ThreatLevel level = ThreatLevel::Clean;

  bool operator==(const ScanCacheEntry&) const = default;
};

// Not locked: the engine touches it only from the scan thread (and from init, before any).
class ScanCache {
 public:
  // An existing entry (exact, case-sensitive path) takes the new size and time and keeps its
  // level; a new one is appended as clean.
  void record(const std::wstring& path, uint64_t size, uint64_t modified);

  const std::vector<ScanCacheEntry>& entries() const { return entries_; }
  void clear();

  // Replaces the entries with those of the text. Lines with fewer than three "|" are skipped.
  void parse(std::string_view text);
  // "path|size|time|level\n" per entry.
  std::string serialize() const;

  // A missing or unreadable file leaves the cache empty; true when the file was read.
  bool load(const std::wstring& path, std::string* error = nullptr);
  // Rewrites the whole file through a temporary, so a crash mid-write keeps the old one.
  bool save(const std::wstring& path, std::string* error = nullptr) const;

 private:
  std::vector<ScanCacheEntry> entries_;
  std::unordered_map<std::wstring, size_t> index_;  // path -> position in entries_
};

}  // namespace zorvek::svc
