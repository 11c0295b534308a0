// Placing program files, and where the install goes. A file held open during a real repair and the
// restart-time replacement are covered by the install tests in their own prefix.
#include "setup/win32/ProgramFiles.h"

#include "common/platform/win32/Win.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "setup/win32/Work.h"

namespace setup {
namespace {

using zorvek::test::readFile;
using zorvek::test::TempDir;
using zorvek::test::writeFile;

TEST(ProgramFilesTest, CopyReplacing) {
  TempDir dir;
  const std::wstring source = dir.file(L"new.exe"), target = dir.file(L"ZorvekService.exe");
  writeFile(source, "new");
  uint32_t code = 1;
  EXPECT_EQ(copyReplacing(source, target, &code), CopyResult::Copied);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(readFile(target), "new");

  // A read-only program file is replaced all the same.
  writeFile(source, "newer");
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(copyReplacing(source, target, &code), CopyResult::Copied);
  EXPECT_EQ(readFile(target), "newer");
  EXPECT_FALSE(zorvek::pathExists(target + L".old"));

  // A repair run from the installation copies a file onto itself: nothing to do, nothing lost.
  EXPECT_EQ(copyReplacing(target, target, &code), CopyResult::Copied);
  EXPECT_EQ(readFile(target), "newer");

  // A source that is not there fails with its error and leaves the target.
  EXPECT_EQ(copyReplacing(dir.file(L"missing.exe"), target, &code), CopyResult::Failed);
  EXPECT_EQ(code, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(readFile(target), "newer");
  EXPECT_FALSE(zorvek::pathExists(target + L".new"));
}

TEST(ProgramFilesTest, CopyFolder) {
  TempDir dir;
  const std::wstring from = dir.file(L"payload\\data"), to = dir.file(L"install\\data");
  ASSERT_TRUE(zorvek::createDirectories(from + L"\\deep"));
  ASSERT_TRUE(zorvek::createDirectories(to));
  writeFile(from + L"\\signatures.seed.txt", "seed");
  writeFile(from + L"\\deep\\x", "x");
  writeFile(to + L"\\signatures.seed.txt", "old seed");
  writeFile(to + L"\\extra", "kept");
  std::wstring error;
  ASSERT_TRUE(copyFolder(from, to, &error)) << zorvek::toUtf8(error);
  EXPECT_EQ(readFile(to + L"\\signatures.seed.txt"), "seed");
  EXPECT_EQ(readFile(to + L"\\deep\\x"), "x");
  EXPECT_EQ(readFile(to + L"\\extra"), "kept");
  // Onto itself: nothing happens.
  EXPECT_TRUE(copyFolder(to, to, &error));
  EXPECT_EQ(readFile(to + L"\\signatures.seed.txt"), "seed");
  // No source folder: an error that names it.
  EXPECT_FALSE(copyFolder(dir.file(L"nothing"), to, &error));
  EXPECT_NE(error.find(L"nothing"), std::wstring::npos);
}

TEST(ProgramFilesTest, SameFileObject) {
  TempDir dir;
  const std::wstring file = dir.file(L"a.exe");
  writeFile(file, "a");
  EXPECT_TRUE(sameFileObject(file, file));
  EXPECT_TRUE(sameFileObject(file, zorvek::toWide(zorvek::asciiLower(zorvek::toUtf8(file)))));
  EXPECT_TRUE(sameFileObject(dir.file(L"."), zorvek::pathToWide(dir.path())));
  writeFile(dir.file(L"b.exe"), "a");
  EXPECT_FALSE(sameFileObject(file, dir.file(L"b.exe")));
  EXPECT_FALSE(sameFileObject(file, dir.file(L"missing")));
}

TEST(ProgramFilesTest, InstallDirectory) {
  wchar_t cwd[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::wstring current = cwd;
  if (current.back() == L'\\') current.pop_back();
  const struct {
    std::wstring given, expected;
  } cases[] = {
      {L"D:\\Tools\\Zorvek\\", L"D:\\Tools\\Zorvek"},
      {L"D:\\Tools\\.\\x\\..\\Zorvek", L"D:\\Tools\\Zorvek"},
      {L"D:\\", L"D:\\"},
      {L"relative\\dir", current + L"\\relative\\dir"},
  };
  for (const auto& c : cases) {
    SetupOptions options;
    options.installDir = c.given;
    EXPECT_EQ(zorvek::toUtf8(installDirectory(options)), zorvek::toUtf8(c.expected));
  }
  EXPECT_TRUE(installDirectory({}).ends_with(L"\\ZORVEK Antivirus"));
}

}  // namespace
}  // namespace setup
