#include "common/platform/File.h"
#include "common/platform/Folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Text.h"
#include "common/platform/posix/FileDetail.h"

namespace zorvek {
namespace {
// Repeats a read that a signal interrupted.
template <typename Read>
long long retryInterrupted(Read read) {
  for (;;) {
    const ssize_t n = read();
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}
}  // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path, Share, std::string* error, OpenFailure* why) {
  close();
  const std::string native = toUtf8(path);
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (why) *why = detail::failureOf(errno);
    if (error) *error = std::string("open failed: ") + std::strerror(errno);
    return false;
  }
  return detail::adoptRegularFile(fd, handle_, error, why);
}

long long InputFile::read(void* buffer, size_t size, std::string* error) {
  if (!isOpen()) return -1;
  const long long n =
      retryInterrupted([&] { return ::read(static_cast<int>(handle_), buffer, size); });
  if (n < 0 && error) *error = std::string("read failed: ") + std::strerror(errno);
  return n;
}

long long InputFile::readAt(void* buffer, size_t size, long long offset, std::string* error) {
  if (!isOpen() || offset < 0) return -1;
  const long long n = retryInterrupted([&] {
    return ::pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
  });
  if (n < 0 && error) *error = std::string("read failed: ") + std::strerror(errno);
  return n;
}

