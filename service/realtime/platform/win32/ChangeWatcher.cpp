#include "service/realtime/ChangeWatcher.h"

#include <algorithm>
#include <span>

#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/win32/FileDetail.h"
#include "common/platform/win32/Handle.h"
#include "common/platform/win32/Win.h"
#include "service/FileScanner.h"
#include "service/platform/ScanPlatform.h"
#include "service/realtime/ChangeRecords.h"

namespace zorvek::svc {
namespace {

constexpr DWORD kBufferBytes = 65536;
// File name, size, last-write and creation changes.
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;
static_assert(kNotifyFilter == 0x59);
// Files of a folder that arrived whole taken at one notification; a larger tree is left to scans.
constexpr size_t kMaxArrivedFiles = 10000;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The service's own folders, each made whole once so that every record meets the same spelling.
class ServiceFolders {
 public:
  explicit ServiceFolders(const std::vector<std::wstring>& folders) {
    for (const std::wstring& f : folders)
      if (!f.empty()) folders_.push_back(detail::fullPath(f));
  }
  bool contain(const std::wstring& path) const {
    return std::any_of(folders_.begin(), folders_.end(),
                       [&](const std::wstring& f) { return isWithinFolder(path, f); });
  }

 private:
  std::vector<std::wstring> folders_;
};

bool isPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A folder moved or renamed into the tree draws one notification for itself and none for the
// files it brings: those count as changed too. Links below it are not followed.
void addArrivedFiles(const std::wstring& folder, const std::wstring& relative,
                     const ServiceFolders& excluded, ChangeBatch& out) {
  std::vector<std::wstring> pending{relative};
  std::vector<DirEntry> entries;
  size_t left = kMaxArrivedFiles;
  while (!pending.empty() && left > 0) {
    const std::wstring rel = std::move(pending.back());
    pending.pop_back();
    const std::wstring full = folder + L'\\' + rel;
    if (isExcludedFolder(full) || excluded.contain(full) || !listFolder(full, entries)) continue;
    for (const DirEntry& e : entries) {
      if (e.kind == DirEntry::Kind::Directory) {
        pending.push_back(rel + L'\\' + e.name);
      } else if (e.kind == DirEntry::Kind::File && left > 0) {
        out.changes.push_back({folder, rel + L'\\' + e.name});
        --left;
      }
    }
  }
}

struct Watch {
  std::wstring folder;
  UniqueFile directory;
  // DWORD-aligned, as the records must be.
  std::unique_ptr<DWORD[]> buffer{new DWORD[kBufferBytes / sizeof(DWORD)]};
  OVERLAPPED overlapped{};
  UniqueKernelHandle event;
  bool armed = false;

  bool arm() {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.get();
    armed = ReadDirectoryChangesW(directory.get(), buffer.get(), kBufferBytes, TRUE, kNotifyFilter,
                                  nullptr, &overlapped, nullptr) != 0;
    return armed;
  }
};

class Win32ChangeWatcher final : public ChangeWatcher {
 public:
  Win32ChangeWatcher(std::vector<std::unique_ptr<Watch>> watches, ServiceFolders excluded)
      : watches_(std::move(watches)), excluded_(std::move(excluded)) {}

  ~Win32ChangeWatcher() override {
    for (auto& w : watches_) {
      if (!w->armed) continue;
      // The system writes into the buffer until the read is over: wait for it before freeing.
      CancelIoEx(w->directory.get(), &w->overlapped);
      DWORD bytes = 0;
      GetOverlappedResult(w->directory.get(), &w->overlapped, &bytes, TRUE);
    }
  }

