#pragma once
// The platform half of the hosts-file code: the system's hosts file and its replacement.

#include <string>
#include <string_view>

namespace zorvek {

// Windows: GetWindowsDirectoryW + "\System32\drivers\etc\hosts" (C:\Windows when that fails);
// POSIX: /etc/hosts.
std::wstring systemHostsPath();

// See writeHostsAtomically (common/Hosts.h): the temporary file is `temp`.
bool replaceHostsFile(const std::wstring& path, const std::wstring& temp, std::string_view bytes,
                      std::string* error);

}  // namespace zorvek
