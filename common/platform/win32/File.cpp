#include "common/platform/File.h"
#include "common/platform/Folder.h"

#include "common/platform/win32/FileDetail.h"
#include "common/platform/win32/Handle.h"

namespace zorvek {
namespace {
HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
// ReadFile takes a DWORD count; stay well below it.
DWORD readSize(size_t size) { return static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size); }
}  // namespace

namespace detail {

std::wstring fullPath(const std::wstring& path) {
  const DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::wstring full(need, L'\0');
  const DWORD got = GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
  if (got == 0 || got >= need) return path;
  full.resize(got);
  return full;
}

std::wstring extendedPath(const std::wstring& path) {
  // Folders must leave room for an 8.3 name (MAX_PATH - 12); below that nothing changes.
  if (path.size() < MAX_PATH - 12 || path.rfind(L"\\\\?\\", 0) == 0 ||
      path.rfind(L"\\\\.\\", 0) == 0) {
    return path;
  }
  // The prefix turns off the system's own clean-up of the path, so do it first.
  const std::wstring full = fullPath(path);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

OpenFailure failureOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenFailure::NotFound;
    case ERROR_ACCESS_DENIED:
      return OpenFailure::AccessDenied;
    case ERROR_DIRECTORY:
      return OpenFailure::NotFolder;
    case ERROR_CANT_ACCESS_FILE:  // a reparse point the system cannot follow
      return OpenFailure::Link;
    default:
      return OpenFailure::Other;
  }
}

std::string win32Text(const char* what, DWORD code) {
  return std::string(what) + " (win32=" + std::to_string(code) + ")";
}

