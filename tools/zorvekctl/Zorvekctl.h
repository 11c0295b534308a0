#pragma once
// zorvekctl: the command-line client of a running service, one pipe request per command.

#include <cstdio>
#include <string>
#include <vector>

namespace zorvek {

// Exit codes: 0 success, 1 the service answered an error, 2 usage error or service unreachable.
// `errIsTerminal`: redraw the progress line of scan --wait in place.
int runZorvekctl(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
                 bool errIsTerminal = false);

}  // namespace zorvek
