#pragma once
// File access that differs between the platforms. Paths are wide strings.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvek {

class Folder;

// Facts of an opened file or folder.
struct FileIdentity {
  uint64_t volume = 0;  // device / volume serial number
  uint64_t index = 0;   // inode / file index
  bool operator==(const FileIdentity&) const = default;
};
struct FileInfo {
  uint64_t size = 0;      // 0 for folders
  uint64_t modified = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  bool directory = false;
  bool regular = false;  // an ordinary file: not a folder, FIFO, socket or device
  FileIdentity identity;
};

// Why an open failed, for callers that answer differently to each.
enum class OpenFailure { None, NotFound, Link, NotRegular, NotFolder, AccessDenied, Other };

// How an open treats a symbolic link, junction or other reparse point where it expects a file or
// a folder.
enum class Links { Follow, Refuse };

// A regular file opened for reading. Anything else (a folder, FIFO, socket or device) is refused
// without ever blocking: POSIX opens with O_NONBLOCK and checks the type on the opened
// descriptor; Windows checks the handle's type, and a named pipe cannot impersonate the opener.
class InputFile {
 public:
  enum class Share { ReadOnly, ReadWrite };
  // Move: the file may afterwards be renamed or deleted through this very handle, and nobody
  // else may write, rename or delete it while it is open (Windows; POSIX cannot hold it so).
  enum class Access { Read, Move };

  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Share::ReadOnly lets other openers read but not write while we hold the file.
  [[nodiscard]] bool open(const std::wstring& path, Share share = Share::ReadOnly,
                          std::string* error = nullptr, OpenFailure* why = nullptr);
  // The file `name` directly inside `folder`. With Links::Refuse a link there fails with
  // OpenFailure::Link instead of being followed.
  [[nodiscard]] bool openIn(const Folder& folder, const std::wstring& name, Links links,
                            Access access = Access::Read, std::string* error = nullptr,
                            OpenFailure* why = nullptr);
  // Reads up to `size` bytes; returns the count, 0 at the end of the file, -1 on a read error
  // (described in `error`).
  long long read(void* buffer, size_t size, std::string* error = nullptr);
  // Reads up to `size` bytes at `offset` without regard to the sequential position; several
  // threads may read one file this way at once. Same results as read().
  long long readAt(void* buffer, size_t size, long long offset, std::string* error = nullptr);
  // The file's size as the file system reports it, or -1.
  long long size() const;
  bool info(FileInfo& out) const;
  void close();
  bool isOpen() const { return handle_ != kInvalid; }
  // HANDLE on Windows, file descriptor on POSIX.
  intptr_t native() const { return handle_; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
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

// Who may read what the service writes. POSIX: OwnerOnly creates files 0600 and folders 0700;
// Shared leaves the usual 0644 and 0755 (less the umask). Windows: files and folders inherit the
// access list of the folder they are created in (the installer sets the data folder's).
enum class Privacy { Shared, OwnerOnly };

// Creates the folder and every missing parent; true when it exists afterwards. Folders that
// exist already keep their permissions.
bool createDirectories(const std::wstring& path, std::string* error = nullptr,
                       Privacy privacy = Privacy::Shared);
// POSIX: takes group and other permissions away from a file or folder this process owns (a link
// is left alone). Windows: nothing (access lists are the installer's).
void restrictToOwner(const std::wstring& path);

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
                         std::string* error = nullptr, Privacy privacy = Privacy::Shared);

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
// FILE_WRITE_DATA); POSIX: O_APPEND, and the file is readable by its owner only. Other openers
// may rename or delete the file meanwhile.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(AppendFile&& o) noexcept : handle_(o.handle_) { o.handle_ = kInvalid; }
  AppendFile& operator=(AppendFile&& o) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Opens or creates the file; `created` tells whether this call created it.
  bool open(const std::wstring& path, bool* created = nullptr, std::string* error = nullptr);
  // One write of all the bytes under the writers' lock; no buffering.
  bool write(const void* data, size_t size) {
    if (!isOpen()) return false;
    const bool locked = lock();
    const bool ok = writeLocked(data, size);
    if (locked) unlock();
    return ok;
  }

  // The writers' lock: a byte-range lock far beyond any real end of the file, so it keeps
  // neither readers nor the contents locked. Writers hold it while they append; a writer that
  // renames the file away holds it meanwhile, so the others see the rename before they append.
  // Windows: LockFileEx; POSIX: an open-file-description lock, so two handles of one process
  // exclude each other as two processes do.
  bool lock();
  void unlock();
  // write() for a caller that holds the lock.
  bool writeLocked(const void* data, size_t size);
  // True while `path` names the very file this handle has open: false once it was renamed away
  // or deleted, and when the path cannot be looked at.
  bool isAt(const std::wstring& path) const;

  long long size() const;
  void close();
  bool isOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
};

// A new file written front to back, for files that replace others once complete. Unbuffered:
// every write, the flush to the disk and the close are checked, and the first failure sticks.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // discards a file that was not finished

  // Creates the file. Whatever is left at the path (a temporary of an interrupted run, or a link
  // planted there) is removed first, and the new file is created exclusively, so a link is never
  // followed.
  [[nodiscard]] bool create(const std::wstring& path, std::string* error = nullptr);
  // The same for `name` directly inside `folder`, which must stay open until the file is finished
  // or discarded: the file lands in the folder that was opened, whatever its path names meanwhile.
  [[nodiscard]] bool createIn(const Folder& folder, const std::wstring& name,
                              std::string* error = nullptr);
  // Writes all the bytes; false once any write has failed.
  bool write(const void* data, size_t size);
  // Flushes to the disk and closes; false (with the system's reason) when a write, the flush or
  // the close failed. A finished file belongs to the caller; after a failure discard() (or the
  // destructor) removes it.
  [[nodiscard]] bool finish(std::string* error = nullptr);
  // Closes and deletes the file.
  void discard();
  bool isOpen() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // HANDLE on Windows, file descriptor on POSIX
  std::wstring path_;             // a name inside folder_ when that is set
  const Folder* folder_ = nullptr;
  unsigned long failure_ = 0;   // the first write's system error, 0 while all went well
};

// Moves a finished file over another: clears a read-only attribute of the target first (Windows),
// then as moveFile.
bool replaceFile(const std::wstring& from, const std::wstring& to,
                 unsigned long* systemError = nullptr);

}  // namespace zorvek

namespace zorvek {

// The system's hosts file. Windows: GetWindowsDirectoryW + "\System32\drivers\etc\hosts"
// (C:\Windows when that fails); POSIX: /etc/hosts.
std::wstring systemHostsPath();

// Replaces the hosts file through `temp`: see writeHostsAtomically (common/Hosts.h).
bool replaceHostsFile(const std::wstring& path, const std::wstring& temp, std::string_view bytes,
                      std::string* error);

}  // namespace zorvek
