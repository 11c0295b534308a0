#pragma once
// zorvekctl: the command-line client of a running service, one pipe request per command.

#include <cstdio>
#include <string>
#include <vector>

#include "common/client/ServiceClient.h"

namespace zorvek {

// Exit codes: 0 success, 1 the service answered an error, 2 usage error, service unreachable or
// silent, or a scan --wait that ended "failed". `errIsTerminal`: redraw the progress line of
// scan --wait in place. `client`: the pipe and time bounds (tests shorten them).
int runZorvekctl(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
                 bool errIsTerminal = false, const ipc::ClientOptions& client = {});

}  // namespace zorvek
