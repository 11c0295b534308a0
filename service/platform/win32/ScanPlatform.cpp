#include "common/platform/win32/Handle.h"

#include "common/Text.h"
#include "common/platform/System.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

uint64_t toU64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool isFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool readFileAttributes(const std::wstring& path, FileAttributes& out) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  out.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.size = out.directory ? 0
                           : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  out.modified = toU64(data.ftLastWriteTime);
  return true;
}

bool listDirectory(const std::wstring& folder, std::vector<DirEntry>& out) {
  out.clear();
  std::wstring pattern = folder;
  if (pattern.empty() || (pattern.back() != L'\\' && pattern.back() != L'/')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  const UniqueFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH));
  if (!find) {
    // An empty drive root answers "no files"; that is an empty folder, not a failure.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    DirEntry e;
    e.name = name;
    // Junctions and symbolic links are reparse points; following them can loop.
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) e.kind = DirEntry::Kind::Link;
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) e.kind = DirEntry::Kind::Directory;
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) e.kind = DirEntry::Kind::Other;
    else e.kind = DirEntry::Kind::File;
    out.push_back(std::move(e));
  } while (::FindNextFileW(find.get(), &data));
  return true;
}

DirEntry::Kind linkTargetKind(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return DirEntry::Kind::Other;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? DirEntry::Kind::Directory : DirEntry::Kind::File;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
  return folder + L'\\' + name;
}

const std::vector<std::wstring>& excludedFolderPrefixes() {
  static const std::vector<std::wstring> prefixes = {
      L"c:\\windows\\winsxs",
      L"c:\\windows\\servicing",
      L"c:\\windows\\assembly",
      L"c:\\windows\\microsoft.net",
      L"c:\\windows\\softwaredistribution",
      L"c:\\$recycle.bin",
      L"c:\\system volume information",
      L"c:\\programdata\\microsoft\\windows defender",
      L"c:\\program files\\common files\\microsoft shared",
      L"c:\\windows\\system32\\config"};
  return prefixes;
}

std::vector<ScanTargetSpec> platformQuickScanTargets() {
  std::vector<ScanTargetSpec> out;
  const auto env = environmentVariable(L"USERPROFILE");
  const std::wstring profile = env ? *env : std::wstring(L"C:\\");
  for (const wchar_t* sub :
       {L"\\Downloads", L"\\Desktop", L"\\Documents", L"\\AppData\\Local\\Temp", L"\\Temp"}) {
    const std::wstring folder = profile + sub;
    if (isFolder(folder)) out.push_back({folder, true});
  }
  if (isFolder(profile)) out.push_back({profile, false});
  for (const wchar_t* folder : {L"C:\\Windows\\System32", L"C:\\Program Files",
                                L"C:\\Program Files (x86)"})
    if (isFolder(folder)) out.push_back({folder, true});
  return out;
}

std::vector<ScanTargetSpec> platformFullScanTargets(bool includeRemovable) {
  std::vector<ScanTargetSpec> out;
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    const std::wstring root = std::wstring(1, letter) + L":\\";
    const UINT type = ::GetDriveTypeW(root.c_str());
    if (type == DRIVE_FIXED || (type == DRIVE_REMOVABLE && includeRemovable))
      out.push_back({root, true});
  }
  return out;
}

}  // namespace zorvek
