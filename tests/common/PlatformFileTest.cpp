#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"

namespace zorvek {
namespace {

size_t entryCount(const test::TempDir& dir) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir.path()); it != decltype(it)(); ++it) ++n;
  return n;
}

TEST(PlatformFileTest, WriteAtomicallyReplacesAndLeavesNoTemporary) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"настройки.ini");
  ASSERT_TRUE(writeFileAtomically(path, "first"));
  ASSERT_TRUE(writeFileAtomically(path, std::string("sec\0ond\n", 8)));
  EXPECT_EQ(test::readFile(path), std::string("sec\0ond\n", 8));
  ASSERT_TRUE(writeFileAtomically(path, ""));
  EXPECT_EQ(test::readFile(path), "");
  EXPECT_EQ(entryCount(dir), 1u);
}

TEST(PlatformFileTest, FailedAtomicWriteKeepsTheOldTarget) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(writeFileAtomically(dir.file(L"missing") + pathSeparator() + L"x", "data", &error));
  EXPECT_FALSE(error.empty());

  // A folder in the way of the target cannot be replaced by a file.
  const std::wstring blocked = dir.file(L"blocked");
  ASSERT_TRUE(createDirectories(blocked + pathSeparator() + L"inner"));
  EXPECT_FALSE(writeFileAtomically(blocked, "data", &error));
  EXPECT_TRUE(pathExists(blocked + pathSeparator() + L"inner"));
  EXPECT_EQ(entryCount(dir), 1u);
}

TEST(PlatformFileTest, ReadWholeFileTellsMissingFromUnreadable) {
  test::TempDir dir;
  std::string text, error;
  bool missing = false;
  test::writeFile(dir.file(L"f"), "abc");
  ASSERT_TRUE(readWholeFile(dir.file(L"f"), text, &error, &missing));
  EXPECT_EQ(text, "abc");
  EXPECT_FALSE(readWholeFile(dir.file(L"none"), text, &error, &missing));
  EXPECT_TRUE(missing);
  EXPECT_FALSE(readWholeFile(dir.path().wstring(), text, &error, &missing));
  EXPECT_FALSE(missing);
}

TEST(PlatformFileTest, MoveFileReplacesTargetAndReportsErrors) {
  test::TempDir dir;
  const std::wstring from = dir.file(L"от.bin"), to = dir.file(L"к.bin");
  test::writeFile(from, "new");
  test::writeFile(to, "old");
  unsigned long code = 99;
  ASSERT_TRUE(moveFile(from, to, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(pathExists(from));
  EXPECT_EQ(test::readFile(to), "new");
  EXPECT_EQ(fileSize(to), 3);

  // ERROR_FILE_NOT_FOUND and ENOENT are both 2.
  EXPECT_FALSE(moveFile(from, to, &code));
  EXPECT_EQ(code, 2u);
  EXPECT_FALSE(removeFile(from, &code));
  EXPECT_EQ(code, 2u);
  EXPECT_EQ(fileSize(from), -1);
  EXPECT_TRUE(removeFile(to, &code));
  EXPECT_FALSE(pathExists(to));
}

TEST(PlatformFileTest, MoveFileAcrossFileSystems) {
  // /dev/shm is a separate tmpfs on most Linux machines; elsewhere there is nothing to cross.
  const std::wstring shm = L"/dev/shm";
  if (pathSeparator() != L'/' || !pathExists(shm)) GTEST_SKIP() << "no second file system";
  test::TempDir dir;
  const std::wstring from = dir.file(L"cross.bin");
  const std::wstring to = shm + L"/zorvek-cross-" + std::to_wstring(std::hash<std::wstring>{}(from));
  const std::string payload(300000, 'x');
  test::writeFile(from, payload);
  ASSERT_TRUE(moveFile(from, to));
  EXPECT_FALSE(pathExists(from));
  EXPECT_EQ(test::readFile(to), payload);
  removeFile(to);
}

TEST(PlatformFileTest, AppendFileAppendsAndTellsCreation) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"log");
  bool created = false;
  {
    AppendFile f;
    ASSERT_TRUE(f.open(path, &created));
    EXPECT_TRUE(created);
    EXPECT_EQ(f.size(), 0);
    EXPECT_TRUE(f.write("ab", 2));
  }
  AppendFile f;
  ASSERT_TRUE(f.open(path, &created));
  EXPECT_FALSE(created);
  EXPECT_TRUE(f.write("cd", 2));
  EXPECT_EQ(f.size(), 4);
  f.close();
  EXPECT_EQ(test::readFile(path), "abcd");
  EXPECT_FALSE(f.write("x", 1));
}

