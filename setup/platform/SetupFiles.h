#pragma once
// File-system work of the installer that differs between the platforms: its temporary folders,
// their removal, and the setup log's appends.

#include <string>
#include <string_view>

namespace setup {

// The user's temporary folder, ending in a separator (GetTempPathW; POSIX: $TMPDIR or /tmp).
// Empty when it cannot be obtained.
std::wstring tempFolder();

// Creates a folder that did not exist before and that only the current user, Administrators and
// SYSTEM may open (POSIX: mode 0700). Anything already there under the name (a folder, a file, a
// link or junction planted in advance) is a failure with `exists` set: it is never reused.
bool createPrivateFolder(const std::wstring& path, bool* exists = nullptr,
                         std::string* error = nullptr);

// Removes a folder and everything below it. Links and junctions inside are removed themselves,
// never followed into what they point to. A missing folder counts as removed.
bool removeTree(const std::wstring& path, std::string* error = nullptr);

// Appends `record` to the file, preceded by `header` when the file is empty, as one write under
// an exclusive lock that every writer takes: records of concurrent writers (threads or processes)
// never split, and only the first writer of an empty file writes the header. Creates the file
// when missing; refuses a link or a file with several names in place of the file.
bool appendRecord(const std::wstring& path, std::string_view header, std::string_view record);

}  // namespace setup
