#include "common/Fail.h"
#include "common/Hosts.h"

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

enum class LineKind { Begin, End, Other };

LineKind kindOf(std::string_view line) {
  const std::string_view t = trimBlanks(line);
  if (t == kWebShieldBegin) return LineKind::Begin;
  if (t == kWebShieldEnd) return LineKind::End;
  return LineKind::Other;
}

// Calls fn(line, inside) for every line that is not a marker, with one trailing CR removed.
template <typename Fn>
void walkBlock(std::string_view text, Fn&& fn) {
  bool inside = false;
  forEachLine(text, [&](std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    switch (kindOf(line)) {
      case LineKind::Begin: inside = true; break;
      case LineKind::End: inside = false; break;
      case LineKind::Other: fn(line, inside); break;
    }
  });
}

}  // namespace

std::wstring hostsPath() {
  if (auto over = environmentVariable(L"ZORVEK_HOSTS"); over && !over->empty()) return *over;
  return systemHostsPath();
}

bool readHostsText(const std::wstring& path, std::string& text, std::string* error) {
  text.clear();
  // A huge (or sparse) file would be read into memory whole: refuse it before reading.
  const long long size = fileSize(path);
  if (size > kMaxHostsBytes) return fail(error, "cannot read hosts: file too large");
  std::string why;
  bool missing = false;
  if (readWholeFile(path, text, &why, &missing)) {
    if (static_cast<long long>(text.size()) <= kMaxHostsBytes) return true;
    text.clear();
    return fail(error, "cannot read hosts: file too large");
  }
  text.clear();
  if (missing) return true;
  return fail(error, "cannot read hosts: " + why);
}

std::vector<std::string> linesOutsideBlock(std::string_view text) {
  std::vector<std::string> lines;
  walkBlock(text, [&](std::string_view line, bool inside) {
    if (!inside) lines.emplace_back(line);
  });
  return lines;
}

size_t countBlockEntries(std::string_view text) {
  size_t count = 0;
  walkBlock(text, [&](std::string_view line, bool inside) {
    if (inside && !trimBlanks(line).empty()) ++count;
  });
  return count;
}

bool writeHostsAtomically(const std::wstring& path, std::string_view text, std::string* error) {
  return replaceHostsFile(path, path + L".zorvek.tmp", text, error);
}

bool removeWebShieldBlock(const std::wstring& path, std::string* error) {
  std::string text;
  if (!readHostsText(path, text, error)) return false;
  if (text.find(kWebShieldBegin) == std::string::npos &&
      text.find(kWebShieldEnd) == std::string::npos)
    return true;
  std::string kept;
  for (const auto& line : linesOutsideBlock(text)) {
    kept += line;
    kept += '\n';
  }
  return writeHostsAtomically(path, kept, error);
}

size_t countWebShieldEntries() {
  std::string text;
  if (!readHostsText(hostsPath(), text)) return 0;
  return countBlockEntries(text);
}

}  // namespace zorvek
