#include "setup/SettingsSeed.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "setup/StepLog.h"

namespace setup {
namespace {

using zorvek::test::readFile;
using zorvek::test::TempDir;
using zorvek::test::writeFile;

const std::wstring kSeed = L"C:\\Program Files\\ZORVEK Antivirus\\data\\signatures.seed.txt";
const std::wstring kQuarantine = L"C:\\ProgramData\\ZORVEK Antivirus\\Quarantine";
const std::string kSeedLine = "SignatureDb=" + zorvek::toUtf8(kSeed);
const std::string kQuarantineLine = "QuarantineDir=" + zorvek::toUtf8(kQuarantine);

TEST(SettingsSeedTest, SetsThePathKeysAndKeepsEverythingElse) {
  const struct {
    const char* what;
    std::string before, after;
  } cases[] = {
      {"empty file", "", kSeedLine + "\n" + kQuarantineLine + "\n"},
      {"keys in place",
       "# Zorvek Antivirus settings\nScheduledHour=7\nSignatureDb=D:\\old.txt\nQuarantineDir=D:\\q\nWebShield=0\n",
       "# Zorvek Antivirus settings\nScheduledHour=7\n" + kSeedLine + "\n" + kQuarantineLine +
           "\nWebShield=0\n"},
      {"repeated lines after the first stay", "SignatureDb=a\nSignatureDb=b\nQuarantineDir=\nQuarantineDir=q\n",
       kSeedLine + "\nSignatureDb=b\n" + kQuarantineLine + "\nQuarantineDir=q\n"},
      {"CR LF lines keep their CR; last line gains its LF",
       "ProtectionEnabled=1\r\nSignatureDb=x\r\nUpdateServer=a=b",
       "ProtectionEnabled=1\r\n" + kSeedLine + "\n" + "UpdateServer=a=b\n" + kQuarantineLine + "\n"},
      {"keys match exactly", "signaturedb=x\n SignatureDb=y\nSignatureDbX=z\n# SignatureDb=c\n",
       "signaturedb=x\n SignatureDb=y\nSignatureDbX=z\n# SignatureDb=c\n" + kSeedLine + "\n" +
           kQuarantineLine + "\n"},
      {"blank lines stay", "\n\nLiveUpdates=0\n\n", "\n\nLiveUpdates=0\n\n" + kSeedLine + "\n" + kQuarantineLine + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(seededSettingsText(c.before, kSeed, kQuarantine), c.after);
  }
  // Non-ASCII paths go in as UTF-8.
  EXPECT_EQ(seededSettingsText("", L"C:\\Программы\\s.txt", L"Q"),
            "SignatureDb=C:\\Программы\\s.txt\nQuarantineDir=Q\n");
}

class SeedSettingsTest : public ::testing::Test {
 protected:
  SeedPaths paths() const {
    return {dir_.file(L"machine") + sep_ + L"settings.ini",
            dir_.file(L"profile") + sep_ + L"settings.ini", kSeed, kQuarantine};
  }
  StepLog log_{L"", {[this](const std::wstring& l) { lines_.push_back(zorvek::toUtf8(l)); }, {}}};
  std::vector<std::string> lines_;
  TempDir dir_;
  const std::wstring sep_{zorvek::pathSeparator()};
};

TEST_F(SeedSettingsTest, WritesTheFileAndLogsTheSeedPath) {
  const SeedPaths p = paths();
  ASSERT_TRUE(seedSettings(p, log_));
  EXPECT_EQ(readFile(p.settingsFile), kSeedLine + "\n" + kQuarantineLine + "\n");
  EXPECT_EQ(lines_, std::vector<std::string>{"путь к базе сигнатур: " + zorvek::toUtf8(kSeed)});
  EXPECT_FALSE(log_.failed());

  // A repair keeps the user's settings.
  writeFile(p.settingsFile, "ScanArchives=1\nSignatureDb=old\n");
  ASSERT_TRUE(seedSettings(p, log_));
  EXPECT_EQ(readFile(p.settingsFile), "ScanArchives=1\n" + kSeedLine + "\n" + kQuarantineLine + "\n");
}

TEST_F(SeedSettingsTest, CarriesTheProfileSettingsOverOnlyIntoAMissingFile) {
  const SeedPaths p = paths();
  zorvek::createDirectories(dir_.file(L"profile"));
  writeFile(p.fallbackSettingsFile, "ScheduledHour=9\nQuarantineDir=C:\\Users\\u\\q\n");
  ASSERT_TRUE(seedSettings(p, log_));
  EXPECT_EQ(readFile(p.settingsFile), "ScheduledHour=9\n" + kQuarantineLine + "\n" + kSeedLine + "\n");
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0], "перенесено из профиля пользователя: " + zorvek::toUtf8(p.fallbackSettingsFile));
  // The profile file is read, not moved.
  EXPECT_TRUE(zorvek::pathExists(p.fallbackSettingsFile));

  lines_.clear();
  writeFile(p.settingsFile, "ScheduledHour=3\n");
  ASSERT_TRUE(seedSettings(p, log_));
  EXPECT_EQ(readFile(p.settingsFile), "ScheduledHour=3\n" + kSeedLine + "\n" + kQuarantineLine + "\n");
  EXPECT_EQ(lines_.size(), 1u) << "nothing carried over once the machine file exists";
}

TEST_F(SeedSettingsTest, AnUnreadableFileIsAnErrorAndStays) {
  const SeedPaths p = paths();
  // A folder in place of the file: it exists and cannot be read.
  std::filesystem::create_directories(zorvek::toPath(p.settingsFile));
  writeFile(p.settingsFile + sep_ + L"inside", "keep");
  EXPECT_FALSE(seedSettings(p, log_));
  EXPECT_TRUE(log_.failed());
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_TRUE(lines_[0].starts_with("ОШИБКА: не удалось прочитать настройки: ")) << lines_[0];
  EXPECT_EQ(readFile(p.settingsFile + sep_ + L"inside"), "keep");
}

TEST_F(SeedSettingsTest, AFolderThatCannotBeMadeIsAnError) {
  SeedPaths p = paths();
  writeFile(dir_.file(L"blocker"), "a file where the folder should be");
  p.settingsFile = dir_.file(L"blocker") + sep_ + L"settings.ini";
  EXPECT_FALSE(seedSettings(p, log_));
  EXPECT_EQ(lines_, std::vector<std::string>{"ОШИБКА: не удалось записать настройки: " +
                                             zorvek::toUtf8(p.settingsFile)});
}

}  // namespace
}  // namespace setup
