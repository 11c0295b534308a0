#include "common/platform/Process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Text.h"

namespace zorvek {

ChildProcess::~ChildProcess() {
  if (running()) {
    kill();
    wait();
  }
}

bool ChildProcess::start(const std::vector<std::wstring>& args, std::string* error) {
  if (running() || args.empty()) {
    if (error) *error = running() ? "a child is already running" : "no program given";
    return false;
  }
  // Everything the child needs is prepared before fork: only exec and _exit run after it.
  std::vector<std::string> narrow;
  for (const auto& a : args) narrow.push_back(toUtf8(a));
  std::vector<char*> argv;
  for (auto& a : narrow) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    if (error) *error = std::string("fork failed: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  handle_ = pid;
  return true;
}

bool ChildProcess::wait(uint32_t* exitCode) {
  if (!running()) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(static_cast<pid_t>(handle_), &status, 0);
  } while (r < 0 && errno == EINTR);
  handle_ = kInvalid;
  if (r < 0) return false;
  if (exitCode) {
    *exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status))
                                  : 128u + static_cast<uint32_t>(WTERMSIG(status));
  }
  return true;
}

void ChildProcess::kill() {
  if (running()) ::kill(static_cast<pid_t>(handle_), SIGKILL);
}

}  // namespace zorvek
