#include "common/ServiceConfig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "TestUtil.h"
#include "common/DataPaths.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Process.h"
#include "common/platform/System.h"
#include "tests/helper/HelperContent.h"

namespace zorvek {
namespace {

class ServiceConfigTest : public ::testing::Test {
 protected:
  static ServiceConfig parsed(const std::string& text) {
    ServiceConfig c;
    c.parse(text);
    return c;
  }

  test::TempDir dir_;
  test::ScopedEnvironment dataDir_{L"ZORVEK_DATA_DIR", dir_.file(L"данные")};
};

TEST_F(ServiceConfigTest, FirstStartWritesTheDefaults) {
  const std::wstring path = settingsFilePath();
  ServiceConfig config;
  std::string error;
  EXPECT_FALSE(config.load(path, &error));
  ASSERT_TRUE(config.save(path));
  const std::string sep = toUtf8(std::wstring(1, pathSeparator()));
  const std::string expected =
      "# Zorvek Antivirus settings\nProtectionEnabled=1\nRealTimeEnabled=1\nScanArchives=0\n"
      "ScanRemovable=0\nShowThreatModal=1\nQuarantineOnDetect=0\nScheduledScan=1\n"
      "ScheduledHour=4\nLastScanUtc=0\nLastThreatCount=0\nSignatureDb=" +
      toUtf8(pathToWide(toPath(modulePath()).parent_path())) + sep + "data" + sep +
      "signatures.seed.txt\nQuarantineDir=" + toUtf8(dir_.file(L"данные")) + sep +
      "Quarantine\nLiveUpdates=1\nLastLiveUpdateUtc=0\nWebShield=1\nUpdateServer=\n";
  EXPECT_EQ(test::readFile(path), expected);

  ServiceConfig back;
  back.protectionEnabled = false;
  back.signatureDb.clear();
  ASSERT_TRUE(back.load(path));
  EXPECT_TRUE(back == ServiceConfig());
}

TEST_F(ServiceConfigTest, ValuesReadAsWritten) {
  const struct { const char* text; bool protection; } bools[] = {
      {"ProtectionEnabled=1", true},      {"ProtectionEnabled=true", true},
      {"ProtectionEnabled=True", false},  {"ProtectionEnabled= 1", false},
      {"ProtectionEnabled=1 ", false},    {"ProtectionEnabled=yes", false},
      {"ProtectionEnabled=", false},      {"ProtectionEnabled=1\r", true},
      {"ProtectionEnabled=1\r\n", true},  {"ProtectionEnabled=1\r\r\n", false},
      {"protectionenabled=0", true},      {" ProtectionEnabled=0", true},
      {"# ProtectionEnabled=0", true},    {"ProtectionEnabled=0\nProtectionEnabled=1", true},
      {"ProtectionEnabled=1\nProtectionEnabled=0\n", false}};
  for (const auto& c : bools) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parsed(c.text).protectionEnabled, c.protection);
  }

  const struct { const char* value; uint32_t hour; } hours[] = {
      {"25", 1}, {"7pm", 7}, {" 5", 5}, {"\t+6", 6}, {"23\r", 23}, {"-1", 15},
      {"4294967295", 15}, {"-4294967295", 1}, {"00000000000000000000019", 19}};
  for (const auto& c : hours) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(parsed(std::string("ScheduledHour=") + c.value).scheduledHour, c.hour);
  }

  const struct { const char* value; uint64_t number; } numbers[] = {
      {"1700000000", 1700000000}, {"garbage", 0}, {"12abc", 12}, {"  9", 9},
      {"18446744073709551615", UINT64_MAX}, {"99999999999999999999", UINT64_MAX}};
  for (const auto& c : numbers) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(parsed(std::string("LastScanUtc=") + c.value).lastScanUtc, c.number);
  }

  const ServiceConfig c = parsed(
      "UpdateServer=https://u.example/a=b\r\nSignatureDb=\nQuarantineDir=/q/Карантин\n"
      "LastThreatCount=7\nLastLiveUpdateUtc=8\nScanArchives=1\nWebShield=0\nUnknown=1\nnoequals\n");
  EXPECT_EQ(c.updateServer, "https://u.example/a=b");
  EXPECT_EQ(c.signatureDb, L"");
  EXPECT_EQ(c.quarantineDir, L"/q/Карантин");
  EXPECT_EQ(c.lastThreatCount, 7u);
  EXPECT_EQ(c.lastLiveUpdateUtc, 8u);
  EXPECT_TRUE(c.scanArchives);
  EXPECT_FALSE(c.webShield);
  EXPECT_TRUE(c.realTimeEnabled);  // absent keys keep their values
}

