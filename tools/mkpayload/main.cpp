#include <cstdio>

#include "common/entry/ProgramEntry.h"
#include "tools/mkpayload/Mkpayload.h"

int zorvekMain(std::vector<std::wstring> args) {
  const int code = zorvek::runMkpayload(args, stdout, stderr);
  std::fflush(stdout);
  return code;
}
