#include "common/platform/Process.h"

#include "common/platform/win32/Handle.h"

#include "common/Text.h"

namespace zorvek {
namespace {

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

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
  std::wstring line;
  for (const auto& a : args) {
    if (!line.empty()) line += L' ';
    appendQuotedArgument(line, a);
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(args[0].c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    if (error) *error = "CreateProcessW failed (win32=" + std::to_string(GetLastError()) + ")";
    return false;
  }
  const UniqueKernelHandle thread(pi.hThread);
  handle_ = reinterpret_cast<intptr_t>(pi.hProcess);
  return true;
}

bool ChildProcess::wait(uint32_t* exitCode) {
  if (!running()) return false;
  // The handle stays in handle_ during the wait, so kill() from another thread still reaches it.
  const HANDLE h = asHandle(handle_);
  const bool ok = WaitForSingleObject(h, INFINITE) == WAIT_OBJECT_0;
  DWORD code = 0;
  if (ok && exitCode && GetExitCodeProcess(h, &code)) *exitCode = code;
  KernelTraits::close(h);
  handle_ = kInvalid;
  return ok;
}

void ChildProcess::kill() {
  if (running()) TerminateProcess(asHandle(handle_), 137);
}

}  // namespace zorvek
