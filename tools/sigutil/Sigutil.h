#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zorvek {
// The signature tool: args[0] is the program, args[1] the command. Returns the exit code.
int runSigutil(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err);
}  // namespace zorvek
