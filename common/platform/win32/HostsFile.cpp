#include "common/platform/HostsFile.h"

#include "common/platform/win32/Win.h"

#include "common/platform/win32/Handle.h"

namespace zorvek {
namespace {

bool writeAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(bytes.size() > (1u << 30) ? (1u << 30) : bytes.size());
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

std::wstring systemHostsPath() {
  wchar_t windows[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"C:\\Windows\\System32\\drivers\\etc\\hosts";
  return std::wstring(windows, n) + L"\\System32\\drivers\\etc\\hosts";
}

bool replaceHostsFile(const std::wstring& path, const std::wstring& temp, std::string_view bytes,
                      std::string* error) {
  // A temporary left by a killed run is ours to replace. Created with no security attributes,
  // the new file gets the access list the folder hands to every new file in it.
  DeleteFileW(temp.c_str());
  UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error) *error = "cannot write temp hosts";
    return false;
  }
  bool ok = writeAll(file.get(), bytes) && FlushFileBuffers(file.get());
  if (!CloseHandle(file.release())) ok = false;
  if (!ok) {
    DeleteFileW(temp.c_str());
    if (error) *error = "cannot write temp hosts";
    return false;
  }
  // A read-only hosts file would refuse the replacement.
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    DeleteFileW(temp.c_str());
    if (error) *error = "cannot replace hosts, win32=" + std::to_string(code);
    return false;
  }
  return true;
}

}  // namespace zorvek
