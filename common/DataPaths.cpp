#include "common/DataPaths.h"

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {

std::wstring dataFolder() {
  std::wstring folder;
  if (auto over = environmentVariable(L"ZORVEK_DATA_DIR"); over && !over->empty()) {
    folder = *over;
    // "D:\data\" would give "D:\data\\settings.ini"; keep roots such as "/" and "C:\".
    while (folder.size() > 1 && (folder.back() == L'/' || folder.back() == pathSeparator()) &&
           !(folder.size() == 3 && folder[1] == L':')) {
      folder.pop_back();
    }
    if (!folder.empty()) createDirectories(folder, nullptr, Privacy::OwnerOnly);
  } else {
    folder = platformDataFolder();
    // The folder is ours by name: one an older version made open to all is closed again.
    if (!folder.empty() && createDirectories(folder, nullptr, Privacy::OwnerOnly))
      restrictToOwner(folder);
  }
  return folder;
}

std::wstring dataFilePath(const std::wstring& name) {
  return dataFolder() + pathSeparator() + name;
}

std::wstring settingsFilePath() { return dataFilePath(L"settings.ini"); }

std::wstring logFilePath() { return dataFilePath(L"zorvek.log"); }

std::wstring defaultQuarantineFolder() { return dataFilePath(L"Quarantine"); }

std::wstring seedDatabasePath() {
  const std::filesystem::path program = toPath(modulePath());
  return pathToWide(program.parent_path() / "data" / "signatures.seed.txt");
}

}  // namespace zorvek
