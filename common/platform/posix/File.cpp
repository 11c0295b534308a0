#include "common/platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Text.h"

namespace zorvek {

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path, Share, std::string* error) {
  close();
  const std::string native = toUtf8(path);
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = std::string("open failed: ") + std::strerror(errno);
    return false;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    if (error) *error = "open failed: is a directory";
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  handle_ = fd;
  return true;
}

long long InputFile::read(void* buffer, size_t size) {
  if (!isOpen()) return -1;
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

long long InputFile::size() const {
  struct stat st{};
  if (!isOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
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
