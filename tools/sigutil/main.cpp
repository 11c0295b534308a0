#include <cstdio>

#include "common/entry/ProgramEntry.h"
#include "tools/sigutil/Sigutil.h"

int zorvekMain(std::vector<std::wstring> args) {
  const int code = zorvek::runSigutil(args, stdout, stderr);
  std::fflush(stdout);
  return code;
}
