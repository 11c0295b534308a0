#pragma once
// Console output of the installer: WriteConsoleW on a console, UTF-8 bytes into a file or a pipe.
// A window program has no console of its own; it writes to the caller's when it has no output.

#include <string>
#include <string_view>

namespace setup {

void printText(std::wstring_view text);
// The text and CR LF.
void printLine(std::wstring_view text);

}  // namespace setup
