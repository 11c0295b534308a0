#pragma once
// Console programs implement zorvekMain; the platform's entry point hands it the command line as
// wide strings (args[0] is the program) with standard output and error in binary mode, so what
// the program prints reaches the terminal byte for byte.

#include <string>
#include <vector>

int zorvekMain(std::vector<std::wstring> args);
