// The shared test helpers: a leaked override or a wrong capture would show up as failures in
// unrelated suites, so they are checked here on their own.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "TestUtil.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

TEST(TestSupportTest, ScopedEnvironmentPutsBackWhatWasThere) {
  const std::wstring name = L"ZORVEK_TEST_SUPPORT_VARIABLE";
  const std::optional<std::wstring> unset;
  const struct {
    const char* what;
    std::optional<std::wstring> before, during;
  } cases[] = {{"unset, then set", unset, L"в"},
               {"set, then changed", L"a", L"b"},
               {"set, then removed", L"a", unset},
               {"unset, then removed", unset, unset}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(setEnvironmentVariable(name, c.before));
    {
      test::ScopedEnvironment scoped(name, c.during);
      EXPECT_TRUE(scoped.ok());
      EXPECT_EQ(environmentVariable(name), c.during);
      EXPECT_TRUE(scoped.set(L"again"));
      EXPECT_EQ(environmentVariable(name), std::optional<std::wstring>(L"again"));
    }
    EXPECT_EQ(environmentVariable(name), c.before);
  }
  setEnvironmentVariable(name, unset);
}

TEST(TestSupportTest, CaptureKeepsBothStreamsByteForByte) {
  test::TempDir dir;
  const test::ConsoleRun run = test::captureConsole(dir, [](std::FILE* out, std::FILE* err) {
    std::fputs("строка\r\n", out);
    std::fwrite("a\0b", 1, 3, err);
    return 7;
  });
  EXPECT_EQ(run.code, 7);
  EXPECT_EQ(run.out, "строка\r\n");
  EXPECT_EQ(run.err, std::string("a\0b", 3));
  EXPECT_EQ(test::captureConsole(dir, [](std::FILE*, std::FILE*) { return 0; }).out, "");
}

TEST(TestSupportTest, WriteCreatesTheFoldersOnTheWay) {
  test::TempDir dir;
  const std::wstring path = dir.write(L"a/б/c.txt", "x");
  EXPECT_EQ(path, dir.file(L"a/б/c.txt"));
  EXPECT_EQ(test::readFile(path), "x");
  EXPECT_EQ(test::randomBytes(64, 3), test::randomBytes(64, 3));
  EXPECT_NE(test::randomBytes(64, 3), test::randomBytes(64, 4));
}

}  // namespace
}  // namespace zorvek
