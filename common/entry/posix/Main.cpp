#include "common/Text.h"
#include "common/entry/ProgramEntry.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(zorvek::toWide(argv[i]));
  return zorvekMain(std::move(args));
}
