#include "common/DataPaths.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

TEST(DataPathsTest, OverrideReplacesTheDataFolderAndIsCreated) {
  test::TempDir dir;
  const std::wstring folder = dir.file(L"данные") + pathSeparator() + L"sub";
  test::ScopedEnvironment dataDir(L"ZORVEK_DATA_DIR", folder);
  ASSERT_TRUE(dataDir.ok());
  const wchar_t sep = pathSeparator();
  EXPECT_EQ(dataFolder(), folder);
  EXPECT_TRUE(pathExists(folder));
  EXPECT_EQ(settingsFilePath(), folder + sep + L"settings.ini");
  EXPECT_EQ(logFilePath(), folder + sep + L"zorvek.log");
  EXPECT_EQ(defaultQuarantineFolder(), folder + sep + L"Quarantine");
  EXPECT_EQ(dataFilePath(L"scan.cache"), folder + sep + L"scan.cache");
  ASSERT_TRUE(dataDir.set(folder + sep + sep));
  EXPECT_EQ(settingsFilePath(), folder + sep + L"settings.ini");
}

TEST(DataPathsTest, PlatformDefaults) {
  const std::wstring folder = platformDataFolder();
  if (pathSeparator() == L'\\') {
    const std::wstring programData = knownFolder(KnownFolder::ProgramData);
    ASSERT_FALSE(programData.empty());
    EXPECT_EQ(folder, programData + L"\\ZORVEK Antivirus");
  } else {
    if (folder != L"/var/lib/zorvek") {  // not root
      test::ScopedEnvironment xdg(L"XDG_DATA_HOME", L"/xdg/home");
      ASSERT_TRUE(xdg.ok());
      EXPECT_EQ(platformDataFolder(), L"/xdg/home/zorvek");
      // The XDG rules ignore a relative value.
      ASSERT_TRUE(xdg.set(L"relative"));
      EXPECT_EQ(platformDataFolder(), toWide(std::getenv("HOME")) + L"/.local/share/zorvek");
    }
  }
}

TEST(DataPathsTest, SeedDatabaseLiesBesideTheProgram) {
  const std::filesystem::path program = toPath(modulePath());
  ASSERT_TRUE(std::filesystem::exists(program));
  EXPECT_EQ(toPath(seedDatabasePath()), program.parent_path() / "data" / "signatures.seed.txt");
  // The build copies the seed database there.
  EXPECT_TRUE(pathExists(seedDatabasePath()));
}

}  // namespace
}  // namespace zorvek
