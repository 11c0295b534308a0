#pragma once
// Who a pipe client is, so that the service, which runs with full rights, can act on files with
// the client's rights instead of its own.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorvek {

namespace ipc {
class PipeHandle;
}
class Folder;
class InputFile;

class ClientIdentity {
 public:
  struct Native;  // POSIX: uid, gid, groups; Windows: an identification token

  // The service itself: full rights.
  ClientIdentity() = default;
  // The client connected to the pipe (Windows: it must have written to the pipe first). When its
  // identity cannot be read, the result may do nothing at all.
  static ClientIdentity ofPipeClient(const ipc::PipeHandle& client);
  // This process's own user, as a client (for tests and tools); on Windows the thread's
  // impersonation token when it has one.
  static ClientIdentity ofCurrentProcess();
  // POSIX: a user with its primary and supplementary groups. Elsewhere an identity that may do
  // nothing.
  static ClientIdentity ofUser(uint32_t uid, uint32_t gid, std::vector<uint32_t> groups);

  bool isService() const { return !native_; }
  // For logs: "uid 1000" or "the service".
  std::string describe() const;
  const Native* native() const { return native_.get(); }

 private:
  explicit ClientIdentity(std::shared_ptr<const Native> native) : native_(std::move(native)) {}
  std::shared_ptr<const Native> native_;
};

// While it lives, file access on the calling thread goes no further than the client's. POSIX: the
// thread's file-system uid, gid and groups become the client's (raw system calls: glibc's
// wrappers change every thread of the process). Windows: every Folder and InputFile open on this
// thread first checks the client's token against the object it opened. Acting for the service
// changes nothing.
class ActingAs {
 public:
  explicit ActingAs(const ClientIdentity& client);
  ~ActingAs();
  ActingAs(const ActingAs&) = delete;
  ActingAs& operator=(const ActingAs&) = delete;

  // False when the identity could not be taken: nothing may be done for the client then.
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  bool changed_ = false;
  uint32_t savedUid_ = 0, savedGid_ = 0;
  std::vector<uint32_t> savedGroups_;
  const void* savedActing_ = nullptr;
};

// Whether the client this thread acts for could delete `file`, open as an entry of `folder`
// (opened with Folder::Purpose::Modify): POSIX asks the kernel for write and search permission on
// the folder under the client's identity and applies the sticky-bit rule; Windows checks DELETE
// on the file or FILE_DELETE_CHILD on the folder against the client's token. True when acting for
// the service.
bool actingClientMayDelete(const Folder& folder, const InputFile& file);

}  // namespace zorvek