TEST(PlatformFileTest, OutputFileStartsAfreshAndRemovesWhatItDidNotFinish) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"out.tmp");
  test::writeFile(path, "left over from a killed run, and longer than the new text");
  {
    OutputFile out;
    ASSERT_TRUE(out.create(path));
    EXPECT_TRUE(out.write("new", 3));
    ASSERT_TRUE(out.finish());
    EXPECT_FALSE(out.write("late", 4)) << "a finished file takes no more bytes";
  }
  EXPECT_EQ(test::readFile(path), "new");
  {
    OutputFile out;
    ASSERT_TRUE(out.create(path));
    out.write("half", 4);
  }
  EXPECT_FALSE(pathExists(path)) << "an unfinished file goes with its owner";

  std::string error;
  OutputFile out;
  EXPECT_FALSE(out.create(dir.file(L"no-such-folder") + pathSeparator() + L"x", &error));
  EXPECT_EQ(error.rfind("cannot create", 0), 0u) << error;
}

TEST(PlatformFileTest, OutputFileNeverWritesThroughALink) {
  test::TempDir dir;
  const std::wstring victim = dir.file(L"victim.txt"), link = dir.file(L"out.tmp");
  test::writeFile(victim, "precious");
  std::error_code ec;
  std::filesystem::create_symlink(toPath(victim), toPath(link), ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  OutputFile out;
  ASSERT_TRUE(out.create(link));
  out.write("overwritten?", 12);
  ASSERT_TRUE(out.finish());
  EXPECT_EQ(test::readFile(victim), "precious");
  EXPECT_EQ(test::readFile(link), "overwritten?");
  EXPECT_FALSE(std::filesystem::is_symlink(toPath(link)));
}

TEST(PlatformFileTest, FilesMadeInAnOpenFolderStayInIt) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path opened = dir.path() / "updates", moved = dir.path() / "moved",
                 lure = dir.path() / "lure";
  fs::create_directories(opened / "sub");
  fs::create_directories(lure);
  Folder folder;
  std::string error;
  ASSERT_TRUE(folder.open(pathToWide(opened), Links::Refuse, Folder::Purpose::Modify, &error)) << error;
  // The folder's path comes to name another folder after the open. Wine resolves names relative
  // to an open folder by the path it was opened with, so there the folder stays where it is.
  fs::path inside = opened;
  if (!zorvek::test::runningUnderWine()) {
    std::error_code ec;
    fs::rename(opened, moved, ec);
    if (ec) GTEST_SKIP() << "an open folder cannot be renamed here: " << ec.message();
    inside = moved;
    fs::create_directory_symlink(lure, opened, ec);
    if (ec) fs::create_directories(opened);
  }

  OutputFile out;
  ASSERT_TRUE(out.createIn(folder, L"setup.tmp", &error)) << error;
  ASSERT_TRUE(out.write("new", 3));
  ASSERT_TRUE(out.finish(&error)) << error;
  unsigned long code = 1;
  ASSERT_TRUE(replaceFileIn(folder, L"setup.tmp", L"setup.exe", &code)) << code;
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::readFile(pathToWide(inside / "setup.exe")), "new");
  EXPECT_FALSE(fs::exists(inside / "setup.tmp"));
  EXPECT_TRUE(fs::is_empty(lure));

  // A file given up is removed from the opened folder too.
  ASSERT_TRUE(out.createIn(folder, L"setup.tmp"));
  out.discard();
  EXPECT_FALSE(fs::exists(inside / "setup.tmp"));

  EXPECT_FALSE(removeFileIn(folder, L"sub", &code));
  EXPECT_NE(code, 0u);
  EXPECT_TRUE(fs::is_directory(inside / "sub"));
  EXPECT_TRUE(removeFileIn(folder, L"setup.exe", &code)) << code;
  EXPECT_FALSE(fs::exists(inside / "setup.exe"));
  EXPECT_FALSE(removeFileIn(folder, L"setup.exe", &code)) << code;
  EXPECT_FALSE(out.createIn(folder, L"sub" + std::wstring(1, pathSeparator()) + L"x", &error));
  EXPECT_FALSE(fs::exists(inside / "sub" / "x"));
  EXPECT_TRUE(fs::is_empty(lure));
}

}  // namespace
}  // namespace zorvek