bool fileInfoOf(HANDLE h, FileInfo& out) {
  BY_HANDLE_FILE_INFORMATION bi{};
  if (!GetFileInformationByHandle(h, &bi)) return false;
  out = FileInfo{};
  out.directory = (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out.regular = !out.directory && (bi.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0 &&
                GetFileType(h) == FILE_TYPE_DISK;
  if (!out.directory)
    out.size = (static_cast<uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
  out.modified = (static_cast<uint64_t>(bi.ftLastWriteTime.dwHighDateTime) << 32) |
                 bi.ftLastWriteTime.dwLowDateTime;
  out.identity = {bi.dwVolumeSerialNumber,
                  (static_cast<uint64_t>(bi.nFileIndexHigh) << 32) | bi.nFileIndexLow};
  return true;
}

bool adoptRegularFile(HANDLE h, Links links, intptr_t& handle, std::string* error,
                      OpenFailure* why) {
  UniqueFile file(h);
  // A pipe, console or other device answers another type, and its reads could block for good.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    SetLastError(ERROR_INVALID_FUNCTION);
    if (why) *why = OpenFailure::NotRegular;
    if (error) *error = "open failed: not a regular file";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION bi{};
  if (GetFileInformationByHandle(h, &bi)) {
    if (links == Links::Refuse && (bi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      SetLastError(ERROR_CANT_ACCESS_FILE);
      if (why) *why = OpenFailure::Link;
      if (error) *error = "open failed: the path is a link";
      return false;
    }
    if (bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      SetLastError(ERROR_ACCESS_DENIED);  // as CreateFileW answers for a folder
      if (why) *why = OpenFailure::NotRegular;
      if (error) *error = "open failed: is a directory";
      return false;
    }
  }
  if (!tokenMayAccess(actingClientToken(), h, FILE_READ_DATA)) {
    SetLastError(ERROR_ACCESS_DENIED);
    if (why) *why = OpenFailure::AccessDenied;
    if (error) *error = win32Text("open failed", ERROR_ACCESS_DENIED);
    return false;
  }
  handle = reinterpret_cast<intptr_t>(file.release());
  if (why) *why = OpenFailure::None;
  return true;
}

}  // namespace detail

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path, Share share, std::string* error, OpenFailure* why) {
  close();
  const DWORD mode = share == Share::ReadOnly ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  // SQOS identification: a named pipe in place of the file must not be able to act as us.
  HANDLE h = CreateFileW(detail::extendedPath(path).c_str(), GENERIC_READ | READ_CONTROL, mode,
                         nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | SECURITY_SQOS_PRESENT |
                             SECURITY_IDENTIFICATION,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (why) *why = detail::failureOf(code);
    if (error) *error = detail::win32Text("CreateFileW failed", code);
    return false;
  }
  return detail::adoptRegularFile(h, Links::Follow, handle_, error, why);
}

long long InputFile::read(void* buffer, size_t size, std::string* error) {
  if (!isOpen()) return -1;
  DWORD got = 0;
  if (!ReadFile(asHandle(handle_), buffer, readSize(size), &got, nullptr)) {
    if (error) *error = detail::win32Text("ReadFile failed", GetLastError());
    return -1;
  }
  return got;
}

long long InputFile::readAt(void* buffer, size_t size, long long offset, std::string* error) {
  if (!isOpen() || offset < 0) return -1;
  // On a handle opened for synchronous I/O, the OVERLAPPED offset makes this a positioned read.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  DWORD got = 0;
  if (!ReadFile(asHandle(handle_), buffer, readSize(size), &got, &at)) {
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    if (error) *error = detail::win32Text("ReadFile failed", code);
    return -1;
  }
  return got;
}

long long InputFile::size() const {
  LARGE_INTEGER li;
  if (!isOpen() || !GetFileSizeEx(asHandle(handle_), &li)) return -1;
  return li.QuadPart;
}

bool InputFile::info(FileInfo& out) const {
  return isOpen() && detail::fileInfoOf(asHandle(handle_), out);
}

void InputFile::close() {
  if (isOpen()) FileTraits::close(asHandle(handle_));
  handle_ = kInvalid;
}

bool pathExists(const std::wstring& path) {
  return GetFileAttributesW(detail::extendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace zorvek

namespace zorvek {
std::FILE* openStdioFile(const std::wstring& path, const char* mode) {
  std::wstring wmode;
  for (const char* p = mode; *p; ++p) wmode += static_cast<wchar_t>(*p);
  return _wfopen(path.c_str(), wmode.c_str());
}
}  // namespace zorvek

#include <atomic>
#include <filesystem>
#include <string_view>

#include "common/Text.h"

namespace zorvek {
namespace {

using detail::win32Text;

bool writeAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
    DWORD written = 0;
    if (!WriteFile(h, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

wchar_t pathSeparator() { return L'\\'; }

bool createDirectories(const std::wstring& path, std::string* error, Privacy) {
  std::error_code ec;
  const std::filesystem::path p = toPath(path);
  std::filesystem::create_directories(p, ec);
  if (std::filesystem::is_directory(p, ec)) return true;
  if (error) *error = "cannot create folder: " + (ec ? ec.message() : std::string("not a folder"));
  return false;
}

void restrictToOwner(const std::wstring&) {}

bool readWholeFile(const std::wstring& path, std::string& out, std::string* error, bool* missing) {
  out.clear();
  if (missing) *missing = false;
  const UniqueFile file(CreateFileW(detail::extendedPath(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN |
                                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                    nullptr));
  if (!file) {
    const DWORD code = GetLastError();
    if (missing) *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    if (error) *error = win32Text("CreateFileW failed", code);
    return false;
  }
  if (GetFileType(file.get()) != FILE_TYPE_DISK) {
    if (error) *error = "open failed: not a regular file";
    return false;
  }
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      if (error) *error = win32Text("ReadFile failed", GetLastError());
      break;
    }
    if (got == 0) break;
    out.append(buffer, got);
  }
  return ok;
}

bool writeFileAtomically(const std::wstring& path, std::string_view bytes, std::string* error,
                         Privacy) {
  static std::atomic<unsigned> counter{0};
  // Distinct per process and thread, so concurrent savers never share a temporary.
  const std::wstring temp = path + L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(counter++);
  UniqueFile file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error) *error = win32Text("cannot create", GetLastError());
    return false;
  }
  bool ok = writeAll(file.get(), bytes.data(), bytes.size()) && FlushFileBuffers(file.get());
  if (!ok && error) *error = win32Text("write failed", GetLastError());
  // Closed before the move: the temporary was opened without sharing.
  file.reset();
  if (ok) {
    // A reader that opened the old file without delete sharing blocks the replace for a moment.
    for (int attempt = 0;; ++attempt) {
      if (MoveFileExW(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        break;
      }
      const DWORD code = GetLastError();
      if (attempt < 20 && (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)) {
        Sleep(10);
        continue;
      }
      ok = false;
      if (error) *error = win32Text("cannot replace", code);
      break;
    }
  }
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

bool moveFile(const std::wstring& from, const std::wstring& to, unsigned long* systemError) {
  const bool ok = MoveFileExW(detail::extendedPath(from).c_str(), detail::extendedPath(to).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                                  MOVEFILE_WRITE_THROUGH) != 0;
  if (systemError) *systemError = ok ? 0 : GetLastError();
  return ok;
}

bool removeFile(const std::wstring& path, unsigned long* systemError) {
  const bool ok = DeleteFileW(detail::extendedPath(path).c_str()) != 0;
  if (systemError) *systemError = ok ? 0 : GetLastError();
  return ok;
}

long long fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(detail::extendedPath(path).c_str(), GetFileExInfoStandard, &data))
    return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                data.nFileSizeLow);
}

AppendFile::~AppendFile() { close(); }

AppendFile& AppendFile::operator=(AppendFile&& o) noexcept {
  if (this != &o) {
    close();
    handle_ = o.handle_;
    o.handle_ = kInvalid;
  }
  return *this;
}

bool AppendFile::open(const std::wstring& path, bool* created, std::string* error) {
  close();
  // Append-only access: the system places every write at the current end of the file, which a
  // seek followed by a write cannot guarantee against another process. Read access is only for
  // LockFileEx, which refuses a handle with neither read nor write data access. Shared delete
  // access lets the service rename a full log while others still hold it.
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = win32Text("CreateFileW failed", GetLastError());
    return false;
  }
  if (created) *created = GetLastError() != ERROR_ALREADY_EXISTS;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

namespace {
// Wine finds the end of the file and writes there as two steps, so two processes can land on
// the same offset: every writer first takes this lock.
OVERLAPPED writersLockRange() {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFF0u;
  at.OffsetHigh = 0x7FFFFFFFu;
  return at;
}

bool sameFile(HANDLE a, HANDLE b) {
  BY_HANDLE_FILE_INFORMATION x, y;
  return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}
}  // namespace

bool AppendFile::lock() {
  OVERLAPPED at = writersLockRange();
  return isOpen() && LockFileEx(asHandle(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
}

void AppendFile::unlock() {
  OVERLAPPED at = writersLockRange();
  if (isOpen()) UnlockFileEx(asHandle(handle_), 0, 1, 0, &at);
}

bool AppendFile::writeLocked(const void* data, size_t size) {
  return isOpen() && writeAll(asHandle(handle_), static_cast<const char*>(data), size);
}

bool AppendFile::isAt(const std::wstring& path) const {
  if (!isOpen()) return false;
  // No data access: opening never conflicts with how others share the file.
  const UniqueFile there(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return there && sameFile(there.get(), asHandle(handle_));
}

long long AppendFile::size() const {
  LARGE_INTEGER li;
  if (!isOpen() || !GetFileSizeEx(asHandle(handle_), &li)) return -1;
  return li.QuadPart;
}

void AppendFile::close() {
  if (isOpen()) FileTraits::close(asHandle(handle_));
  handle_ = kInvalid;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(const std::wstring& path, std::string* error) {
  discard();
  // DeleteFileW removes a link itself, never its target; CREATE_NEW then refuses anything that
  // reappeared at the path.
  DeleteFileW(path.c_str());
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = win32Text("cannot create", GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = path;
  failure_ = 0;
  return true;
}

bool OutputFile::write(const void* data, size_t size) {
  if (!isOpen() || failure_ != 0) return false;
  if (writeAll(asHandle(handle_), static_cast<const char*>(data), size)) return true;
  const DWORD code = GetLastError();
  failure_ = code != 0 ? code : ERROR_WRITE_FAULT;
  return false;
}

bool OutputFile::finish(std::string* error) {
  if (!isOpen()) {
    if (error) *error = "write failed: the file is not open";
    return false;
  }
  HANDLE h = asHandle(handle_);
  handle_ = kInvalid;
  DWORD code = failure_;
  if (code == 0 && !FlushFileBuffers(h)) code = GetLastError();
  if (!CloseHandle(h) && code == 0) code = GetLastError();
  if (code != 0) {
    failure_ = code;
    if (error) *error = win32Text("write failed", code);
    return false;
  }
  path_.clear();
  folder_ = nullptr;
  return true;
}

void OutputFile::discard() {
  if (isOpen()) CloseHandle(asHandle(handle_));
  handle_ = kInvalid;
  if (!path_.empty()) {
    if (folder_) {
      removeFileIn(*folder_, path_);
    } else {
      DeleteFileW(path_.c_str());
    }
  }
  path_.clear();
  folder_ = nullptr;
}

bool replaceFile(const std::wstring& from, const std::wstring& to, unsigned long* systemError) {
  // A read-only target would refuse the move.
  SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  return moveFile(from, to, systemError);
}

}  // namespace zorvek

namespace zorvek {

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
  bool ok = writeAll(file.get(), bytes.data(), bytes.size()) && FlushFileBuffers(file.get());
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
