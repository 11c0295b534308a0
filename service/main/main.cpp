#include "common/entry/ProgramEntry.h"
#include "service/main/ServiceHost.h"

int zorvekMain(std::vector<std::wstring> args) { return zorvek::svc::serviceProgramMain(args); }