long long InputFile::size() const {
  struct stat st{};
  if (!isOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

bool InputFile::info(FileInfo& out) const {
  struct stat st{};
  if (!isOpen() || fstat(static_cast<int>(handle_), &st) != 0) return false;
  out = detail::fileInfoOf(st);
  return true;
}

void InputFile::close() {
  if (isOpen()) ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

bool pathExists(const std::wstring& path) {
  struct stat st{};
  return ::stat(toUtf8(path).c_str(), &st) == 0;
}

}  // namespace zorvek

namespace zorvek {
std::FILE* openStdioFile(const std::wstring& path, const char* mode) {
  return std::fopen(toUtf8(path).c_str(), mode);
}
}  // namespace zorvek

#include <atomic>
#include <filesystem>
#include <string_view>

namespace zorvek {
namespace {

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is only durable once the folder holding the new name reaches the disk.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Copies into a temporary beside the target and renames it into place, so the target never
// holds half a copy.
bool copyAcross(const std::string& from, const std::string& to, int* err) {
  static std::atomic<unsigned> counter{0};
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return *err = errno, false;
  struct stat st{};
  if (fstat(in, &st) != 0) return *err = errno, ::close(in), false;
  const std::string temp =
      to + ".part-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) return *err = errno, ::close(in), false;
  bool ok = true;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!writeAll(out, buffer, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (!ok) *err = errno;
  ::close(in);
  if (::close(out) != 0 && ok) ok = false, *err = errno;
  if (ok && ::rename(temp.c_str(), to.c_str()) != 0) ok = false, *err = errno;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

wchar_t pathSeparator() { return L'/'; }

bool createDirectories(const std::wstring& path, std::string* error, Privacy privacy) {
  std::error_code ec;
  const std::filesystem::path p = toPath(path);
  if (privacy == Privacy::OwnerOnly) {
    // Each missing folder is made owner-only as it is created: a chmod afterwards would leave a
    // moment in which others could open it and keep it open.
    std::filesystem::path built;
    for (const auto& part : p) {
      built /= part;
      if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) {
        ec.assign(errno, std::generic_category());
        break;
      }
    }
  } else {
    std::filesystem::create_directories(p, ec);
  }
  // A path that cannot even be looked at (a loop of links, a folder we may not enter) must fail
  // here rather than throw.
  std::error_code statEc;
  if (std::filesystem::is_directory(p, statEc)) return true;
  if (!ec) ec = statEc;
  if (error) *error = "cannot create folder: " + (ec ? ec.message() : std::string("not a folder"));
  return false;
}

void restrictToOwner(const std::wstring& path) {
  struct stat st{};
  const std::string native = toUtf8(path);
  if (::lstat(native.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || st.st_uid != ::geteuid()) return;
  ::chmod(native.c_str(), st.st_mode & 07700);
}

bool readWholeFile(const std::wstring& path, std::string& out, std::string* error, bool* missing) {
  out.clear();
  if (missing) *missing = false;
  const int opened = ::open(toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (opened < 0) {
    if (missing) *missing = errno == ENOENT || errno == ENOTDIR;
    if (error) *error = errnoText("open failed");
    return false;
  }
  intptr_t handle = -1;
  if (!detail::adoptRegularFile(opened, handle, error, nullptr)) return false;
  const int fd = static_cast<int>(handle);
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = errnoText("read failed");
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool writeFileAtomically(const std::wstring& path, std::string_view bytes, std::string* error,
                         Privacy privacy) {
  static std::atomic<unsigned> counter{0};
  const std::string target = toUtf8(path);
  // Distinct per process and thread, so concurrent savers never share a temporary.
  const std::string temp =
      target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  const mode_t mode = privacy == Privacy::OwnerOnly ? 0600 : 0644;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    if (error) *error = errnoText("cannot create");
    return false;
  }
  bool ok = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  if (!ok && error) *error = errnoText("write failed");
  if (::close(fd) != 0 && ok) {
    ok = false;
    if (error) *error = errnoText("write failed");
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    if (error) *error = errnoText("cannot replace");
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  syncFolder(parentOf(target));
  return true;
}

bool moveFile(const std::wstring& from, const std::wstring& to, unsigned long* systemError) {
  const std::string source = toUtf8(from), target = toUtf8(to);
  int err = 0;
  if (::rename(source.c_str(), target.c_str()) == 0) {
    syncFolder(parentOf(target));
  } else if (errno != EXDEV) {
    err = errno;
  } else if (copyAcross(source, target, &err)) {
    // The copy is in place; without the source gone this would be a copy, not a move.
    if (::unlink(source.c_str()) != 0) {
      err = errno;
      ::unlink(target.c_str());
    } else {
      syncFolder(parentOf(target));
    }
  }
  if (systemError) *systemError = static_cast<unsigned long>(err);
  return err == 0;
}

bool removeFile(const std::wstring& path, unsigned long* systemError) {
  const bool ok = ::unlink(toUtf8(path).c_str()) == 0;
  if (systemError) *systemError = ok ? 0 : static_cast<unsigned long>(errno);
  return ok;
}

long long fileSize(const std::wstring& path) {
  struct stat st{};
  if (::stat(toUtf8(path).c_str(), &st) != 0) return -1;
  return st.st_size;
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
  const std::string native = toUtf8(path);
  bool made = false;
  int fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) {
    made = true;
  } else if (errno == EEXIST) {
    fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  }
  if (fd < 0) {
    if (error) *error = errnoText("open failed");
    return false;
  }
  if (created) *created = made;
  // A file an older version made readable by all is closed again.
  struct stat st{};
  if (!made && ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
    ::fchmod(fd, st.st_mode & 07700);
  handle_ = fd;
  return true;
}

namespace {
// The same range as on Windows: one byte just below the largest offset.
bool setWritersLock(int fd, short type) {
  struct flock range{};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0x7FFFFFFFFFFFFFF0ll;
  range.l_len = 1;
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLKW, &range) == 0) return true;
    if (errno != EINTR) return false;
  }
}
}  // namespace

bool AppendFile::lock() { return isOpen() && setWritersLock(static_cast<int>(handle_), F_WRLCK); }

void AppendFile::unlock() {
  if (isOpen()) setWritersLock(static_cast<int>(handle_), F_UNLCK);
}

bool AppendFile::writeLocked(const void* data, size_t size) {
  return isOpen() && writeAll(static_cast<int>(handle_), static_cast<const char*>(data), size);
}

bool AppendFile::isAt(const std::wstring& path) const {
  struct stat mine{}, there{};
  return isOpen() && ::fstat(static_cast<int>(handle_), &mine) == 0 &&
         ::stat(toUtf8(path).c_str(), &there) == 0 && mine.st_dev == there.st_dev &&
         mine.st_ino == there.st_ino;
}

long long AppendFile::size() const {
  struct stat st{};
  if (!isOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

void AppendFile::close() {
  if (isOpen()) ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(const std::wstring& path, std::string* error) {
  discard();
  const std::string native = toUtf8(path);
  ::unlink(native.c_str());
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = errnoText("cannot create");
    return false;
  }
  handle_ = fd;
  path_ = path;
  failure_ = 0;
  return true;
}

bool OutputFile::write(const void* data, size_t size) {
  if (!isOpen() || failure_ != 0) return false;
  if (writeAll(static_cast<int>(handle_), static_cast<const char*>(data), size)) return true;
  failure_ = static_cast<unsigned long>(errno != 0 ? errno : EIO);
  return false;
}

bool OutputFile::finish(std::string* error) {
  if (!isOpen()) {
    if (error) *error = "write failed: the file is not open";
    return false;
  }
  const int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  int code = static_cast<int>(failure_);
  if (code == 0 && ::fsync(fd) != 0) code = errno;
  if (::close(fd) != 0 && code == 0) code = errno;
  if (code != 0) {
    failure_ = static_cast<unsigned long>(code);
    if (error) *error = std::string("write failed: ") + std::strerror(code);
    return false;
  }
  path_.clear();
  folder_ = nullptr;
  return true;
}

void OutputFile::discard() {
  if (isOpen()) ::close(static_cast<int>(handle_));
  handle_ = kInvalid;
  if (!path_.empty()) {
    if (folder_) {
      removeFileIn(*folder_, path_);
    } else {
      ::unlink(toUtf8(path_).c_str());
    }
  }
  path_.clear();
  folder_ = nullptr;
}

bool replaceFile(const std::wstring& from, const std::wstring& to, unsigned long* systemError) {
  return moveFile(from, to, systemError);
}

}  // namespace zorvek

namespace zorvek {

std::wstring systemHostsPath() { return L"/etc/hosts"; }

bool replaceHostsFile(const std::wstring& path, const std::wstring& temp, std::string_view bytes,
                      std::string* error) {
  const std::string target = toUtf8(path), scratch = toUtf8(temp);
  struct stat old{};
  const bool haveOld = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  // A temporary left by a killed run is ours to replace; anything else there makes O_EXCL fail.
  ::unlink(scratch.c_str());
  const int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = "cannot write temp hosts";
    return false;
  }
  // The replacement keeps the old file's owner and mode: other programs read the hosts file.
  // Changing the owner needs root; without it the file stays the writer's own.
  bool ok = true;
  if (haveOld && ::fchown(fd, old.st_uid, old.st_gid) != 0 && ::geteuid() == 0) ok = false;
  ok = ok && ::fchmod(fd, haveOld ? (old.st_mode & 07777) : 0644) == 0;
  ok = ok && writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(scratch.c_str());
    if (error) *error = "cannot write temp hosts";
    return false;
  }
  if (::rename(scratch.c_str(), target.c_str()) != 0) {
    const int code = errno;
    ::unlink(scratch.c_str());
    if (error) *error = "cannot replace hosts, errno=" + std::to_string(code);
    return false;
  }
  return true;
}

}  // namespace zorvek

namespace zorvek::detail {

OpenFailure failureOf(int err) {
  switch (err) {
    case ENOENT:
      return OpenFailure::NotFound;
    case ELOOP:
      return OpenFailure::Link;
    case ENOTDIR:
      return OpenFailure::NotFolder;
    case EACCES:
    case EPERM:
      return OpenFailure::AccessDenied;
    default:
      return OpenFailure::Other;
  }
}

FileInfo fileInfoOf(const struct stat& st) {
  // Seconds between 1601-01-01 and 1970-01-01.
  constexpr uint64_t kEpochDelta = 11644473600ull;
  FileInfo out;
  out.directory = S_ISDIR(st.st_mode);
  out.regular = S_ISREG(st.st_mode);
  out.size = out.regular && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  if (st.st_mtim.tv_sec >= 0) {
    out.modified = (static_cast<uint64_t>(st.st_mtim.tv_sec) + kEpochDelta) * 10000000ull +
                   static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  }
  out.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return out;
}

bool adoptRegularFile(int fd, intptr_t& handle, std::string* error, OpenFailure* why) {
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const bool folder = S_ISDIR(st.st_mode);
    ::close(fd);
    errno = folder ? EISDIR : EINVAL;
    if (why) *why = OpenFailure::NotRegular;
    if (error) *error = folder ? "open failed: is a directory" : "open failed: not a regular file";
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  handle = fd;
  if (why) *why = OpenFailure::None;
  return true;
}

}  // namespace zorvek::detail
