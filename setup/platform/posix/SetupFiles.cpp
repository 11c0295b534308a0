#include "setup/platform/SetupFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/Text.h"
#include "common/platform/System.h"

namespace setup {
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

std::wstring tempFolder() {
  std::wstring folder = zorvek::environmentVariable(L"TMPDIR").value_or(L"");
  if (folder.empty()) folder = L"/tmp";
  if (folder.back() != L'/') folder += L'/';
  return folder;
}

bool createPrivateFolder(const std::wstring& path, bool* exists, std::string* error) {
  if (exists) *exists = false;
  if (::mkdir(zorvek::toUtf8(path).c_str(), 0700) == 0) return true;
  if (exists) *exists = errno == EEXIST;
  if (error) *error = std::strerror(errno);
  return false;
}

bool removeTree(const std::wstring& path, std::string* error) {
  // remove_all removes symbolic links without following them.
  std::error_code ec;
  std::filesystem::remove_all(zorvek::toPath(path), ec);
  if (ec && error) *error = ec.message();
  return !ec;
}

bool appendRecord(const std::wstring& path, std::string_view header, std::string_view record) {
  const int fd = ::open(zorvek::toUtf8(path).c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return false;
  struct stat st{};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            flock(fd, LOCK_EX) == 0;
  if (ok) {
    // The size is read under the lock: two writers of an empty file cannot both see it empty.
    ok = fstat(fd, &st) == 0;
    std::string bytes;
    if (ok && st.st_size == 0) bytes = header;
    bytes += record;
    ok = ok && writeAll(fd, bytes);
  }
  ::close(fd);  // also releases the lock
  return ok;
}

}  // namespace setup
