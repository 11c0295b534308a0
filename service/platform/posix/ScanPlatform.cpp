#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t kEpochDelta = 11644473600ull;

uint64_t toFiletime(const struct timespec& ts) {
  if (ts.tv_sec < 0) return 0;
  return (static_cast<uint64_t>(ts.tv_sec) + kEpochDelta) * 10000000ull +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

}  // namespace

bool readFileAttributes(const std::wstring& path, FileAttributes& out) {
  struct stat st {};
  if (::stat(toUtf8(path).c_str(), &st) != 0) return false;
  out.directory = S_ISDIR(st.st_mode);
  out.size = out.directory || st.st_size < 0 ? 0 : static_cast<uint64_t>(st.st_size);
  out.modified = toFiletime(st.st_mtim);
  return true;
}

bool listDirectory(const std::wstring& folder, std::vector<DirEntry>& out) {
  out.clear();
  const std::string base = toUtf8(folder);
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return false;
  std::vector<std::pair<std::string, DirEntry::Kind>> raw;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirEntry::Kind kind = DirEntry::Kind::Other;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {  // some file systems leave the type to lstat
      struct stat st {};
      const std::string full = base.empty() || base.back() != '/' ? base + "/" + name : base + name;
      if (::lstat(full.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode)) type = DT_REG;
        else if (S_ISDIR(st.st_mode)) type = DT_DIR;
        else if (S_ISLNK(st.st_mode)) type = DT_LNK;
      }
    }
    if (type == DT_REG) kind = DirEntry::Kind::File;
    else if (type == DT_DIR) kind = DirEntry::Kind::Directory;
    else if (type == DT_LNK) kind = DirEntry::Kind::Link;
    raw.emplace_back(name, kind);
  }
  ::closedir(dir);
  // Byte order of the names: the same tree always walks the same way.
  std::sort(raw.begin(), raw.end());
  out.reserve(raw.size());
  for (auto& [name, kind] : raw) out.push_back({toWide(name), kind});
  return true;
}

DirEntry::Kind linkTargetKind(const std::wstring& path) {
  struct stat st {};
  if (::stat(toUtf8(path).c_str(), &st) != 0) return DirEntry::Kind::Other;
  if (S_ISREG(st.st_mode)) return DirEntry::Kind::File;
  if (S_ISDIR(st.st_mode)) return DirEntry::Kind::Directory;
  return DirEntry::Kind::Other;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'/') return folder + name;
  return folder + L'/' + name;
}

const std::vector<std::wstring>& excludedFolderPrefixes() {
  // Pseudo file systems: endless or blocking files, nothing that a scan could judge.
  static const std::vector<std::wstring> prefixes = {L"/proc/", L"/sys/", L"/dev/", L"/run/"};
  return prefixes;
}

std::vector<ScanTargetSpec> platformQuickScanTargets() {
  std::vector<ScanTargetSpec> out;
  auto isFolder = [](const std::wstring& p) {
    FileAttributes a;
    return readFileAttributes(p, a) && a.directory;
  };
  const auto home = environmentVariable(L"HOME");
  if (home && !home->empty()) {
    for (const wchar_t* sub : {L"/Downloads", L"/Desktop", L"/Documents"}) {
      const std::wstring folder = *home + sub;
      if (isFolder(folder)) out.push_back({folder, true});
    }
    if (isFolder(*home)) out.push_back({*home, false});
  }
  if (isFolder(L"/tmp")) out.push_back({L"/tmp", true});
  return out;
}

std::vector<ScanTargetSpec> platformFullScanTargets(bool) { return {{L"/", true}}; }

}  // namespace zorvek
