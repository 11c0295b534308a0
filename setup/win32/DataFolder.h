#pragma once
// The access list of the service's data folder. Standard users may create folders in
// ProgramData, and a LocalSystem service obeys what its settings.ini says: the installer makes
// the folder the administrators' own, whoever created it.

#include <string>

namespace setup {

// SYSTEM and Administrators full control, Users read and execute, owner Administrators; on
// zorvek.log (created when missing) Users may also append, since the desktop program logs there.
// Every object below the folder that another owner created gets the same owner and list. The
// service makes no links: links and files with several names below the folder are removed,
// never followed.
bool secureDataFolder(const std::wstring& folder, std::wstring* error);

}  // namespace setup
