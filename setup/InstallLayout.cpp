#include "setup/InstallLayout.h"

#include <cstdio>
#include <filesystem>
#include <limits>

#include "common/Text.h"
#include "common/platform/System.h"

namespace setup {
namespace {

std::wstring inQuotes(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

std::wstring joinWindowsPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring out(folder);
  if (!out.empty() && out.back() != L'\\' && out.back() != L'/') out += L'\\';
  return out += name;
}

std::wstring defaultInstallDir(const std::wstring& programFiles) {
  return joinWindowsPath(programFiles, kProductName);
}

std::wstring serviceImagePath(const std::wstring& installDir) {
  return inQuotes(joinWindowsPath(installDir, kServiceExe));
}

std::wstring driverImagePath(const std::wstring& installDir) {
  return joinWindowsPath(installDir, kDriverFile);
}

std::wstring seedDatabaseFor(const std::wstring& installDir) {
  return joinWindowsPath(joinWindowsPath(installDir, kDataFolderName), L"signatures.seed.txt");
}

std::wstring desktopProgramPath(const std::wstring& installDir) {
  return joinWindowsPath(installDir, kDesktopExe);
}

std::wstring uninstallCommand(const std::wstring& installDir, bool quiet) {
  return inQuotes(joinWindowsPath(installDir, kSetupExe)) +
         (quiet ? L" /uninstall /silent" : L" /uninstall");
}

std::wstring displayIcon(const std::wstring& installDir) {
  return desktopProgramPath(installDir) + L",0";
}

std::wstring autostartCommand(const std::wstring& installDir) {
  return inQuotes(desktopProgramPath(installDir)) + L" --autostart";
}

std::wstring installDateText(unsigned year, unsigned month, unsigned day) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
  return zorvek::toWide(text);
}

std::wstring delayedRemovalCommand(const std::wstring& installDir) {
  if (installDir.empty() || installDir.find(L'%') != std::wstring::npos) return {};
  std::wstring folder = installDir;
  // "C:\dir\" would end the quoted name in \" for the programs cmd hands it to.
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return L"cmd /C ping -n 3 127.0.0.1 >nul & rmdir /S /Q " + inQuotes(folder);
}

uint32_t estimatedSizeKb(const std::wstring& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::recursive_directory_iterator it(zorvek::toPath(folder),
                                      fs::directory_options::skip_permission_denied, ec);
  if (ec) return 0;
  uint64_t bytes = 0;
  for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    // symlink_status: a link counts as itself, never as what it points to.
    if (!fs::is_regular_file(it->symlink_status(ec)) || ec) continue;
    const uintmax_t size = it->file_size(ec);
    if (!ec) bytes += size;
  }
  const uint64_t kb = bytes / 1024;
  return kb > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                   : static_cast<uint32_t>(kb);
}

bool holdsInstallation(const std::wstring& folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) return false;
  const fs::path base = zorvek::toPath(folder);
  for (const wchar_t* name : {kServiceExe, kSetupExe}) {
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(base / name, ec))) return true;
  }
  return false;
}

}  // namespace setup
