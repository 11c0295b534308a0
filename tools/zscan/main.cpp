#include <cstdio>

#include "common/entry/ProgramEntry.h"
#include "common/platform/System.h"
#include "tools/zscan/Zscan.h"

int zorvekMain(std::vector<std::wstring> args) {
  const int code = zorvek::runZscan(args, stdout, stderr, zorvek::stderrIsTerminal());
  std::fflush(stdout);
  return code;
}
