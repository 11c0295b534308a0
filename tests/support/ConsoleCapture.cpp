#include "ConsoleCapture.h"

#include <gtest/gtest.h>

#include <memory>

#include "TestUtil.h"
#include "common/platform/File.h"

namespace zorvek::test {

ConsoleRun captureConsole(const TempDir& dir,
                          const std::function<int(std::FILE* out, std::FILE* err)>& body) {
  const auto close = [](std::FILE* f) {
    if (f) std::fclose(f);
  };
  const std::unique_ptr<std::FILE, decltype(close)> out(
      openStdioFile(dir.file(L"captured-stdout"), "w+b"), close);
  const std::unique_ptr<std::FILE, decltype(close)> err(
      openStdioFile(dir.file(L"captured-stderr"), "w+b"), close);
  if (!out || !err) {
    ADD_FAILURE() << "cannot create the capture files in " << dir.path();
    return {};
  }
  ConsoleRun run;
  run.code = body(out.get(), err.get());
  run.out = readStream(out.get());
  run.err = readStream(err.get());
  return run;
}

}  // namespace zorvek::test
