#pragma once
// Folders held open, so that what is done inside them happens in the folder that was checked,
// whatever its path has come to name since: a folder swapped for a link, or a path longer than
// the system's limit, changes nothing. POSIX: directory descriptors and the *at calls; Windows:
// directory handles and relative opens (NtCreateFile with a root directory).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/platform/File.h"

namespace zorvek {

struct DirEntry {
  enum class Kind { File, Directory, Link, Other };
  std::wstring name;
  Kind kind = Kind::Other;  // Link: any symbolic link, junction or other reparse point
};

class Folder {
 public:
  // List: its entries are read. Modify: files and folders are created, renamed or deleted in it.
  enum class Purpose { List, Modify };

  Folder() = default;
  Folder(Folder&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
  Folder& operator=(Folder&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, kInvalid);
    }
    return *this;
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() { close(); }

  // Opens a folder by its path, one component at a time from the root (a relative path starts at
  // the current folder). With Links::Refuse a link met anywhere on the way fails with
  // OpenFailure::Link. With `create`, missing components are made on the way: each gets the
  // owner of the folder it is made in (POSIX) or inherits that folder's access list (Windows).
  bool open(const std::wstring& path, Links links, Purpose purpose, std::string* error = nullptr,
            OpenFailure* why = nullptr, bool create = false);
  // A folder directly inside `parent`, on the same terms.
  bool openChild(const Folder& parent, const std::wstring& name, Links links, Purpose purpose,
                 std::string* error = nullptr, OpenFailure* why = nullptr, bool create = false);
  // The folder that holds `child` (for walks that let go of the folders above them). False where
  // the platform cannot name it from the child alone.
  bool openParentOf(const Folder& child, std::string* error = nullptr);

  // The entries without "." and "..", in the order of their names' bytes.
  bool list(std::vector<DirEntry>& out, std::string* error = nullptr) const;
  bool info(FileInfo& out) const;
  // An entry's facts; a link is described, not followed (`isLink` tells).
  bool entryInfo(const std::wstring& name, FileInfo& out, bool* isLink = nullptr,
                 std::string* error = nullptr, OpenFailure* why = nullptr) const;

  explicit operator bool() const { return handle_ != kInvalid; }
  void close();
  intptr_t native() const { return handle_; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // directory descriptor (POSIX), HANDLE (Windows)
};

// How many folders a walk keeps open before it lets go of the upper ones (POSIX descriptors are
// few; Windows handles are not, but there openParentOf cannot find the way back).
size_t maxHeldFolders();

// Moves `file`, open (with InputFile::Access::Move) as `name` inside `from`, to `toName` inside
// `to`, replacing a file there. The object moved is the opened one: POSIX renames only while the
// name still refers to it and checks again afterwards; Windows renames the open handle. Across
// file systems the bytes are copied through the open file and the original is then deleted.
// `systemError` receives the OS error number of a failure.
bool moveOpenedFile(InputFile& file, const Folder& from, const std::wstring& name, const Folder& to,
                    const std::wstring& toName, std::string* error = nullptr,
                    unsigned long* systemError = nullptr);

// Deletes `file`, open (with InputFile::Access::Move) as `name` inside `folder`, and closes it.
// Fails when the name no longer refers to the opened file, and when the name is still there
// afterwards (Windows: another program holds the file open and the delete waits for it).
bool removeOpenedFile(InputFile& file, const Folder& folder, const std::wstring& name,
                      std::string* error = nullptr, unsigned long* systemError = nullptr);

// Moves the file `from` over `to`, both directly inside `folder`. A link at either name is moved
// or replaced itself, never followed. Windows first clears a read-only attribute of `to`, which
// would refuse the move. `systemError` receives the OS error number of a failure.
bool replaceFileIn(const Folder& folder, const std::wstring& from, const std::wstring& to,
                   unsigned long* systemError = nullptr);
// Deletes the file or link `name` directly inside `folder`; a link goes itself, never what it
// names. A folder is refused.
bool removeFileIn(const Folder& folder, const std::wstring& name,
                  unsigned long* systemError = nullptr);

// Splits a path into the part the platform starts from (a drive root, a share, "/" or "" for a
// relative path) and its components, leaving out empty ones and ".".
struct SplitPath {
  std::wstring root;
  std::vector<std::wstring> parts;
};
SplitPath splitPath(const std::wstring& path);

}  // namespace zorvek
