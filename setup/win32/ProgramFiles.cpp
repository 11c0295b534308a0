#include "setup/win32/ProgramFiles.h"

#include "common/platform/win32/Win.h"

#include <tlhelp32.h>

#include <vector>

#include "common/platform/win32/Handle.h"
#include "setup/win32/WinError.h"

namespace setup {
namespace {

using zorvek::UniqueFile;
using zorvek::UniqueFind;
using zorvek::UniqueKernelHandle;

constexpr int kCopyAttempts = 3;
constexpr DWORD kRetryDelayMs = 500;
constexpr DWORD kCloseWaitMs = 3000;

bool busy(DWORD code) {
  return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
         code == ERROR_LOCK_VIOLATION;
}

bool fileId(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  // No access rights asked for: a running program or a file held open still answers.
  const UniqueFile file(CreateFileW(path.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), &info);
}

// Removes a file that may still be open; what cannot go now goes at the next restart.
void discard(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

std::wstring imageOf(HANDLE process) {
  std::vector<wchar_t> buffer(1024);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (QueryFullProcessImageNameW(process, 0, buffer.data(), &size))
      return std::wstring(buffer.data(), size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool samePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool sameFileObject(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  if (!fileId(a, x) || !fileId(b, y)) return false;
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

CopyResult copyReplacing(const std::wstring& source, const std::wstring& target, uint32_t* code) {
  if (code) *code = 0;
  // Copying a file onto itself would fail with a sharing violation and end in the ".old" dance
  // that loses it: a repair from the installed setup program has nothing to copy.
  if (sameFileObject(source, target)) return CopyResult::Copied;
  DWORD first = 0;
  for (int attempt = 1; attempt <= kCopyAttempts; ++attempt) {
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) return CopyResult::Copied;
    const DWORD error = GetLastError();
    if (first == 0) first = error;
    if (!busy(error)) break;
    if (attempt < kCopyAttempts) Sleep(kRetryDelayMs);
  }
  if (code) *code = first;

  // A running program can be renamed but not overwritten.
  const std::wstring old = target + L".old";
  SetFileAttributesW(old.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExW(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) {
      discard(old);
      return CopyResult::Copied;
    }
    if (code) *code = GetLastError();
    MoveFileExW(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return CopyResult::Failed;
  }

  // The restart replaces the target from a copy beside it: the installer's temporary folder is
  // removed when the installer ends.
  const std::wstring staged = target + L".new";
  if (CopyFileW(source.c_str(), staged.c_str(), FALSE)) {
    if (MoveFileExW(staged.c_str(), target.c_str(),
                    MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
      return CopyResult::Scheduled;
    DeleteFileW(staged.c_str());
  }
  return CopyResult::Failed;
}

bool copyFolder(const std::wstring& source, const std::wstring& target, std::wstring* error) {
  auto fail = [&](const std::wstring& what, DWORD code) {
    if (error) *error = what + L": " + errorText(code);
    return false;
  };
  const DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return fail(source, attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY);
  if (sameFileObject(source, target)) return true;
  if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return fail(target, GetLastError());
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileExW((source + L"\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0));
  if (!find) return fail(source, GetLastError());
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    const std::wstring from = source + L"\\" + name, to = target + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!copyFolder(from, to, error)) return false;
      continue;
    }
    SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return fail(to, GetLastError());
  } while (FindNextFileW(find.get(), &found));
  const DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES) return fail(source, end);
  return true;
}

void closeRunningCopies(const std::wstring& programPath, StepLog& log) {
  const UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    const UniqueKernelHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                    entry.th32ProcessID));
    if (!process) continue;
    const std::wstring image = imageOf(process.get());
    // The same name in any letter case, or the same file under another name (a short name, a
    // link).
    if (image.empty() || !(samePath(image, programPath) || sameFileObject(image, programPath)))
      continue;
    log.info(L"закрывается запущенный экземпляр " + image);
    DWORD code = 0;
    if (!TerminateProcess(process.get(), 0)) {
      code = GetLastError();
    } else if (WaitForSingleObject(process.get(), kCloseWaitMs) != WAIT_OBJECT_0) {
      code = WAIT_TIMEOUT;
    }
    if (code != 0) log.info(L"не удалось закрыть " + image + L", win32=" + std::to_wstring(code));
  }
}

}  // namespace setup
