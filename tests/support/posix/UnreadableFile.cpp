#include "UnreadableFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include "common/Text.h"
#include "common/platform/ClientIdentity.h"

namespace zorvek::test {

struct UnreadableFile::State {
  std::string path;
  mode_t mode = 0644;
  std::unique_ptr<ActingAs> acting;
};

UnreadableFile::UnreadableFile(const std::wstring& path) : state_(std::make_unique<State>()) {
  state_->path = toUtf8(path);
  struct stat st{};
  if (::stat(state_->path.c_str(), &st) != 0 || ::chmod(state_->path.c_str(), 0) != 0) {
    why_ = "cannot change the permissions of " + state_->path;
    return;
  }
  state_->mode = st.st_mode & 07777;
  if (::geteuid() == 0) {
    state_->acting = std::make_unique<ActingAs>(ClientIdentity::ofUser(65534, 65534, {}));
    if (!state_->acting->ok()) why_ = "this thread cannot act as another user";
  }
}

UnreadableFile::~UnreadableFile() {
  state_->acting.reset();
  ::chmod(state_->path.c_str(), state_->mode);
}

}  // namespace zorvek::test