  void wait(uint32_t ms, ChangeBatch& out) override {
    HANDLE events[MAXIMUM_WAIT_OBJECTS] = {};
    const DWORD count = static_cast<DWORD>(watches_.size());
    for (DWORD i = 0; i < count; ++i) events[i] = watches_[i]->event.get();
    const DWORD woke = WaitForMultipleObjects(count, events, FALSE, ms);
    if (woke == WAIT_TIMEOUT) return;
    if (woke >= WAIT_OBJECT_0 + count) {
      Sleep(ms);
      return;
    }
    Watch& w = *watches_[woke - WAIT_OBJECT_0];
    DWORD bytes = 0;
    const bool done = GetOverlappedResult(w.directory.get(), &w.overlapped, &bytes, FALSE) != 0;
    const DWORD error = done ? 0 : GetLastError();
    w.armed = false;
    // An empty read means the system's buffer overflowed: the changes since the last read are
    // gone, and only the caller can tell the user.
    if ((done && bytes == 0) || error == ERROR_NOTIFY_ENUM_DIR) {
      out.lostOn.push_back(w.folder);
    } else if (done) {
      const size_t filled = bytes < kBufferBytes ? bytes : kBufferBytes;
      for (ChangeRecord& r : parseChangeRecords(
               std::span(reinterpret_cast<const uint8_t*>(w.buffer.get()), filled))) {
        const std::wstring full = w.folder + L'\\' + r.name;
        if (excluded_.contain(full)) continue;
        if ((r.action == FILE_ACTION_ADDED || r.action == FILE_ACTION_RENAMED_NEW_NAME) &&
            isPlainFolder(full)) {
          addArrivedFiles(w.folder, r.name, excluded_, out);
          continue;
        }
        out.changes.push_back({w.folder, std::move(r.name)});
      }
    }
    ResetEvent(w.event.get());
    w.arm();  // a folder that went away stays unarmed
  }

  size_t watchedFolders() const override { return watches_.size(); }

 private:
  std::vector<std::unique_ptr<Watch>> watches_;
  ServiceFolders excluded_;
};

}  // namespace

std::unique_ptr<ChangeWatcher> openChangeWatcher(const std::vector<std::wstring>& folders,
                                                 const std::vector<std::wstring>& excluded,
                                                 const std::function<bool()>& stopping,
                                                 WatchStart* result) {
  *result = WatchStart::NothingOpened;
  ServiceFolders serviceFolders(excluded);
  std::vector<std::unique_ptr<Watch>> watches;
  for (const std::wstring& folder : folders) {
    if (stopping && stopping()) break;
    if (serviceFolders.contain(detail::fullPath(folder))) {
      logInfo("real-time: not watched, the service's own folder: " + toUtf8(folder));
      continue;
    }
    UniqueFile directory(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!directory) continue;
    if (watches.size() == MAXIMUM_WAIT_OBJECTS) {
      logWarning("real-time: too many folders, not watched: " + toUtf8(folder));
      continue;
    }
    auto watch = std::make_unique<Watch>();
    watch->folder = folder;
    watch->directory = std::move(directory);
    watches.push_back(std::move(watch));
  }
  if (watches.empty()) return nullptr;

  for (auto& w : watches) {
    w->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!w->event) {
      logError("real-time: CreateEvent failed");
      *result = WatchStart::Failed;
      return nullptr;  // no read is armed yet
    }
  }
  for (auto& w : watches) {
    if (!w->arm()) {
      const DWORD error = GetLastError();
      logWarning("real-time: ReadDirectoryChangesW failed on " + toUtf8(w->folder) +
                 ", win32=" + std::to_string(error));
    }
  }
  *result = WatchStart::Started;
  return std::make_unique<Win32ChangeWatcher>(std::move(watches), std::move(serviceFolders));
}

std::vector<std::wstring> defaultWatchedFolders() {
  return {L"C:\\Users",         L"C:\\ProgramData",        L"C:\\Program Files",
          L"C:\\Program Files (x86)", L"C:\\Windows\\Temp", L"C:\\Windows\\Downloaded Files"};
}

bool isPlainFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                        FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool isWithinFolder(std::wstring_view path, std::wstring_view folder) {
  while (folder.size() > 1 && isSeparator(folder.back())) folder.remove_suffix(1);
  if (folder.empty() || path.size() < folder.size()) return false;
  if (path.size() > folder.size() && !isSeparator(path[folder.size()]) &&
      !isSeparator(folder.back()))
    return false;  // a sibling that merely begins with the same letters
  std::wstring a(path.substr(0, folder.size())), b(folder);
  std::replace(a.begin(), a.end(), L'/', L'\\');
  std::replace(b.begin(), b.end(), L'/', L'\\');
  // The file system's own case rule, beyond ASCII (user names in Cyrillic are common).
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace zorvek::svc
