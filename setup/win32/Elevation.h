#pragma once
// Administrator rights: the check, and the relaunch of the installer with them.

#include <cstdint>
#include <string>

#include "setup/SetupOptions.h"

namespace setup {

// Membership of the current thread's token in Administrators (S-1-5-32-544). A failing check
// counts as not administrator.
bool isAdministrator();

struct ElevatedRun {
  bool started = false;
  uint32_t error = 0;     // why it did not start
  uint32_t exitCode = 1;  // of the finished program; 1 when it cannot be read
};

// Starts `program` with the "runas" verb and waits for it without limit.
ElevatedRun runElevated(const std::wstring& program, const std::wstring& arguments);

// The relaunch of this installer with the same options, reported in the log and, on failure, in
// a message box. Returns the exit code for the un-elevated copy.
uint32_t relaunchElevated(const SetupOptions& options, const std::wstring& logPath);

// An error message box of the installer.
void showError(const std::wstring& text);

}  // namespace setup
