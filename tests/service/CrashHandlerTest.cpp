#include <gtest/gtest.h>

#include <csignal>

#include "TestUtil.h"
#include "common/Logger.h"
#include "common/platform/File.h"
#include "service/main/HostPlatform.h"

namespace zorvek::svc {
namespace {

// A fatal signal leaves the crash line in the log and still ends the process.
TEST(CrashHandlerTest, FatalSignalWritesTheCrashLine) {
  if (pathSeparator() == L'\\')
    GTEST_SKIP() << "Windows reports crashes through the unhandled-exception filter, not signals";
  // The child must write into this test's scratch folder: fork, do not re-run the test.
  GTEST_FLAG_SET(death_test_style, "fast");
  const struct {
    int signo;
    const char* code;
  } cases[] = {{SIGSEGV, "code=0x0000000B"}, {SIGABRT, "code=0x00000006"}, {SIGFPE, "code=0x00000008"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    test::TempDir dir;
    const std::wstring log = dir.file(L"zorvek.log");
    EXPECT_EXIT(
        {
          openCrashLog(log);
          host::installCrashHandler();
          std::raise(c.signo);
        },
        [](int status) { return status != 0; }, "");
    const std::string text = test::readFile(log);
    EXPECT_NE(text.find(std::string("crash: UNHANDLED EXCEPTION ") + c.code + " address=0x"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" thread="), std::string::npos);
    EXPECT_TRUE(!text.empty() && text.back() == '\n');
  }
}

}  // namespace
}  // namespace zorvek::svc
