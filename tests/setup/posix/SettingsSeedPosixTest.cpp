// A settings write that fails part way (a file-size limit stands in for a full disk) must leave
// the user's file as it was.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "posix/FileSizeLimit.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "setup/SettingsSeed.h"

namespace setup {
namespace {

TEST(SettingsSeedPosixTest, AFailedWriteLeavesTheOldFile) {
  zorvek::test::TempDir dir;
  const SeedPaths paths{dir.file(L"settings.ini"), {}, L"C:\\seed.txt", L"C:\\q"};
  const std::string old = "ScheduledHour=9\nWebShield=0\nSignatureDb=C:\\old\\seed.txt\n";
  zorvek::test::writeFile(paths.settingsFile, old);
  std::vector<std::wstring> lines;
  StepLog log(L"", {[&](const std::wstring& l) { lines.push_back(l); }, {}});

  bool seeded = true;
  {
    const zorvek::test::FileSizeLimit full(16);
    ASSERT_TRUE(full.active());
    seeded = seedSettings(paths, log);
  }

  EXPECT_FALSE(seeded);
  EXPECT_TRUE(log.failed());
  EXPECT_EQ(zorvek::test::readFile(paths.settingsFile), old);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(zorvek::toUtf8(lines[0]), "ОШИБКА: не удалось записать настройки: " + zorvek::toUtf8(paths.settingsFile));
  // No temporary file is left beside it.
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace setup
