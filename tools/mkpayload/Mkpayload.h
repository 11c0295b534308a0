#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zorvek {
// The payload builder: `mkpayload OUTPUT IMAGE [ITEM]...` writes OUTPUT as IMAGE followed by a
// payload of every ITEM (a file under its own name, a folder as its name plus the path of every
// file below it). args[0] is the program. Returns the exit code: 0, 1 on failure, 2 on misuse.
int runMkpayload(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err);
}  // namespace zorvek
