#include "setup/InstallLayout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/System.h"

namespace setup {
namespace {

using zorvek::test::TempDir;
using zorvek::test::writeFile;

TEST(InstallLayoutTest, TextsWrittenIntoTheSystem) {
  const std::wstring dir = L"C:\\Program Files\\ZORVEK Antivirus";
  const struct {
    std::wstring actual, expected;
  } cases[] = {
      {defaultInstallDir(L"C:\\Program Files"), dir},
      {defaultInstallDir(L"D:\\"), L"D:\\ZORVEK Antivirus"},
      {serviceImagePath(dir), L"\"C:\\Program Files\\ZORVEK Antivirus\\ZorvekService.exe\""},
      {driverImagePath(dir), L"C:\\Program Files\\ZORVEK Antivirus\\ZorvekFilter.sys"},
      {seedDatabaseFor(dir), L"C:\\Program Files\\ZORVEK Antivirus\\data\\signatures.seed.txt"},
      {seedDatabaseFor(L"E:\\"), L"E:\\data\\signatures.seed.txt"},
      {uninstallCommand(dir, false),
       L"\"C:\\Program Files\\ZORVEK Antivirus\\ZorvekSetup.exe\" /uninstall"},
      {uninstallCommand(dir, true),
       L"\"C:\\Program Files\\ZORVEK Antivirus\\ZorvekSetup.exe\" /uninstall /silent"},
      {displayIcon(dir), L"C:\\Program Files\\ZORVEK Antivirus\\ZorvekAntivirus.exe,0"},
      {autostartCommand(dir),
       L"\"C:\\Program Files\\ZORVEK Antivirus\\ZorvekAntivirus.exe\" --autostart"},
      {installDateText(2026, 3, 7), L"2026-03-07"},
      {installDateText(999, 12, 31), L"0999-12-31"},
      {delayedRemovalCommand(dir),
       L"cmd /C ping -n 3 127.0.0.1 >nul & rmdir /S /Q \"C:\\Program Files\\ZORVEK Antivirus\""},
      {delayedRemovalCommand(L"C:\\Z&A\\"), L"cmd /C ping -n 3 127.0.0.1 >nul & rmdir /S /Q \"C:\\Z&A\""},
      // cmd expands %NAME% inside quotes too: such a folder is never handed to it.
      {delayedRemovalCommand(L"C:\\%SystemRoot%"), L""},
      {delayedRemovalCommand(L""), L""},
  };
  for (const auto& c : cases) EXPECT_EQ(zorvek::toUtf8(c.actual), zorvek::toUtf8(c.expected));
}

TEST(InstallLayoutTest, EstimatedSizeSumsRegularFilesBelowTheFolder) {
  TempDir dir;
  const auto root = dir.path();
  std::filesystem::create_directories(root / "data" / "deep");
  writeFile(zorvek::pathToWide(root / "a.exe"), std::string(1500, 'a'));
  writeFile(zorvek::pathToWide(root / "data" / "b"), std::string(600, 'b'));
  writeFile(zorvek::pathToWide(root / "data" / "deep" / "c"), std::string(2000, 'c'));
  EXPECT_EQ(estimatedSizeKb(zorvek::pathToWide(root)), 4100u / 1024);
  writeFile(zorvek::pathToWide(root / "d"), std::string(5 * 1024 - 4100 - 1, 'd'));
  EXPECT_EQ(estimatedSizeKb(zorvek::pathToWide(root)), 4u) << "rounded down";
  writeFile(zorvek::pathToWide(root / "e"), "e");
  EXPECT_EQ(estimatedSizeKb(zorvek::pathToWide(root)), 5u);
  EXPECT_EQ(estimatedSizeKb(zorvek::pathToWide(root / "missing")), 0u);
  EXPECT_EQ(estimatedSizeKb(L""), 0u);
}

TEST(InstallLayoutTest, OnlyAFolderWithTheProgramsCountsAsAnInstallation) {
  TempDir dir;
  const auto root = dir.path();
  const std::wstring folder = zorvek::pathToWide(root);
  EXPECT_FALSE(holdsInstallation(folder));
  EXPECT_FALSE(holdsInstallation(L""));
  EXPECT_FALSE(holdsInstallation(zorvek::pathToWide(root / "missing")));
  writeFile(zorvek::pathToWide(root / "sigutil.exe"), "x");
  EXPECT_FALSE(holdsInstallation(folder));
  // A folder of that name is not the program.
  std::filesystem::create_directory(root / "ZorvekService.exe");
  EXPECT_FALSE(holdsInstallation(folder));
  writeFile(zorvek::pathToWide(root / "ZorvekSetup.exe"), "x");
  EXPECT_TRUE(holdsInstallation(folder));
  std::filesystem::remove(root / "ZorvekSetup.exe");
  std::filesystem::remove(root / "ZorvekService.exe");
  writeFile(zorvek::pathToWide(root / "ZorvekService.exe"), "x");
  EXPECT_TRUE(holdsInstallation(folder));
}

}  // namespace
}  // namespace setup
