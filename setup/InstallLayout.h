#pragma once
// What an installation consists of and the texts the install writes into the system: program
// names, the service's image path, the uninstall entry's commands, the autostart command, the
// delayed folder removal. Windows texts, built the same on every platform so they are tested
// natively.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace setup {

inline constexpr wchar_t kProductName[] = L"ZORVEK Antivirus";
inline constexpr wchar_t kPublisher[] = L"ZORVEK";
inline constexpr wchar_t kServiceName[] = L"ZorvekService";
inline constexpr wchar_t kServiceDescription[] =
    L"Real-time file protection and scheduled scanning for ZORVEK Antivirus.";
inline constexpr wchar_t kDriverName[] = L"ZorvekFilter";
inline constexpr wchar_t kDriverDisplayName[] = L"ZORVEK Minifilter";
inline constexpr wchar_t kDriverFile[] = L"ZorvekFilter.sys";
inline constexpr wchar_t kDriverAltitude[] = L"370040";

inline constexpr wchar_t kServiceExe[] = L"ZorvekService.exe";
inline constexpr wchar_t kDesktopExe[] = L"ZorvekAntivirus.exe";
inline constexpr wchar_t kSigutilExe[] = L"sigutil.exe";
inline constexpr wchar_t kSetupExe[] = L"ZorvekSetup.exe";
// Copied in this order.
inline constexpr std::array<const wchar_t*, 4> kProgramFiles = {kServiceExe, kDesktopExe,
                                                                kSigutilExe, kSetupExe};
inline constexpr wchar_t kDataFolderName[] = L"data";

inline constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZorvekAntivirus";
inline constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValue[] = L"ZORVEK Antivirus";
inline constexpr wchar_t kShortcutName[] = L"ZORVEK Antivirus.lnk";

// `folder` + "\" + `name`, without doubling a separator the folder already ends in ("C:\").
std::wstring joinWindowsPath(std::wstring_view folder, std::wstring_view name);

// Program Files + "\ZORVEK Antivirus".
std::wstring defaultInstallDir(const std::wstring& programFiles);

// Quoted, so that C:\Program.exe cannot run in its place.
std::wstring serviceImagePath(const std::wstring& installDir);
std::wstring driverImagePath(const std::wstring& installDir);
std::wstring seedDatabaseFor(const std::wstring& installDir);
std::wstring desktopProgramPath(const std::wstring& installDir);
std::wstring uninstallCommand(const std::wstring& installDir, bool quiet);
std::wstring displayIcon(const std::wstring& installDir);
std::wstring autostartCommand(const std::wstring& installDir);
// "%04u-%02u-%02u": the dashes are part of the value.
std::wstring installDateText(unsigned year, unsigned month, unsigned day);

// "cmd /C ping -n 3 127.0.0.1 >nul & rmdir /S /Q "<folder>"": the ping gives the uninstaller two
// seconds to exit. Empty for a folder whose name cmd would rewrite (a "%" expands variables even
// inside quotes), so that no other folder is ever removed.
std::wstring delayedRemovalCommand(const std::wstring& installDir);

// Sum of the sizes of the regular files below the folder (links not followed) / 1024, rounded
// down and capped at the largest DWORD; 0 when the folder cannot be read.
uint32_t estimatedSizeKb(const std::wstring& folder);

// Whether the folder holds ZorvekService.exe or ZorvekSetup.exe as a regular file: the only
// folders the uninstall removes, so that a mistyped "/dir=C:\" cannot empty a drive.
bool holdsInstallation(const std::wstring& folder);

}  // namespace setup
