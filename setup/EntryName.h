#pragma once
// Names of payload entries: which ones may be written, and where they land below the folder the
// payload is extracted into.

#include <string>
#include <string_view>

namespace setup {

// The target path of an entry below `folder`, with the platform's separators and the name's
// leading and trailing separators removed. False for a name that could land anywhere else: one
// with "..", a backslash, a leading "/", a ":" (a drive or an alternate stream), a NUL, a device
// name such as "CON" or "nul.txt", or one that does not end up strictly inside the folder.
bool entryTargetPath(const std::wstring& folder, std::string_view name, std::wstring& target);

// Whether entryTargetPath accepts the name (the payload builder refuses what the installer would).
bool entryNameAllowed(std::string_view name);

// "подозрительное имя файла в нагрузке: " + the name, with control characters shown as "?" so a
// hostile name cannot add lines to a log.
std::string suspiciousNameText(std::string_view name);

}  // namespace setup
