#include "common/platform/win32/FileDetail.h"
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

bool readFileAttributes(const std::wstring& path, FileAttributes& out, std::string* error) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(detail::extendedPath(path).c_str(), GetFileExInfoStandard, &data)) {
    if (error) *error = detail::win32Text("cannot read attributes", ::GetLastError());
    return false;
  }
  out.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.regular = !out.directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  out.size = out.directory ? 0
                           : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  out.modified = toU64(data.ftLastWriteTime);
  return true;
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
