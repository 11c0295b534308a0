#include "common/platform/Folder.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <limits>

#include "common/Fail.h"
#include "common/Text.h"
#include "common/platform/win32/FileDetail.h"
#include "common/platform/win32/Handle.h"

namespace zorvek {
namespace {

using detail::win32Text;

constexpr NTSTATUS kNotSameDevice = static_cast<NTSTATUS>(0xC00000D4L);
constexpr DWORD kAllShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// FileDispositionInfoEx and its flags (Windows 10 1607 and later), which the headers declare only
// for newer targets than ours.
const auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// Opens `name` directly inside `root` (never a path: the name must not hold a separator).
NTSTATUS openRelative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, HANDLE& out) {
  out = INVALID_HANDLE_VALUE;
  if (name.empty() || name.size() > 32767 || name.find_first_of(L"\\/") != std::wstring::npos ||
      name == L"." || name == L"..") {
    return static_cast<NTSTATUS>(0xC0000033L);  // STATUS_OBJECT_NAME_INVALID
  }
  UNICODE_STRING us;
  us.Buffer = const_cast<PWSTR>(name.c_str());
  us.Length = us.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES oa;
  InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE h = nullptr;
  const NTSTATUS status = NtCreateFile(&h, access, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                                       disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status >= 0) out = h;
  return status;
}

DWORD codeOf(NTSTATUS status) { return RtlNtStatusToDosError(status); }

ACCESS_MASK folderAccess(Folder::Purpose purpose, bool last) {
  ACCESS_MASK access = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  if (!last) return access;
  access |= FILE_LIST_DIRECTORY | READ_CONTROL;
  if (purpose == Folder::Purpose::Modify)
    access |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
  return access;
}

// Checks a folder just opened: not a reparse point when links are refused, and listable by the
// client this thread acts for.
bool acceptFolder(HANDLE h, const std::wstring& name, Links links, bool checkList,
                  std::string* error, OpenFailure* why) {
  BY_HANDLE_FILE_INFORMATION bi{};
  if (!GetFileInformationByHandle(h, &bi)) {
    const DWORD code = GetLastError();
    if (why) *why = detail::failureOf(code);
    return fail(error, win32Text(("cannot open folder " + toUtf8(name)).c_str(), code));
  }
  if (links == Links::Refuse && (bi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    if (why) *why = OpenFailure::Link;
    return fail(error, "cannot open folder " + toUtf8(name) + ": it is a link");
  }
  if (!(bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (why) *why = OpenFailure::NotFolder;
    return fail(error, "cannot open folder " + toUtf8(name) + ": not a folder");
  }
  if (checkList && !detail::tokenMayAccess(detail::actingClientToken(), h, FILE_LIST_DIRECTORY)) {
    if (why) *why = OpenFailure::AccessDenied;
    return fail(error, win32Text(("cannot open folder " + toUtf8(name)).c_str(), ERROR_ACCESS_DENIED));
  }
  return true;
}

HANDLE openStep(HANDLE parent, const std::wstring& name, Links links, Folder::Purpose purpose,
                bool last, bool create, std::string* error, OpenFailure* why) {
  HANDLE h = INVALID_HANDLE_VALUE;
  const ULONG options = FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT |
                        (links == Links::Refuse ? FILE_OPEN_REPARSE_POINT : 0);
  const NTSTATUS status = openRelative(parent, name, folderAccess(purpose, last), kAllShares,
                                       create ? FILE_OPEN_IF : FILE_OPEN, options, h);
  if (status < 0) {
    const DWORD code = codeOf(status);
    if (why) *why = detail::failureOf(code);
    fail(error, win32Text(("cannot open folder " + toUtf8(name)).c_str(), code));
    return INVALID_HANDLE_VALUE;
  }
  if (!acceptFolder(h, name, links, last && purpose == Folder::Purpose::List, error, why)) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

bool isDriveRoot(const std::wstring& p, size_t at) {
  return p.size() >= at + 3 && iswalpha(p[at]) && p[at + 1] == L':' && p[at + 2] == L'\\';
}

std::atomic<unsigned> tempCounter{0};

bool setDisposition(HANDLE h) {
  // POSIX semantics take the name away at once even while others hold the file open; older
  // systems (and Wine) only know the classic flag, which waits for the last handle.
  struct {
    DWORD flags;
  } ex{kDispositionDelete | kDispositionPosixSemantics};
  if (SetFileInformationByHandle(h, kDispositionInfoEx, &ex, sizeof ex)) return true;
  FILE_DISPOSITION_INFO info{TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

NTSTATUS renameHandle(HANDLE h, HANDLE toFolder, const std::wstring& toName) {
  const size_t nameBytes = toName.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFORMATION) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = toFolder;
  info->FileNameLength = static_cast<ULONG>(nameBytes);
  std::copy(toName.begin(), toName.end(), info->FileName);
  // The NT call itself: SetFileInformationByHandle's FileRenameInfo is the same request, but
  // Wine resolves its name against the current folder instead of the root directory.
  IO_STATUS_BLOCK io{};
  return NtSetInformationFile(h, &io, info, static_cast<ULONG>(buffer.size()),
                              FileRenameInformation);
}

// Copies the open file into a fresh temporary in `to`, renamed to `toName`; the copy's handle
// stays open (in `copy`) so a failure afterwards can still take it back.
bool copyInto(InputFile& file, HANDLE to, const std::wstring& toName, UniqueFile& copy, DWORD* code) {
  const std::wstring temp = L"~zorvek-tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(tempCounter++);
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status =
      openRelative(to, temp, GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, h);
  if (status < 0) return *code = codeOf(status), false;
  copy.reset(h);
  std::vector<char> buffer(1 << 16);
  for (long long at = 0;;) {
    const long long n = file.readAt(buffer.data(), buffer.size(), at);
    if (n < 0) return *code = GetLastError(), setDisposition(h), false;
    if (n == 0) break;
    DWORD written = 0;
    if (!WriteFile(h, buffer.data(), static_cast<DWORD>(n), &written, nullptr) || written != n)
      return *code = GetLastError(), setDisposition(h), false;
    at += n;
  }
  if (!FlushFileBuffers(h)) return *code = GetLastError(), setDisposition(h), false;
  const NTSTATUS renamed = renameHandle(h, to, toName);
  if (renamed < 0) return *code = codeOf(renamed), setDisposition(h), false;
  return true;
}

}  // namespace

SplitPath splitPath(const std::wstring& input) {
  std::wstring path = input;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  SplitPath out;
  size_t rest = 0;
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0 || (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0)) {
    // \\server\share\ (or its extended form): the share is where the walk starts.
    const size_t start = path.rfind(L"\\\\?\\UNC\\", 0) == 0 ? 8 : 2;
    const size_t server = path.find(L'\\', start);
    const size_t share = server == std::wstring::npos ? std::wstring::npos : path.find(L'\\', server + 1);
    out.root = L"\\\\" + path.substr(start, share == std::wstring::npos ? std::wstring::npos : share - start) + L"\\";
    rest = share == std::wstring::npos ? path.size() : share + 1;
  } else if (path.rfind(L"\\\\?\\", 0) == 0 && isDriveRoot(path, 4)) {
    out.root = path.substr(4, 3);
    rest = 7;
  } else if (isDriveRoot(path, 0)) {
    out.root = path.substr(0, 3);
    rest = 3;
  } else if (!path.empty()) {
    // Relative, drive-relative ("C:x") or rooted on the current drive ("\x"): made whole first.
    const std::wstring full = detail::fullPath(path);
    if (full != path && (isDriveRoot(full, 0) || full.rfind(L"\\\\", 0) == 0)) return splitPath(full);
  }
  while (rest < path.size()) {
    size_t end = path.find(L'\\', rest);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(rest, end - rest);
    if (!part.empty() && part != L".") out.parts.push_back(std::move(part));
    rest = end + 1;
  }
  return out;
}

void Folder::close() {
  if (handle_ != kInvalid) CloseHandle(asHandle(handle_));
  handle_ = kInvalid;
}

bool Folder::open(const std::wstring& path, Links links, Purpose purpose, std::string* error,
                  OpenFailure* why, bool create) {
  close();
  const SplitPath split = splitPath(path);
  if (split.root.empty()) {
    if (why) *why = OpenFailure::NotFound;
    return fail(error, "not a full path: " + toUtf8(path));
  }
  const bool rootIsLast = split.parts.empty();
  UniqueFile current(CreateFileW(
      split.root.c_str(), folderAccess(purpose, rootIsLast), kAllShares, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (links == Links::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
      nullptr));
  if (!current) {
    const DWORD code = GetLastError();
    if (why) *why = detail::failureOf(code);
    return fail(error, win32Text(("cannot open folder " + toUtf8(split.root)).c_str(), code));
  }
  if (!acceptFolder(current.get(), split.root, links, rootIsLast && purpose == Purpose::List,
                    error, why)) {
    return false;
  }
  for (size_t i = 0; i < split.parts.size(); ++i) {
    if (split.parts[i] == L"..") {
      if (why) *why = OpenFailure::NotFound;
      return fail(error, "the path goes up a folder: " + toUtf8(path));
    }
    const bool last = i + 1 == split.parts.size();
    HANDLE next = openStep(current.get(), split.parts[i], links, purpose, last, create, error, why);
    if (next == INVALID_HANDLE_VALUE) return false;
    current.reset(next);
  }
  handle_ = reinterpret_cast<intptr_t>(current.release());
  if (why) *why = OpenFailure::None;
  return true;
}

bool Folder::openChild(const Folder& parent, const std::wstring& name, Links links,
                       Purpose purpose, std::string* error, OpenFailure* why, bool create) {
  close();
  if (!parent) {
    if (why) *why = OpenFailure::Other;
    return fail(error, "folder is not open");
  }
  HANDLE h = openStep(asHandle(parent.handle_), name, links, purpose, true, create, error, why);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  if (why) *why = OpenFailure::None;
  return true;
}

bool Folder::openParentOf(const Folder&, std::string* error) {
  close();
  return fail(error, "the folder above cannot be opened from its child here");
}

bool Folder::list(std::vector<DirEntry>& out, std::string* error) const {
  out.clear();
  std::vector<unsigned char> buffer(64 * 1024);
  bool first = true;
  for (;;) {
    if (!GetFileInformationByHandleEx(asHandle(handle_),
                                      first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                      buffer.data(), static_cast<DWORD>(buffer.size()))) {
      const DWORD code = GetLastError();
      if (code == ERROR_NO_MORE_FILES) break;
      // An empty drive root answers "no files"; that is an empty folder, not a failure.
      if (first && code == ERROR_FILE_NOT_FOUND) break;
      return fail(error, win32Text("cannot list folder", code));
    }
    first = false;
    for (size_t at = 0;;) {
      if (at + sizeof(FILE_ID_BOTH_DIR_INFO) > buffer.size()) break;
      const auto* e = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
      const std::wstring name(e->FileName, e->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        DirEntry entry;
        entry.name = name;
        // Junctions and symbolic links are reparse points; following them can loop.
        if (e->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) entry.kind = DirEntry::Kind::Link;
        else if (e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) entry.kind = DirEntry::Kind::Directory;
        else if (e->FileAttributes & FILE_ATTRIBUTE_DEVICE) entry.kind = DirEntry::Kind::Other;
        else entry.kind = DirEntry::Kind::File;
        out.push_back(std::move(entry));
      }
      if (e->NextEntryOffset == 0) break;
      at += e->NextEntryOffset;
    }
  }
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool Folder::info(FileInfo& out) const {
  return handle_ != kInvalid && detail::fileInfoOf(asHandle(handle_), out);
}

bool Folder::entryInfo(const std::wstring& name, FileInfo& out, bool* isLink,
                       std::string* error, OpenFailure* why) const {
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status = openRelative(asHandle(handle_), name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       kAllShares, FILE_OPEN,
                                       FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT, h);
  if (status < 0) {
    if (why) *why = detail::failureOf(codeOf(status));
    return fail(error, win32Text("cannot read attributes", codeOf(status)));
  }
  if (why) *why = OpenFailure::None;
  const UniqueFile entry(h);
  BY_HANDLE_FILE_INFORMATION bi{};
  if (!detail::fileInfoOf(h, out) || !GetFileInformationByHandle(h, &bi))
    return fail(error, win32Text("cannot read attributes", GetLastError()));
  if (isLink) *isLink = (bi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return true;
}

size_t maxHeldFolders() { return std::numeric_limits<size_t>::max(); }

bool InputFile::openIn(const Folder& folder, const std::wstring& name, Links links, Access access,
                       std::string* error, OpenFailure* why) {
  close();
  ACCESS_MASK mask = FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
  // Moving: nobody else may write, rename or delete the file while it is held.
  ULONG share = FILE_SHARE_READ;
  if (access == Access::Move) mask |= DELETE;
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status = openRelative(
      asHandle(folder.native()), name, mask, share, FILE_OPEN,
      FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY |
          (links == Links::Refuse ? FILE_OPEN_REPARSE_POINT : 0),
      h);
  if (status < 0) {
    const DWORD code = codeOf(status);
    SetLastError(code);
    // A folder answers "access denied", which would read as a refusal of the client.
    if (why) *why = status == kFileIsADirectory ? OpenFailure::NotRegular : detail::failureOf(code);
    if (error) *error = win32Text("open failed", code);
    return false;
  }
  return detail::adoptRegularFile(h, links, handle_, error, why);
}

bool moveOpenedFile(InputFile& file, const Folder&, const std::wstring&, const Folder& to,
                    const std::wstring& toName, std::string* error, unsigned long* systemError) {
  if (systemError) *systemError = 0;
  const auto failed = [&](DWORD code, const char* what) {
    if (systemError) *systemError = code;
    return fail(error, win32Text(what, code));
  };
  const HANDLE h = asHandle(file.native());
  const NTSTATUS status = renameHandle(h, asHandle(to.native()), toName);
  if (status >= 0) return true;
  if (status != kNotSameDevice) return failed(codeOf(status), "rename failed");
  UniqueFile copy;
  DWORD code = 0;
  if (!copyInto(file, asHandle(to.native()), toName, copy, &code)) return failed(code, "copy failed");
  // Without the original gone this would be a copy, not a move.
  if (!setDisposition(h)) {
    code = GetLastError();
    setDisposition(copy.get());
    return failed(code, "cannot remove the original after copying");
  }
  file.close();
  return true;
}

bool removeOpenedFile(InputFile& file, const Folder& folder, const std::wstring& name,
                      std::string* error, unsigned long* systemError) {
  if (systemError) *systemError = 0;
  if (!setDisposition(asHandle(file.native()))) {
    const DWORD code = GetLastError();
    if (systemError) *systemError = code;
    file.close();
    return fail(error, win32Text("delete failed", code));
  }
  file.close();
  // With the classic flag the name stays until every other handle is closed.
  FileInfo left;
  if (folder.entryInfo(name, left)) {
    if (systemError) *systemError = ERROR_SHARING_VIOLATION;
    return fail(error, "delete failed: the file is still open in another program");
  }
  return true;
}

bool OutputFile::createIn(const Folder& folder, const std::wstring& name, std::string* error) {
  discard();
  // What is left at the name goes first, a link itself rather than its target; FILE_CREATE then
  // refuses anything that reappeared there.
  removeFileIn(folder, name);
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status = openRelative(asHandle(folder.native()), name, GENERIC_WRITE | SYNCHRONIZE,
                                       0, FILE_CREATE,
                                       FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, h);
  if (status < 0) return fail(error, win32Text("cannot create", codeOf(status)));
  handle_ = reinterpret_cast<intptr_t>(h);
  path_ = name;
  folder_ = &folder;
  failure_ = 0;
  return true;
}

bool replaceFileIn(const Folder& folder, const std::wstring& from, const std::wstring& to,
                   unsigned long* systemError) {
  const HANDLE root = asHandle(folder.native());
  HANDLE target = INVALID_HANDLE_VALUE;
  if (openRelative(root, to, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, kAllShares,
                   FILE_OPEN, FILE_OPEN_REPARSE_POINT, target) >= 0) {
    const UniqueFile held(target);
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(target, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
      // Zero times are left as they are.
      FILE_BASIC_INFO cleared{};
      cleared.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      SetFileInformationByHandle(target, FileBasicInfo, &cleared, sizeof cleared);
    }
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  NTSTATUS status = openRelative(root, from, DELETE | SYNCHRONIZE, FILE_SHARE_READ, FILE_OPEN,
                                 FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, h);
  if (status >= 0) {
    const UniqueFile held(h);
    status = renameHandle(h, root, to);
  }
  if (systemError) *systemError = status >= 0 ? 0 : codeOf(status);
  return status >= 0;
}

bool removeFileIn(const Folder& folder, const std::wstring& name, unsigned long* systemError) {
  HANDLE h = INVALID_HANDLE_VALUE;
  const NTSTATUS status = openRelative(asHandle(folder.native()), name,
                                       DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kAllShares,
                                       FILE_OPEN, FILE_OPEN_REPARSE_POINT, h);
  DWORD code = status >= 0 ? 0 : codeOf(status);
  if (status >= 0) {
    const UniqueFile held(h);
    BY_HANDLE_FILE_INFORMATION bi{};
    if (!GetFileInformationByHandle(h, &bi)) {
      code = GetLastError();
    } else if ((bi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               !(bi.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      code = ERROR_DIRECTORY;
    } else if (!setDisposition(h)) {
      code = GetLastError();
    }
  }
  if (systemError) *systemError = code;
  return code == 0;
}

}  // namespace zorvek
