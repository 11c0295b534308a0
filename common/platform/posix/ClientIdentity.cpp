#include "common/platform/ClientIdentity.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "common/platform/Pipe.h"

namespace zorvek {

struct ClientIdentity::Native {
  bool valid = false;  // false: the peer could not be identified; it may do nothing
  uint32_t uid = 0;
  uint32_t gid = 0;
  std::vector<uint32_t> groups;
};

namespace {

// The identity the calling thread acts for (null: the service's own).
thread_local const ClientIdentity::Native* tActing = nullptr;

constexpr uint32_t kNoChange = static_cast<uint32_t>(-1);

// The file-system ids and groups are per thread in the kernel; only the raw calls keep them so.
uint32_t setFsUid(uint32_t uid) { return static_cast<uint32_t>(::syscall(SYS_setfsuid, uid)); }
uint32_t setFsGid(uint32_t gid) { return static_cast<uint32_t>(::syscall(SYS_setfsgid, gid)); }
bool setThreadGroups(const std::vector<uint32_t>& groups) {
  std::vector<gid_t> list(groups.begin(), groups.end());
  return ::syscall(SYS_setgroups, list.size(), list.empty() ? nullptr : list.data()) == 0;
}
bool threadGroups(std::vector<uint32_t>& out) {
  const long n = ::syscall(SYS_getgroups, 0, nullptr);
  if (n < 0) return false;
  std::vector<gid_t> list(static_cast<size_t>(n));
  const long got = ::syscall(SYS_getgroups, list.size(), list.data());
  if (got < 0) return false;
  out.assign(list.begin(), list.begin() + got);
  return true;
}

bool inGroups(const ClientIdentity::Native& who, uint32_t gid) {
  if (who.gid == gid) return true;
  for (uint32_t g : who.groups)
    if (g == gid) return true;
  return false;
}

// Mode bits alone, for kernels without faccessat2: the class the client falls in decides.
bool modeAllowsWriteSearch(const ClientIdentity::Native& who, const struct stat& st) {
  mode_t need = 0;
  if (who.uid == st.st_uid) need = S_IWUSR | S_IXUSR;
  else if (inGroups(who, st.st_gid)) need = S_IWGRP | S_IXGRP;
  else need = S_IWOTH | S_IXOTH;
  return (st.st_mode & need) == need;
}

}  // namespace

ClientIdentity ClientIdentity::ofPipeClient(const ipc::PipeHandle& client) {
  auto native = std::make_shared<Native>();
  const int fd = static_cast<int>(client.get());
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
    native->valid = true;
    native->uid = cred.uid;
    native->gid = cred.gid;
    // Without the supplementary groups the client gets less, never more, than it has.
    std::vector<gid_t> groups(64);
    socklen_t size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    int rc = ::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size);
    if (rc != 0 && errno == ERANGE) {
      groups.resize(size / sizeof(gid_t) + 1);
      size = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
      rc = ::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &size);
    }
    if (rc == 0) native->groups.assign(
        groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(size / sizeof(gid_t)));
  }
  return ClientIdentity(std::move(native));
}

ClientIdentity ClientIdentity::ofCurrentProcess() {
  std::vector<uint32_t> groups;
  threadGroups(groups);
  return ofUser(::geteuid(), ::getegid(), std::move(groups));
}

ClientIdentity ClientIdentity::ofUser(uint32_t uid, uint32_t gid, std::vector<uint32_t> groups) {
  auto native = std::make_shared<Native>();
  native->valid = true;
  native->uid = uid;
  native->gid = gid;
  native->groups = std::move(groups);
  return ClientIdentity(std::move(native));
}

std::string ClientIdentity::describe() const {
  if (!native_) return "the service";
  if (!native_->valid) return "an unidentified client";
  return "uid " + std::to_string(native_->uid);
}

ActingAs::ActingAs(const ClientIdentity& client) {
  savedActing_ = tActing;
  const ClientIdentity::Native* who = client.native();
  if (!who) {
    ok_ = true;
    return;
  }
  if (!who->valid) return;
  savedUid_ = setFsUid(kNoChange);
  savedGid_ = setFsGid(kNoChange);
  if (!threadGroups(savedGroups_)) return;
  changed_ = true;
  // Groups and gid first: once the uid is not 0 the thread may no longer change them.
  ok_ = setThreadGroups(who->groups);
  if (ok_) {
    setFsGid(who->gid);
    ok_ = setFsGid(kNoChange) == who->gid;
  }
  if (ok_) {
    setFsUid(who->uid);
    ok_ = setFsUid(kNoChange) == who->uid;
  }
  if (ok_) tActing = who;
}

ActingAs::~ActingAs() {
  if (changed_) {
    setFsUid(savedUid_);
    setFsGid(savedGid_);
    setThreadGroups(savedGroups_);
  }
  tActing = static_cast<const ClientIdentity::Native*>(savedActing_);
}

bool actingClientMayDelete(const Folder& folder, const InputFile& file) {
  const ClientIdentity::Native* who = tActing;
  if (!who) return true;
  const int dirFd = static_cast<int>(folder.native());
  struct stat dir{}, entry{};
  if (::fstat(dirFd, &dir) != 0 || ::fstat(static_cast<int>(file.native()), &entry) != 0)
    return false;
  bool allowed = false;
#ifdef SYS_faccessat2
  // The kernel's own answer under the thread's file-system identity, access lists included.
  const long rc = ::syscall(SYS_faccessat2, dirFd, "", W_OK | X_OK, AT_EACCESS | AT_EMPTY_PATH);
  if (rc == 0) allowed = true;
  else if (errno == ENOSYS || errno == EINVAL) allowed = modeAllowsWriteSearch(*who, dir);
#else
  allowed = modeAllowsWriteSearch(*who, dir);
#endif
  // In a sticky folder (such as /tmp) only the owner of the file or of the folder may remove it.
  if (allowed && (dir.st_mode & S_ISVTX) && who->uid != entry.st_uid && who->uid != dir.st_uid)
    allowed = false;
  return allowed;
}

}  // namespace zorvek
