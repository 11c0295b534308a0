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
  // Reads up to `size` bytes at `offset` without regard to the sequential position; several
  // threads may read one file this way at once. Same results as read().
  long long readAt(void* buffer, size_t size, long long offset);
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

#include <string_view>

namespace zorvek {

// The separator the platform's own paths use ('\\' on Windows, '/' on POSIX).
wchar_t pathSeparator();

// Creates the folder and every missing parent; true when it exists afterwards.
bool createDirectories(const std::wstring& path, std::string* error = nullptr);

// Reads a whole file. `missing` (when given) tells a file that does not exist apart from one that
// exists but cannot be read: callers that rewrite what they read must not treat the second as
// empty. Readers share delete access, so they never block writeFileAtomically.
bool readWholeFile(const std::wstring& path, std::string& out, std::string* error = nullptr,
                   bool* missing = nullptr);

// Replaces the file's contents so that a crash, a kill or a full disk at any moment leaves either
// the old file or the new one, never a mix: the bytes go to a fresh temporary file in the same
// folder, reach the disk, and the temporary is then moved over the old file. On failure the old
// file is untouched and the temporary is gone.
bool writeFileAtomically(const std::wstring& path, std::string_view bytes,
                         std::string* error = nullptr);

// Moves a file, replacing an existing target; across volumes or file systems it copies and then
// deletes the source. `systemError` receives the OS error number of a failure (GetLastError /
// errno), 0 on success.
bool moveFile(const std::wstring& from, const std::wstring& to, unsigned long* systemError = nullptr);

// Deletes a file; `systemError` as for moveFile. A missing file is a failure.
bool removeFile(const std::wstring& path, unsigned long* systemError = nullptr);

// The file's size, or -1 when it cannot be read.
long long fileSize(const std::wstring& path);

// A file opened for appending whole records, shared with other writers and other processes:
// every write lands at the end of the file as one piece, so concurrent writers never overwrite
// or split each other's records. Windows: an append-only handle (FILE_APPEND_DATA without
// FILE_WRITE_DATA); POSIX: O_APPEND.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens or creates the file; `created` tells whether this call created it.
  bool open(const std::wstring& path, bool* created = nullptr, std::string* error = nullptr);
  // One write of all the bytes; no buffering.
  bool write(const void* data, size_t size);
  long long size() const;
  void close();
  bool isOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
};

}  // namespace zorvek

namespace zorvek {

// The system's hosts file. Windows: GetWindowsDirectoryW + "\System32\drivers\etc\hosts"
// (C:\Windows when that fails); POSIX: /etc/hosts.
std::wstring systemHostsPath();

// Replaces the hosts file through `temp`: see writeHostsAtomically (common/Hosts.h).
bool replaceHostsFile(const std::wstring& path, const std::wstring& temp, std::string_view bytes,
                      std::string* error);

}  // namespace zorvek
