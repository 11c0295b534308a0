#pragma once
// What the installation registers for the user and in the list of installed programs: the
// uninstall entry, the logon autostart and the shortcuts.

#include <cstdint>
#include <string>

#include "setup/StepLog.h"

namespace setup {

void writeUninstallEntry(const std::wstring& installDir, StepLog& log);
void deleteUninstallEntry();
// "InstallLocation" of the uninstall entry; empty when there is none.
std::wstring recordedInstallLocation();

// `code` receives the registry's error of a failure.
bool setAutostart(const std::wstring& installDir, uint32_t* code = nullptr);
void removeAutostart();

// Start menu folder with its shortcut and the desktop shortcut. COM is initialised for the
// calling thread as needed, so a wizard's worker thread can call it too.
void createShortcuts(const std::wstring& installDir, StepLog& log);
void removeShortcuts();

}  // namespace setup
