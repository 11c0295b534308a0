#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "common/platform/posix/FileDetail.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {

bool readFileAttributes(const std::wstring& path, FileAttributes& out, std::string* error) {
  struct stat st {};
  if (::stat(toUtf8(path).c_str(), &st) != 0) {
    if (error) *error = std::string("cannot read attributes: ") + std::strerror(errno);
    return false;
  }
  const FileInfo info = detail::fileInfoOf(st);
  out.directory = info.directory;
  out.regular = info.regular;
  out.size = info.size;
  out.modified = info.modified;
  return true;
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
