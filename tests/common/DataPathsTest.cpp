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
  const auto saved = environmentVariable(L"ZORVEK_DATA_DIR");
  ASSERT_TRUE(setEnvironmentVariable(L"ZORVEK_DATA_DIR", folder));
  const wchar_t sep = pathSeparator();
  EXPECT_EQ(dataFolder(), folder);
  EXPECT_TRUE(pathExists(folder));
  EXPECT_EQ(settingsFilePath(), folder + sep + L"settings.ini");
  EXPECT_EQ(logFilePath(), folder + sep + L"zorvek.log");
  EXPECT_EQ(defaultQuarantineFolder(), folder + sep + L"Quarantine");
  EXPECT_EQ(dataFilePath(L"scan.cache"), folder + sep + L"scan.cache");
  ASSERT_TRUE(setEnvironmentVariable(L"ZORVEK_DATA_DIR", folder + sep + sep));
  EXPECT_EQ(settingsFilePath(), folder + sep + L"settings.ini");
  setEnvironmentVariable(L"ZORVEK_DATA_DIR", saved);
}

TEST(DataPathsTest, PlatformDefaults) {
  const std::wstring folder = platformDataFolder();
  if (pathSeparator() == L'\\') {
    const std::wstring programData = knownFolder(KnownFolder::ProgramData);
    ASSERT_FALSE(programData.empty());
    EXPECT_EQ(folder, programData + L"\\ZORVEK Antivirus");
  } else {
    const auto xdg = environmentVariable(L"XDG_DATA_HOME");
    if (folder != L"/var/lib/zorvek") {  // not root
      ASSERT_TRUE(setEnvironmentVariable(L"XDG_DATA_HOME", std::wstring(L"/xdg/home")));
      EXPECT_EQ(platformDataFolder(), L"/xdg/home/zorvek");
      // The XDG rules ignore a relative value.
      ASSERT_TRUE(setEnvironmentVariable(L"XDG_DATA_HOME", std::wstring(L"relative")));
      EXPECT_EQ(platformDataFolder(), toWide(std::getenv("HOME")) + L"/.local/share/zorvek");
      setEnvironmentVariable(L"XDG_DATA_HOME", xdg);
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
