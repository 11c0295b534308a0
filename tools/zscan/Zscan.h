#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "service/FileVerdict.h"

namespace zorvek {

// The command-line scanner: args[0] is the program. Returns the exit code: 0 nothing of level
// medium or above, 1 something was, 2 a usage error or a database or named path that could not
// be read. `progressTerminal` asks for the live progress line on `err`.
int runZscan(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
             bool progressTerminal);

// One JSON Lines record of a verdict, with its line end.
std::string verdictJson(const FileVerdict& verdict);

}  // namespace zorvek
