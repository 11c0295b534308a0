#pragma once
// Change notifications on whole folder trees. Windows: ReadDirectoryChangesW, one overlapped read
// per folder (64 KiB buffer, file name, size, last-write and creation changes). Linux: inotify,
// one instance per folder with a watch on every folder below it; new folders get watches as they
// appear, and the files already in a folder that moved in count as changed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/Folder.h"

namespace zorvek::svc {

struct FolderChange {
  std::wstring folder;  // the watched folder
  std::wstring name;    // relative to it; may name subfolders
};

struct ChangeBatch {
  std::vector<FolderChange> changes;
  // Watched folders whose notifications overflowed since the last wait: changes were lost.
  std::vector<std::wstring> lostOn;
};

class ChangeWatcher {
 public:
  virtual ~ChangeWatcher() = default;  // cancels the pending reads and closes everything
  // Waits up to `ms` for changes and appends them to `out`.
  virtual void wait(uint32_t ms, ChangeBatch& out) = 0;
  // How many of the folders given to openChangeWatcher are watched.
  virtual size_t watchedFolders() const = 0;
};

enum class WatchStart { Started, NothingOpened, Failed };

// Watches every folder of the list that can be opened; the others are skipped. Null when none
// could be opened or the watch could not be set up (`result` tells which; the platform logs the
// reason of a failure). `stopping` ends a long set-up early.
// Nothing inside `excluded` is ever reported, and a watched folder inside one is not watched:
// inotify sets no watch there; Windows, whose watch takes the whole tree, drops those records by
// name before anything is opened.
std::unique_ptr<ChangeWatcher> openChangeWatcher(const std::vector<std::wstring>& folders,
                                                 const std::vector<std::wstring>& excluded,
                                                 const std::function<bool()>& stopping,
                                                 WatchStart* result);

// Whether `path` is `folder` or lies below it, compared as the platform's file system compares
// names (Windows: case ignored, either separator). Trailing separators of `folder` do not count.
bool isWithinFolder(std::wstring_view path, std::wstring_view folder);

// The entries of a folder, for the walks that bring folders under watch. Only names come of it:
// each file is judged later by its path, on the scanner's own terms.
inline bool listFolder(const std::wstring& path, std::vector<DirEntry>& out) {
  Folder folder;
  return folder.open(path, Links::Follow, Folder::Purpose::List) && folder.list(out);
}

// The folders real-time protection watches unless told otherwise.
std::vector<std::wstring> defaultWatchedFolders();

// A regular file reached without following a link (Windows: no reparse point); devices, FIFOs
// and folders are not. Real-time protection opens nothing else.
bool isPlainFile(const std::wstring& path);

}  // namespace zorvek::svc
