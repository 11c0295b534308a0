#include "common/platform/Folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/Fail.h"
#include "common/Text.h"
#include "common/platform/posix/FileDetail.h"

namespace zorvek {
namespace {

std::string errnoText(const char* what, int err) {
  return std::string(what) + ": " + std::strerror(err);
}

bool failWith(std::string* error, OpenFailure* why, OpenFailure kind, std::string text) {
  if (why) *why = kind;
  return fail(error, std::move(text));
}

bool sameObject(int dirFd, const std::string& name, const FileIdentity& expected) {
  struct stat st{};
  if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return detail::fileInfoOf(st).identity == expected;
}

// One step of a walk down a path: `name` inside `dirFd`. O_PATH for the folders passed through
// (search permission is all they need); O_RDONLY for one to be listed, which needs read permission.
int openStep(int dirFd, const std::string& name, Links links, bool listable, bool create,
             std::string* error, OpenFailure* why) {
  const int flags = (listable ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC |
                    (links == Links::Refuse ? O_NOFOLLOW : 0);
  int fd = ::openat(dirFd, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(dirFd, name.c_str(), 0755) == 0) {
      // Made for someone else's file: give it the owner of the folder it is in, as if they had
      // made it. A link swapped in meanwhile is changed itself (AT_SYMLINK_NOFOLLOW), not followed.
      struct stat parent{};
      if (::fstat(dirFd, &parent) == 0 &&
          ::fchownat(dirFd, name.c_str(), parent.st_uid, parent.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
        // Left to the service then: the folder still serves the file.
      }
    }
    fd = ::openat(dirFd, name.c_str(), flags);
  }
  if (fd >= 0) return fd;
  const int err = errno;
  OpenFailure kind = detail::failureOf(err);
  // O_NOFOLLOW on a link to a folder answers ELOOP or ENOTDIR depending on the other flags.
  struct stat st{};
  if ((err == ELOOP || err == ENOTDIR) &&
      ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    kind = OpenFailure::Link;
  }
  if (why) *why = kind;
  if (error) {
    *error = kind == OpenFailure::Link ? "cannot open folder " + name + ": it is a link"
                                       : errnoText(("cannot open folder " + name).c_str(), err);
  }
  return -1;
}

// A name that stays inside the folder it is looked up in.
bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::atomic<unsigned> tempCounter{0};

// Copies the open file into a fresh temporary inside `toFd` and renames it to `toName`.
bool copyInto(int fromFile, int toFd, const std::string& toName, int* err) {
  const std::string temp = "~zorvek-tmp-" + std::to_string(::getpid()) + "-" +
                           std::to_string(tempCounter++);
  struct stat st{};
  if (::fstat(fromFile, &st) != 0) return *err = errno, false;
  const int out = ::openat(toFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           st.st_mode & 0777);
  if (out < 0) return *err = errno, false;
  bool ok = true;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fromFile, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
    at += n;
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (!ok) *err = errno;
  if (::close(out) != 0 && ok) ok = false, *err = errno;
  if (ok && ::renameat(toFd, temp.c_str(), toFd, toName.c_str()) != 0) ok = false, *err = errno;
  if (!ok) ::unlinkat(toFd, temp.c_str(), 0);
  return ok;
}

// A rename is durable only once the folder that holds the new name reaches the disk; an O_PATH
// descriptor cannot be synced itself.
void syncFolder(int dirFd) {
  const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

SplitPath splitPath(const std::wstring& path) {
  SplitPath out;
  if (!path.empty() && path[0] == L'/') out.root = L"/";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(start, end - start);
    if (!part.empty() && part != L".") out.parts.push_back(std::move(part));
    start = end + 1;
  }
  return out;
}

void Folder::close() {
  if (handle_ != kInvalid) ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

bool Folder::open(const std::wstring& path, Links links, Purpose purpose, std::string* error,
                  OpenFailure* why, bool create) {
  close();
  if (path.empty()) return failWith(error, why, OpenFailure::NotFound, "empty folder path");
  const SplitPath split = splitPath(path);
  const bool listable = purpose == Purpose::List;
  int fd = ::open(split.root.empty() ? "." : "/",
                  (split.parts.empty() && listable ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return failWith(error, why, detail::failureOf(err), errnoText("cannot open folder", err));
  }
  for (size_t i = 0; i < split.parts.size(); ++i) {
    const bool last = i + 1 == split.parts.size();
    const int next =
        openStep(fd, toUtf8(split.parts[i]), links, last && listable, create, error, why);
    ::close(fd);
    if (next < 0) return false;
    fd = next;
  }
  handle_ = fd;
  if (why) *why = OpenFailure::None;
  return true;
}

bool Folder::openChild(const Folder& parent, const std::wstring& name, Links links,
                       Purpose purpose, std::string* error, OpenFailure* why, bool create) {
  close();
  if (!parent) return failWith(error, why, OpenFailure::Other, "folder is not open");
  const int fd = openStep(static_cast<int>(parent.handle_), toUtf8(name), links,
                          purpose == Purpose::List, create, error, why);
  if (fd < 0) return false;
  handle_ = fd;
  if (why) *why = OpenFailure::None;
  return true;
}

bool Folder::openParentOf(const Folder& child, std::string* error) {
  close();
  const int fd = ::openat(static_cast<int>(child.handle_), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(error, errnoText("cannot open the folder above", errno));
  handle_ = fd;
  return true;
}

bool Folder::list(std::vector<DirEntry>& out, std::string* error) const {
  out.clear();
  // fdopendir takes the descriptor over; the folder keeps its own.
  const int fd = ::openat(static_cast<int>(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(error, errnoText("cannot list folder", errno));
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int err = errno;
    ::close(fd);
    return fail(error, errnoText("cannot list folder", err));
  }
  std::vector<std::pair<std::string, DirEntry::Kind>> raw;
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    unsigned char type = e->d_type;
    if (type == DT_UNKNOWN) {  // some file systems leave the type to lstat
      struct stat st{};
      if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(st.st_mode)) type = DT_REG;
        else if (S_ISDIR(st.st_mode)) type = DT_DIR;
        else if (S_ISLNK(st.st_mode)) type = DT_LNK;
      }
    }
    DirEntry::Kind kind = DirEntry::Kind::Other;
    if (type == DT_REG) kind = DirEntry::Kind::File;
    else if (type == DT_DIR) kind = DirEntry::Kind::Directory;
    else if (type == DT_LNK) kind = DirEntry::Kind::Link;
    raw.emplace_back(name, kind);
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) return fail(error, errnoText("cannot list folder", readError));
  // Byte order of the names: the same tree always walks the same way.
  std::sort(raw.begin(), raw.end());
  out.reserve(raw.size());
  for (auto& [name, kind] : raw) out.push_back({toWide(name), kind});
  return true;
}

bool Folder::info(FileInfo& out) const {
  struct stat st{};
  if (handle_ == kInvalid || ::fstat(static_cast<int>(handle_), &st) != 0) return false;
  out = detail::fileInfoOf(st);
  return true;
}

bool Folder::entryInfo(const std::wstring& name, FileInfo& out, bool* isLink,
                       std::string* error, OpenFailure* why) const {
  struct stat st{};
  if (::fstatat(static_cast<int>(handle_), toUtf8(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    const int err = errno;
    if (why) *why = detail::failureOf(err);
    return fail(error, errnoText("cannot read attributes", err));
  }
  if (why) *why = OpenFailure::None;
  out = detail::fileInfoOf(st);
  if (isLink) *isLink = S_ISLNK(st.st_mode);
  return true;
}

size_t maxHeldFolders() { return 64; }

bool InputFile::openIn(const Folder& folder, const std::wstring& name, Links links, Access,
                       std::string* error, OpenFailure* why) {
  close();
  const std::string native = toUtf8(name);
  const int fd =
      ::openat(static_cast<int>(folder.native()), native.c_str(),
               O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::Refuse ? O_NOFOLLOW : 0));
  if (fd < 0) {
    const int err = errno;
    if (why) *why = detail::failureOf(err);
    if (error) {
      *error = err == ELOOP && links == Links::Refuse ? "open failed: the path is a link"
                                                      : errnoText("open failed", err);
    }
    return false;
  }
  return detail::adoptRegularFile(fd, handle_, error, why);
}

bool moveOpenedFile(InputFile& file, const Folder& from, const std::wstring& name, const Folder& to,
                    const std::wstring& toName, std::string* error, unsigned long* systemError) {
  if (systemError) *systemError = 0;
  const auto failed = [&](int err, std::string text) {
    if (systemError) *systemError = static_cast<unsigned long>(err);
    return fail(error, std::move(text));
  };
  FileInfo opened;
  if (!file.info(opened)) return failed(errno, errnoText("cannot read the open file", errno));
  const int fromFd = static_cast<int>(from.native());
  const int toFd = static_cast<int>(to.native());
  const std::string source = toUtf8(name), target = toUtf8(toName);
  // The name may have been pointed at another file since it was opened; then move nothing.
  if (!sameObject(fromFd, source, opened.identity))
    return failed(ESTALE, "the file was replaced while it was being checked");
  if (::renameat(fromFd, source.c_str(), toFd, target.c_str()) == 0) {
    // Swapped in the instant between the check and the rename: put it back.
    if (!sameObject(toFd, target, opened.identity)) {
      ::renameat(toFd, target.c_str(), fromFd, source.c_str());
      return failed(ESTALE, "the file was replaced while it was being moved");
    }
    syncFolder(toFd);
    return true;
  }
  if (errno != EXDEV) return failed(errno, errnoText("rename failed", errno));
  int err = 0;
  if (!copyInto(static_cast<int>(file.native()), toFd, target, &err))
    return failed(err, errnoText("copy failed", err));
  // Without the original gone this would be a copy, not a move.
  if (!sameObject(fromFd, source, opened.identity) || ::unlinkat(fromFd, source.c_str(), 0) != 0) {
    const int unlinkError = errno;
    ::unlinkat(toFd, target.c_str(), 0);
    return failed(unlinkError ? unlinkError : ESTALE, "cannot remove the original after copying");
  }
  syncFolder(toFd);
  syncFolder(fromFd);
  return true;
}

bool removeOpenedFile(InputFile& file, const Folder& folder, const std::wstring& name,
                      std::string* error, unsigned long* systemError) {
  if (systemError) *systemError = 0;
  FileInfo opened;
  const bool known = file.info(opened);
  file.close();
  const int fd = static_cast<int>(folder.native());
  const std::string native = toUtf8(name);
  if (!known || !sameObject(fd, native, opened.identity)) {
    if (systemError) *systemError = ESTALE;
    return fail(error, "the file was replaced while it was being checked");
  }
  if (::unlinkat(fd, native.c_str(), 0) != 0) {
    if (systemError) *systemError = static_cast<unsigned long>(errno);
    return fail(error, errnoText("delete failed", errno));
  }
  syncFolder(fd);
  return true;
}

bool OutputFile::createIn(const Folder& folder, const std::wstring& name, std::string* error) {
  discard();
  const int dirFd = static_cast<int>(folder.native());
  const std::string native = toUtf8(name);
  if (!isPlainName(native)) return fail(error, "cannot create " + native + ": not a plain name");
  ::unlinkat(dirFd, native.c_str(), 0);
  const int fd =
      ::openat(dirFd, native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return fail(error, errnoText("cannot create", errno));
  handle_ = fd;
  path_ = name;
  folder_ = &folder;
  failure_ = 0;
  return true;
}

bool replaceFileIn(const Folder& folder, const std::wstring& from, const std::wstring& to,
                   unsigned long* systemError) {
  const int dirFd = static_cast<int>(folder.native());
  const std::string source = toUtf8(from), target = toUtf8(to);
  int err = 0;
  if (!isPlainName(source) || !isPlainName(target)) {
    err = EINVAL;
  } else if (::renameat(dirFd, source.c_str(), dirFd, target.c_str()) != 0) {
    err = errno;
  }
  if (systemError) *systemError = static_cast<unsigned long>(err);
  if (err != 0) return false;
  syncFolder(dirFd);
  return true;
}

bool removeFileIn(const Folder& folder, const std::wstring& name, unsigned long* systemError) {
  const std::string native = toUtf8(name);
  int err = 0;
  if (!isPlainName(native)) {
    err = EINVAL;
  } else if (::unlinkat(static_cast<int>(folder.native()), native.c_str(), 0) != 0) {
    err = errno;
  }
  if (systemError) *systemError = static_cast<unsigned long>(err);
  return err == 0;
}

}  // namespace zorvek
