#include "service/ScanCache.h"

#include <cstdlib>

#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek::svc {

void ScanCache::record(const std::wstring& path, uint64_t size, uint64_t modified) {
  const auto it = index_.find(path);
  if (it != index_.end()) {
    entries_[it->second].size = size;
    entries_[it->second].modified = modified;
    return;
  }
  index_.emplace(path, entries_.size());
  entries_.push_back({path, size, modified, ThreatLevel::Clean});
}

void ScanCache::clear() {
  entries_.clear();
  index_.clear();
}

void ScanCache::parse(std::string_view text) {
  clear();
  forEachLine(text, [&](std::string_view line) {
    const size_t a = line.find('|');
    if (a == std::string_view::npos) return;
    const size_t b = line.find('|', a + 1);
    if (b == std::string_view::npos) return;
    const size_t c = line.find('|', b + 1);
    if (c == std::string_view::npos) return;
    ScanCacheEntry e;
    e.path = toWide(line.substr(0, a));
    e.size = parseLooseDecimal(line.substr(a + 1, b - a - 1));
    e.modified = parseLooseDecimal(line.substr(b + 1, c - b - 1));
    e.level = parseThreatLevel(line.substr(c + 1));
    // A path listed twice (a hand-edited file) keeps both lines; recording updates the first.
    index_.emplace(e.path, entries_.size());
    entries_.push_back(std::move(e));
  });
}

std::string ScanCache::serialize() const {
  std::string out;
  for (const auto& e : entries_) {
    std::string path = toUtf8(e.path);
    // A line break in a file name (legal on Linux) would split the entry and forge another.
    for (char& ch : path) {
      if (ch == '\n') ch = ' ';
    }
    out += path;
    out += '|';
    out += std::to_string(e.size);
    out += '|';
    out += std::to_string(e.modified);
    out += '|';
    out += threatLevelName(e.level);
    out += '\n';
  }
  return out;
}

bool ScanCache::load(const std::wstring& path, std::string* error) {
  clear();
  std::string text;
  if (!readWholeFile(path, text, error)) return false;
  parse(text);
  return true;
}

bool ScanCache::save(const std::wstring& path, std::string* error) const {
  // Owner-only: it names every file a scan with full rights has seen.
  return writeFileAtomically(path, serialize(), error, Privacy::OwnerOnly);
}

}  // namespace zorvek::svc