// Every setting of the table gets a value other than its default, so one added there is
// covered here without another line.
TEST_F(ServiceConfigTest, EverySettingSurvivesTheFileAndTheWire) {
  const ServiceConfig defaults;
  ServiceConfig changed;
  uint32_t n = 0;
  forEachSetting([&](const auto& field) {
    using Field = std::decay_t<decltype(field)>;
    auto& value = changed.*field.member;
    ++n;
    if constexpr (Field::kind == SettingKind::Flag) value = !value;
    else if constexpr (Field::kind == SettingKind::Hour) value = (value + n) % 24;
    else if constexpr (Field::kind == SettingKind::Count) value = 1000000007ull * n;
    else if constexpr (Field::kind == SettingKind::Path) value = L"D:\\Данные=\\" + std::to_wstring(n);
    else value = "значение=" + std::to_string(n);
    EXPECT_NE(value, defaults.*field.member) << field.key;
  });

  ServiceConfig fromFile = defaults;
  fromFile.parse(changed.serialize());
  EXPECT_TRUE(fromFile == changed);

  // What travels arrives; the rest keeps the receiver's values, on decoding and on applying.
  ServiceConfig received = defaults;
  ASSERT_TRUE(ipc::decodeConfigPayload(ipc::encodeConfigPayload(changed), received));
  ServiceConfig applied = defaults;
  assignWireSettings(changed, applied);
  forEachSetting([&](const auto& field) {
    SCOPED_TRACE(field.key);
    const auto& want = (field.onWire ? changed : defaults).*field.member;
    EXPECT_EQ(received.*field.member, want);
    EXPECT_EQ(applied.*field.member, want);
  });
}

TEST_F(ServiceConfigTest, WindowsLineEndsReadLikeUnixOnes) {
  ServiceConfig written;
  written.protectionEnabled = false;
  written.scanRemovable = true;
  written.updateServer = "http://srv";
  std::string crlf;
  for (char ch : written.serialize()) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  ServiceConfig read;
  read.protectionEnabled = true;
  read.parse(crlf);
  EXPECT_TRUE(read == written);
}

TEST_F(ServiceConfigTest, BadScheduledHourThrowsLikeStoul) {
  const struct { const char* value; const char* what; bool range; } cases[] = {
      {"", "invalid stoul argument", false},
      {"pm", "invalid stoul argument", false},
      {"-", "invalid stoul argument", false},
      {"4294967296", "stoul argument out of range", true},
      {"-4294967296", "stoul argument out of range", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ServiceConfig config;
    try {
      config.parse(std::string("ScheduledHour=") + c.value + "\n");
      ADD_FAILURE() << "no exception";
    } catch (const std::out_of_range& e) {
      EXPECT_TRUE(c.range);
      EXPECT_STREQ(e.what(), c.what);
    } catch (const std::invalid_argument& e) {
      EXPECT_FALSE(c.range);
      EXPECT_STREQ(e.what(), c.what);
    }
  }
}

TEST_F(ServiceConfigTest, SaveAndLoadRoundTrip) {
  ServiceConfig c;
  c.protectionEnabled = false;
  c.quarantineOnDetect = true;
  c.scheduledHour = 23;
  c.lastScanUtc = UINT64_MAX;
  c.lastThreatCount = 12;
  c.lastLiveUpdateUtc = 1700000000;
  c.liveUpdates = false;
  c.updateServer = "https://обновления.example/api";
  c.signatureDb = dir_.file(L"Базы сигнатур") + pathSeparator() + L"main.db";
  c.quarantineDir = dir_.file(L"Карантин ✓");
  const std::wstring path = dir_.file(L"settings.ini");
  ASSERT_TRUE(c.save(path));
  const std::string text = test::readFile(path);
  EXPECT_NE(text.find("\nSignatureDb=" + toUtf8(c.signatureDb) + "\n"), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  ServiceConfig back;
  ASSERT_TRUE(back.load(path));
  EXPECT_TRUE(back == c);
}

TEST_F(ServiceConfigTest, LineBreaksCannotForgeKeys) {
  ServiceConfig c;
  c.updateServer = "http://x\nProtectionEnabled=0";
  c.signatureDb = L"a\r\nRealTimeEnabled=0";
  ServiceConfig back;
  back.parse(c.serialize());
  EXPECT_TRUE(back.protectionEnabled);
  EXPECT_TRUE(back.realTimeEnabled);
  EXPECT_EQ(back.updateServer, "http://x ProtectionEnabled=0");
}

TEST_F(ServiceConfigTest, FailedSaveKeepsTheOldFile) {
  ServiceConfig c;
  std::string error;
  EXPECT_FALSE(c.save(dir_.file(L"нет") + pathSeparator() + L"settings.ini", &error));
  EXPECT_FALSE(error.empty());
}

// A save killed at any moment leaves the previous file or the new one, whole.
TEST_F(ServiceConfigTest, KilledSaveNeverLeavesATruncatedFile) {
  const std::wstring path = dir_.file(L"settings.ini");
  const std::string versions[] = {test::helperConfig(0).serialize(),
                                  test::helperConfig(1).serialize()};
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    ChildProcess child;
    ASSERT_TRUE(child.start({test::helperProgram(), L"save-settings", path, L"0"}));
    for (int i = 0; i < 2000 && !pathExists(path); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 7) % 40));
    child.kill();
    ASSERT_TRUE(child.wait());
    const std::string text = test::readFile(path);
    EXPECT_TRUE(text == versions[0] || text == versions[1]) << "size " << text.size();
  }
}

}  // namespace
}  // namespace zorvek
