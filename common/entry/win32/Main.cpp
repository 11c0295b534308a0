#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "common/entry/ProgramEntry.h"

int wmain(int argc, wchar_t** argv) {
  // Text mode would turn every LF we print into CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::wstring> args(argv, argv + argc);
  return zorvekMain(std::move(args));
}
