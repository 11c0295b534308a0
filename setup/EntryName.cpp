#include "setup/EntryName.h"

#include <filesystem>

#include "common/Text.h"
#include "common/platform/File.h"

namespace setup {
namespace {

// Windows opens these as devices in any folder, whatever extension follows.
bool isDeviceName(std::string_view component) {
  std::string stem = zorvek::asciiLower(component.substr(0, component.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const auto& d : kDevices) {
    if (stem == d) return true;
  }
  return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
         stem[3] >= '0' && stem[3] <= '9';
}

bool passesRules(std::string_view name) {
  if (name.find("..") != std::string_view::npos) return false;
  if (name.find_first_of(std::string_view("\\:\0", 3)) != std::string_view::npos) return false;
  if (name.starts_with('/')) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (isDeviceName(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

bool entryTargetPath(const std::wstring& folder, std::string_view name, std::wstring& target) {
  target.clear();
  if (!passesRules(name)) return false;
  while (name.ends_with('/')) name.remove_suffix(1);
  if (name.empty()) return false;

  std::wstring relative = zorvek::toWide(name);
  for (auto& c : relative) {
    if (c == L'/') c = zorvek::pathSeparator();
  }
  const std::filesystem::path base = zorvek::toPath(folder);
  const std::filesystem::path joined = base / zorvek::toPath(relative);
  // The rules above already keep the name inside; this checks the outcome itself, the way the
  // file system will see it, so no rule missed here can write outside the folder.
  const std::filesystem::path inside = joined.lexically_normal().lexically_relative(
      base.lexically_normal());
  if (inside.empty() || *inside.begin() == "." || *inside.begin() == "..") return false;
  target = zorvek::pathToWide(joined);
  return true;
}

bool entryNameAllowed(std::string_view name) {
  std::wstring target;
  return entryTargetPath(L"payload", name, target);
}

std::string suspiciousNameText(std::string_view name) {
  std::string shown(name);
  for (auto& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "подозрительное имя файла в нагрузке: " + shown;
}

}  // namespace setup
