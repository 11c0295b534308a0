#pragma once
// A child process started from an argument list (Windows: CreateProcessW with the arguments
// quoted as the CRT parses them; POSIX: fork + execv).

#include <cstdint>
#include <string>
#include <vector>

namespace zorvek {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills a child that is still running

  // args[0] is the program path.
  bool start(const std::vector<std::wstring>& args, std::string* error = nullptr);
  // Waits for the exit; false when there is no child or the wait fails. A child ended by a
  // signal reports 128 + the signal number.
  bool wait(uint32_t* exitCode = nullptr);
  // Ends the child at once, as a crash or a kill from outside would.
  void kill();
  bool running() const { return handle_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // process HANDLE on Windows, pid on POSIX
};

}  // namespace zorvek
