#pragma once
// Stands in for a full disk: while the object lives, writes of this process beyond `bytes` fail
// with EFBIG instead of raising SIGXFSZ. Root is bound by it too.
#include <signal.h>
#include <sys/resource.h>

namespace zorvek::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    handler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved_;
    small.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool active() const { return active_; }

 private:
  struct rlimit saved_{};
  sighandler_t handler_ = SIG_DFL;
  bool active_ = false;
};

}  // namespace zorvek::test
