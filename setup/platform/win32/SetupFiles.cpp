#include "setup/platform/SetupFiles.h"

#include "common/platform/win32/Win.h"

#include <sddl.h>

#include <vector>

#include "common/platform/win32/Handle.h"

namespace setup {
namespace {

using zorvek::UniqueFile;
using zorvek::UniqueFind;
using zorvek::UniqueKernelHandle;
using zorvek::UniqueLocal;

std::string win32Error(const char* what, DWORD code) {
  return std::string(what) + " (win32=" + std::to_string(code) + ")";
}

// The SID of the user this thread acts for, as SDDL text ("S-1-5-21-...").
std::wstring currentUserSid() {
  UniqueKernelHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
    return {};
  UniqueLocal<wchar_t*> text;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, text.put()))
    return {};
  return text.get();
}

bool removeEntry(const std::wstring& path, DWORD attributes, std::string* error);

bool removeChildren(const std::wstring& folder, std::string* error) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0));
  if (!find) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;
    if (error) *error = win32Error("FindFirstFileExW", code);
    return false;
  }
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // Keep going after a failure: remove as much as can be removed.
    if (!removeEntry(folder + L"\\" + name, found.dwFileAttributes, ok ? error : nullptr))
      ok = false;
  } while (FindNextFileW(find.get(), &found));
  return ok;
}

bool removeEntry(const std::wstring& path, DWORD attributes, std::string* error) {
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
  const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  // A junction or a folder link is a folder entry: RemoveDirectoryW removes the link itself.
  // Only real folders are entered.
  bool ok = true;
  if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) ok = removeChildren(path, error);
  if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return ok;
  if (ok && error) *error = win32Error(folder ? "RemoveDirectoryW" : "DeleteFileW", GetLastError());
  return false;
}

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

std::wstring tempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return {};
  return std::wstring(buffer, n);
}

bool createPrivateFolder(const std::wstring& path, bool* exists, std::string* error) {
  if (exists) *exists = false;
  const std::wstring user = currentUserSid();
  if (user.empty()) {
    if (error) *error = win32Error("the user's SID cannot be read", GetLastError());
    return false;
  }
  // Protected (P): nothing inherited from a parent that the user may have opened up.
  const std::wstring sddl =
      L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")";
  UniqueLocal<PSECURITY_DESCRIPTOR> sd;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            sd.put(), nullptr)) {
    if (error) *error = win32Error("ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
    return false;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  // CreateDirectoryW fails on any existing name, links and junctions included: a planted folder
  // is never taken over.
  if (CreateDirectoryW(path.c_str(), &sa)) return true;
  const DWORD code = GetLastError();
  if (exists) *exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
  if (error) *error = win32Error("CreateDirectoryW", code);
  return false;
}

bool removeTree(const std::wstring& path, std::string* error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    if (error) *error = win32Error("GetFileAttributesW", code);
    return false;
  }
  return removeEntry(path, attributes, error);
}

bool appendRecord(const std::wstring& path, std::string_view header, std::string_view record) {
  // Read access for LockFileEx; append-only writing, so every write lands at the end. The link
  // itself is opened, not its target, and refused below.
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1)
    return false;
  // The lock covers one byte far beyond any real log, so readers of the text are never blocked.
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file.get(), &size) != 0;
  std::string bytes;
  if (ok && size.QuadPart == 0) bytes = header;
  bytes += record;
  ok = ok && writeAll(file.get(), bytes);
  UnlockFileEx(file.get(), 0, 1, 0, &at);
  return ok;
}

}  // namespace setup
