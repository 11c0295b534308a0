#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "TempDir.h"

namespace zorvek::test {

struct ConsoleRun {
  int code = -1;
  std::string out, err;
};

// Runs the body of a console program with its standard output and error sent to files in
// `dir`, and gives back its exit code and both texts byte for byte.
ConsoleRun captureConsole(const TempDir& dir,
                          const std::function<int(std::FILE* out, std::FILE* err)>& body);

}  // namespace zorvek::test
