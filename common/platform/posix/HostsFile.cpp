#include "common/platform/HostsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/Text.h"

namespace zorvek {
namespace {

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

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
  ok = ok && writeAll(fd, bytes) && ::fsync(fd) == 0;
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
