#include "service/realtime/ChangeWatcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/Logger.h"
#include "common/Text.h"
#include "service/FileScanner.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek::svc {
namespace {

// Close after write, moved in and created; folders only, never through a link.
constexpr uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_ONLYDIR |
                           IN_DONT_FOLLOW | IN_EXCL_UNLINK;
constexpr size_t kReadBytes = 65536;

std::wstring relativeJoin(const std::wstring& folder, const std::wstring& name) {
  return folder.empty() ? name : folder + L'/' + name;
}

// The service's own folders, by name and, for those that exist, by identity: a watched tree may
// reach one under another spelling (a linked watched folder, a bind mount).
class ServiceFolders {
 public:
  explicit ServiceFolders(const std::vector<std::wstring>& folders) {
    for (const std::wstring& f : folders) {
      if (f.empty()) continue;
      names_.push_back(f);
      struct stat st {};
      if (::stat(toUtf8(f).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        identities_.push_back({st.st_dev, st.st_ino});
    }
  }
  bool contain(const std::wstring& folder) const {
    for (const std::wstring& n : names_)
      if (isWithinFolder(folder, n)) return true;
    if (identities_.empty()) return false;
    struct stat st {};
    if (::stat(toUtf8(folder).c_str(), &st) != 0) return false;
    for (const auto& [dev, ino] : identities_)
      if (st.st_dev == dev && st.st_ino == ino) return true;
    return false;
  }

 private:
  std::vector<std::wstring> names_;
  std::vector<std::pair<dev_t, ino_t>> identities_;
};

// One watched folder: its own inotify instance, so an overflow names the folder it hit.
class Root {
 public:
  Root(std::wstring folder, int fd, const ServiceFolders& excluded)
      : folder_(std::move(folder)), fd_(fd), excluded_(excluded) {}
  ~Root() { ::close(fd_); }
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  const std::wstring& folder() const { return folder_; }
  int fd() const { return fd_; }
  size_t watchCount() const { return dirs_.size(); }

  // Watches `relative` and every folder below it. With `report`, the files found there count as
  // changed: they arrived before their folder was watched.
  void addTree(const std::wstring& relative, bool report, ChangeBatch* out, bool& limitLogged,
               const std::function<bool()>& stopping) {
    std::vector<std::wstring> pending{relative};
    std::vector<DirEntry> entries;
    while (!pending.empty()) {
      if (stopping && stopping()) return;
      const std::wstring rel = std::move(pending.back());
      pending.pop_back();
      const std::wstring full = rel.empty() ? folder_ : joinPath(folder_, rel);
      if (!rel.empty() && isExcludedFolder(full)) continue;
      // No watch at all inside the service's own folders: nothing there is ever seen.
      if (excluded_.contain(full)) continue;
      // The watched folder itself may be a link its owner chose; nothing below it is followed.
      const uint32_t mask = rel.empty() ? (kMask & ~static_cast<uint32_t>(IN_DONT_FOLLOW)) : kMask;
      const int wd = ::inotify_add_watch(fd_, toUtf8(full).c_str(), mask);
      if (wd < 0) {
        if (errno == ENOSPC) {
          if (!limitLogged) {
            logWarning("real-time: inotify watch limit reached, folders beyond it are not watched "
                       "(fs.inotify.max_user_watches)");
            limitLogged = true;
          }
          return;
        }
        continue;  // gone already, or not ours to read
      }
      dirs_[wd] = rel;
      // Listed after the watch exists, so nothing created in between is missed.
      if (!listFolder(full, entries)) continue;
      for (const DirEntry& e : entries) {
        if (e.kind == DirEntry::Kind::Directory) {
          pending.push_back(relativeJoin(rel, e.name));
        } else if (report && e.kind == DirEntry::Kind::File) {
          out->changes.push_back({folder_, relativeJoin(rel, e.name)});
        }
      }
    }
  }

  // A folder moved away: its watches now describe paths that no longer exist.
  void removeTree(const std::wstring& relative) {
    for (auto it = dirs_.begin(); it != dirs_.end();) {
      if (isWithinFolder(it->second, relative)) {
        ::inotify_rm_watch(fd_, it->first);
        it = dirs_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Reads every queued event.
  void drain(ChangeBatch& out, bool& limitLogged) {
    alignas(inotify_event) unsigned char buffer[kReadBytes];
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) return;  // EAGAIN: nothing more for now
      size_t offset = 0;
      const auto size = static_cast<size_t>(got);
      while (size - offset >= sizeof(inotify_event)) {
        inotify_event ev;
        std::memcpy(&ev, buffer + offset, sizeof ev);
        if (ev.len > size - offset - sizeof ev) break;
        const char* nameBytes = reinterpret_cast<const char*>(buffer + offset + sizeof ev);
        offset += sizeof ev + ev.len;
        handle(ev, std::string(nameBytes, ::strnlen(nameBytes, ev.len)), out, limitLogged);
      }
    }
  }

 private:
  void handle(const inotify_event& ev, const std::string& name, ChangeBatch& out,
              bool& limitLogged) {
    if (ev.mask & IN_Q_OVERFLOW) {
      out.lostOn.push_back(folder_);
      return;
    }
    const auto dir = dirs_.find(ev.wd);
    if (dir == dirs_.end()) return;
    if (ev.mask & IN_IGNORED) {
      dirs_.erase(dir);
      return;
    }
    if (name.empty()) return;
    const std::wstring rel = relativeJoin(dir->second, toWide(name));
    if (ev.mask & IN_ISDIR) {
      if (ev.mask & (IN_CREATE | IN_MOVED_TO)) addTree(rel, true, &out, limitLogged, {});
      else if (ev.mask & IN_MOVED_FROM) removeTree(rel);
      return;
    }
    if (ev.mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE)) out.changes.push_back({folder_, rel});
  }

  std::wstring folder_;
  int fd_;
  const ServiceFolders& excluded_;  // owned by the watcher
  std::unordered_map<int, std::wstring> dirs_;  // watch descriptor -> folder relative to folder_
};

class InotifyWatcher final : public ChangeWatcher {
 public:
  explicit InotifyWatcher(std::unique_ptr<ServiceFolders> excluded) : excluded_(std::move(excluded)) {}

  const ServiceFolders& excluded() const { return *excluded_; }
  void add(std::unique_ptr<Root> root) { roots_.push_back(std::move(root)); }
  bool empty() const { return roots_.empty(); }

  void wait(uint32_t ms, ChangeBatch& out) override {
    std::vector<pollfd> fds;
    for (const auto& r : roots_) fds.push_back({r->fd(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(ms)) <= 0) return;
    for (size_t i = 0; i < fds.size(); ++i)
      if (fds[i].revents & POLLIN) roots_[i]->drain(out, limitLogged_);
  }

  size_t watchedFolders() const override { return roots_.size(); }

  bool& limitLogged() { return limitLogged_; }

 private:
  std::unique_ptr<ServiceFolders> excluded_;  // before the roots, which refer to it
  std::vector<std::unique_ptr<Root>> roots_;
  bool limitLogged_ = false;
};

}  // namespace

std::unique_ptr<ChangeWatcher> openChangeWatcher(const std::vector<std::wstring>& folders,
                                                 const std::vector<std::wstring>& excluded,
                                                 const std::function<bool()>& stopping,
                                                 WatchStart* result) {
  *result = WatchStart::NothingOpened;
  auto watcher = std::make_unique<InotifyWatcher>(std::make_unique<ServiceFolders>(excluded));
  for (std::wstring folder : folders) {
    if (stopping && stopping()) break;
    while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
    struct stat st {};
    if (::stat(toUtf8(folder).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (watcher->excluded().contain(folder)) {
      logInfo("real-time: not watched, the service's own folder: " + toUtf8(folder));
      continue;
    }
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
      logError(std::string("real-time: inotify_init1 failed: ") + std::strerror(errno));
      *result = WatchStart::Failed;
      return nullptr;
    }
    auto root = std::make_unique<Root>(folder, fd, watcher->excluded());
    root->addTree(L"", false, nullptr, watcher->limitLogged(), stopping);
    if (root->watchCount() > 0) watcher->add(std::move(root));
  }
  if (watcher->empty()) return nullptr;
  *result = WatchStart::Started;
  return watcher;
}

std::vector<std::wstring> defaultWatchedFolders() {
  return {L"/home", L"/tmp", L"/opt", L"/usr/local", L"/srv", L"/root"};
}

bool isPlainFile(const std::wstring& path) {
  struct stat st {};
  return ::lstat(toUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isWithinFolder(std::wstring_view path, std::wstring_view folder) {
  while (folder.size() > 1 && folder.back() == L'/') folder.remove_suffix(1);
  if (folder.empty() || path.size() < folder.size() || path.substr(0, folder.size()) != folder)
    return false;
  // Not a sibling that merely begins with the same letters.
  return path.size() == folder.size() || path[folder.size()] == L'/' || folder.back() == L'/';
}

}  // namespace zorvek::svc
