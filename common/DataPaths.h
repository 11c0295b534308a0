#pragma once
// Where the service keeps its files. Every function computes a fresh path; the data folder is
// created (with its parents) each time it is computed, and a failure to create it is ignored.

#include <string>

namespace zorvek {

// ZORVEK_DATA_DIR when set and not empty; otherwise the platform's data folder
// (see platformDataFolder). May be empty when no folder can be found.
std::wstring dataFolder();

// A file or folder directly inside the data folder.
std::wstring dataFilePath(const std::wstring& name);

std::wstring settingsFilePath();       // settings.ini
std::wstring logFilePath();            // zorvek.log
std::wstring defaultQuarantineFolder();  // Quarantine
// data/signatures.seed.txt in the running program's folder.
std::wstring seedDatabasePath();

}  // namespace zorvek
