#pragma once

#include <string>
#include <vector>

namespace setup {
// The installer program: args as CommandLineToArgvW gives them (args[0] is the program).
// Returns the process exit code.
int runSetup(const std::vector<std::wstring>& args);
}  // namespace setup
