#include "setup/win32/DataFolder.h"

#include "common/platform/win32/Win.h"

#include <aclapi.h>
#include <sddl.h>

#include "common/platform/win32/Handle.h"
#include "setup/win32/WinError.h"

namespace setup {
namespace {

using zorvek::UniqueFile;
using zorvek::UniqueFind;
using zorvek::UniqueLocal;

// 0x1200a9: read, execute and traverse; 0x12008d: read and append.
constexpr wchar_t kFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
constexpr wchar_t kLogSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12008d;;;BU)";
constexpr DWORD kSecurityAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kMaxDepth = 64;

struct Descriptor {
  UniqueLocal<PSECURITY_DESCRIPTOR> sd;
  PSID owner = nullptr;
  PACL dacl = nullptr;
};

bool parse(const wchar_t* sddl, Descriptor& out) {
  BOOL present = FALSE, defaulted = FALSE;
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, out.sd.put(),
                                                              nullptr) &&
         GetSecurityDescriptorOwner(out.sd.get(), &out.owner, &defaulted) &&
         GetSecurityDescriptorDacl(out.sd.get(), &present, &out.dacl, &defaulted) && present;
}

bool fail(std::wstring* error, const std::wstring& what, DWORD code) {
  if (error) *error = what + L": " + errorText(code);
  return false;
}

// Opens the object itself, never what a link points to.
UniqueFile openObject(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), kSecurityAccess, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// ERROR_SUCCESS or the error.
DWORD apply(HANDLE object, const wchar_t* sddl) {
  Descriptor d;
  if (!parse(sddl, d)) return GetLastError();
  return SetSecurityInfo(object, SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                             PROTECTED_DACL_SECURITY_INFORMATION,
                         d.owner, nullptr, d.dacl, nullptr);
}

bool ownedBySystem(HANDLE object) {
  PSID owner = nullptr;
  UniqueLocal<PSECURITY_DESCRIPTOR> sd;
  if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, sd.put()) != ERROR_SUCCESS ||
      !owner)
    return false;
  return IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
}

// A link or a second name of another file is nothing the service made: remove the name itself.
bool removeName(const std::wstring& path, bool folder) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
}

bool resetChildren(const std::wstring& folder, int depth, std::wstring* error) {
  if (depth > kMaxDepth) return fail(error, folder, ERROR_CANT_RESOLVE_FILENAME);
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0));
  if (!find) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || fail(error, folder, code);
  }
  // Keeps going after a failure, so that as much as possible is reset; the first error is told.
  bool ok = true;
  auto failed = [&](const std::wstring& what, DWORD code) {
    if (ok) fail(error, what, code);
    ok = false;
  };
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    UniqueFile object = openObject(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!object || !GetFileInformationByHandle(object.get(), &info)) {
      failed(path, GetLastError());
      continue;
    }
    const bool isFolder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (!isFolder && info.nNumberOfLinks > 1)) {
      object.reset();
      if (!removeName(path, isFolder)) failed(path, GetLastError());
      continue;
    }
    if (!ownedBySystem(object.get())) {
      if (const DWORD code = apply(object.get(), isFolder ? kFolderSddl : kFileSddl)) failed(path, code);
    }
    std::wstring below;
    if (isFolder && !resetChildren(path, depth + 1, &below)) {
      if (ok && error) *error = below;
      ok = false;
    }
  } while (FindNextFileW(find.get(), &found));
  return ok;
}

// zorvek.log with the right to append for users, created when missing.
bool secureLog(const std::wstring& path, std::wstring* error) {
  Descriptor d;
  if (!parse(kLogSddl, d)) return fail(error, path, GetLastError());
  SECURITY_ATTRIBUTES sa{sizeof sa, d.sd.get(), FALSE};
  for (int attempt = 0; attempt < 2; ++attempt) {
    UniqueFile log(CreateFileW(path.c_str(), kSecurityAccess, kShareAll, &sa, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!log) return fail(error, path, GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(log.get(), &info)) return fail(error, path, GetLastError());
    if (!(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
        info.nNumberOfLinks == 1) {
      const DWORD code = apply(log.get(), kLogSddl);
      return code == ERROR_SUCCESS || fail(error, path, code);
    }
    // A link planted as the log would hand the users' append right to another file.
    log.reset();
    if (!removeName(path, info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return fail(error, path, GetLastError());
  }
  return fail(error, path, ERROR_ALREADY_EXISTS);
}

}  // namespace

bool secureDataFolder(const std::wstring& folder, std::wstring* error) {
  Descriptor d;
  if (!parse(kFolderSddl, d)) return fail(error, folder, GetLastError());
  SECURITY_ATTRIBUTES sa{sizeof sa, d.sd.get(), FALSE};
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (CreateDirectoryW(folder.c_str(), &sa)) return secureLog(folder + L"\\zorvek.log", error);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return fail(error, folder, GetLastError());
    UniqueFile object = openObject(folder);
    BY_HANDLE_FILE_INFORMATION info;
    if (!object || !GetFileInformationByHandle(object.get(), &info))
      return fail(error, folder, GetLastError());
    const bool isFolder = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (isFolder && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // The list goes on the folder first: nothing created below it from now on is the users'.
      if (const DWORD code = apply(object.get(), kFolderSddl)) return fail(error, folder, code);
      return resetChildren(folder, 0, error) && secureLog(folder + L"\\zorvek.log", error);
    }
    // A file, or a link or junction to somewhere else: never take over what it points to.
    object.reset();
    if (!removeName(folder, isFolder)) return fail(error, folder, GetLastError());
  }
  return fail(error, folder, ERROR_ALREADY_EXISTS);
}

}  // namespace setup
