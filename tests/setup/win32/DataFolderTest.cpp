// The data folder's preparation against what a standard user may have planted in ProgramData
// before the install. (Whether the access list itself is kept is checked by the install tests:
// Wine keeps none.)
#include "setup/win32/DataFolder.h"

#include "common/platform/win32/Win.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/win32/Handle.h"

namespace setup {
namespace {

using zorvek::test::readFile;
using zorvek::test::TempDir;
using zorvek::test::writeFile;

DWORD linkCount(const std::wstring& path) {
  const zorvek::UniqueFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  return file && GetFileInformationByHandle(file.get(), &info) ? info.nNumberOfLinks : 0;
}

TEST(DataFolderTest, MakesTheFolderAndTheLog) {
  TempDir dir;
  const std::wstring folder = dir.file(L"ZORVEK Antivirus");
  std::wstring error;
  ASSERT_TRUE(secureDataFolder(folder, &error)) << zorvek::toUtf8(error);
  EXPECT_EQ(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(zorvek::fileSize(folder + L"\\zorvek.log"), 0);
  // Again over the finished folder: what is in it stays.
  writeFile(folder + L"\\zorvek.log", "12:00:00.000 [INF] kept\n");
  writeFile(folder + L"\\settings.ini", "ScheduledHour=7\n");
  ASSERT_TRUE(secureDataFolder(folder, &error)) << zorvek::toUtf8(error);
  EXPECT_EQ(readFile(folder + L"\\zorvek.log"), "12:00:00.000 [INF] kept\n");
  EXPECT_EQ(readFile(folder + L"\\settings.ini"), "ScheduledHour=7\n");
}

TEST(DataFolderTest, PlantedNamesAreRemovedNotFollowed) {
  TempDir dir;
  const std::wstring folder = dir.file(L"ZORVEK Antivirus");
  const std::wstring victim = dir.file(L"victim.txt"), other = dir.file(L"other.txt");
  writeFile(victim, "someone else's file");
  writeFile(other, "another file");
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  // The log as a second name of another file would lend the users' append right to that file.
  if (!CreateHardLinkW((folder + L"\\zorvek.log").c_str(), victim.c_str(), nullptr))
    GTEST_SKIP() << "no hard links here: " << GetLastError();
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\Quarantine").c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkW((folder + L"\\Quarantine\\q.bin").c_str(), other.c_str(), nullptr));
  writeFile(folder + L"\\Quarantine\\own.bin", "own");

  std::wstring error;
  ASSERT_TRUE(secureDataFolder(folder, &error)) << zorvek::toUtf8(error);
  EXPECT_EQ(readFile(victim), "someone else's file");
  EXPECT_EQ(linkCount(victim), 1u);
  EXPECT_EQ(linkCount(folder + L"\\zorvek.log"), 1u);
  EXPECT_EQ(zorvek::fileSize(folder + L"\\zorvek.log"), 0);
  EXPECT_FALSE(zorvek::pathExists(folder + L"\\Quarantine\\q.bin"));
  EXPECT_EQ(readFile(other), "another file");
  EXPECT_EQ(readFile(folder + L"\\Quarantine\\own.bin"), "own");
}

TEST(DataFolderTest, AFileInPlaceOfTheFolderMakesWay) {
  TempDir dir;
  const std::wstring folder = dir.file(L"ZORVEK Antivirus");
  writeFile(folder, "not a folder");
  std::wstring error;
  ASSERT_TRUE(secureDataFolder(folder, &error)) << zorvek::toUtf8(error);
  EXPECT_NE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(zorvek::pathExists(folder + L"\\zorvek.log"));
  // A folder that cannot be made is an error with its path.
  EXPECT_FALSE(secureDataFolder(dir.file(L"missing\\deeper"), &error));
  EXPECT_NE(error.find(L"missing"), std::wstring::npos) << zorvek::toUtf8(error);
}

}  // namespace
}  // namespace setup
