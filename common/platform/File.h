#pragma once
// File access that differs between the platforms. Paths are wide strings.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvek {

// A file opened for sequential reading. Windows: CreateFileW with the sequential-scan hint;
// POSIX: open(2). Directories are refused on both, as CreateFileW refuses them.
class InputFile {
 public:
  enum class Share { ReadOnly, ReadWrite };

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Share::ReadOnly lets other openers read but not write while we hold the file.
  [[nodiscard]] bool open(const std::wstring& path, Share share = Share::ReadOnly,
                          std::string* error = nullptr);
  // Reads up to `size` bytes; returns the count, 0 at the end of the file, -1 on a read error.
  long long read(void* buffer, size_t size);
  // The file's size as the file system reports it, or -1.
  long long size() const;
  void close();
  bool isOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // HANDLE on Windows, file descriptor on POSIX
};

// True when the path names an existing file or folder (GetFileAttributesW / stat).
bool pathExists(const std::wstring& path);

}  // namespace zorvek

#include <cstdio>

namespace zorvek {
// fopen for a wide path (_wfopen on Windows). The caller closes the stream.
std::FILE* openStdioFile(const std::wstring& path, const char* mode);
}  // namespace zorvek
