#pragma once
// The setup log: UTF-16LE lines "HH:MM:SS message" + CR LF in the temporary folder, appended one
// line at a time so that an un-elevated and an elevated copy can write to it in turn.

#include <functional>
#include <string>
#include <string_view>

#include "common/platform/System.h"

namespace setup {

inline constexpr wchar_t kSetupLogName[] = L"ZORVEKAntivirus-setup.log";

// `tempFolder` ends in a separator, as tempFolder() returns it; empty when it is empty (no log).
std::wstring setupLogPath(const std::wstring& tempFolder);

// One entry as stored; line breaks inside the message become spaces.
std::string encodeLogLine(const zorvek::LocalTimeOfDay& time, std::wstring_view message);

// Appends one entry stamped with the local time; a byte-order mark starts an empty file. Errors
// of the log are ignored: the work it records goes on.
void appendSetupLog(const std::wstring& path, std::wstring_view message);

// Reads the log in blocks of 8190 bytes and hands each block's text (without the byte-order
// mark) to `write`. False when the file cannot be opened.
bool readSetupLog(const std::wstring& path, const std::function<void(const std::wstring&)>& write);

}  // namespace setup
