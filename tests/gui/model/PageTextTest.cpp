#include "gui/model/PageText.h"

#include <gtest/gtest.h>

#include "gui/model/PageCommands.h"

namespace zorvek::gui {
namespace {

ServiceView connected(bool protection = true) {
  ServiceView v;
  v.connected = v.settingsLoaded = true;
  v.settings.protectionEnabled = protection;
  return v;
}

TEST(PageTextTest, EmblemFollowsTheFirstStateThatHolds) {
  ServiceView down;
  ServiceView scanning = connected();
  scanning.status.scanRunning = true;
  scanning.pendingThreats.push_back({});
  ServiceView pending = connected();
  pending.pendingThreats.push_back({});
  ServiceView found = connected();
  found.summary.threats = 1;
  ServiceView helloOnly;  // settings not loaded yet: hello's own flag stands in
  helloOnly.connected = true;
  helloOnly.status.protectionEnabled = true;
  const struct {
    const char* what;
    const ServiceView& view;
    EmblemState state;
  } cases[] = {{"service down", down, EmblemState::ServiceDown},
               {"scan running beats threats", scanning, EmblemState::Scanning},
               {"pending threats", pending, EmblemState::Threat},
               {"last scan found threats", found, EmblemState::Threat},
               {"protected", connected(true), EmblemState::Protected},
               {"protection off", connected(false), EmblemState::Off},
               {"hello before settings", helloOnly, EmblemState::Protected}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(overviewEmblem(c.view), c.state);
  }
}

TEST(PageTextTest, PercentIsTruncatedAndClamped) {
  const struct {
    uint64_t done, total;
    int percent;
  } cases[] = {{0, 0, 0},     {5, 0, 0},          {1, 3, 33},         {2, 3, 66},
               {99, 100, 99}, {100, 100, 100},    {150, 100, 100},
               {UINT64_MAX - 1, UINT64_MAX, 99}, {UINT64_MAX, 1, 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.done) + "/" + std::to_string(c.total));
    ipc::ScanProgress p;
    p.filesDone = c.done;
    p.filesTotal = c.total;
    EXPECT_EQ(scanPercent(p), c.percent);
  }
}

TEST(PageTextTest, LevelWordsAndThreatFacts) {
  const char* const words[] = {"нет", "низкая", "средняя", "высокая", "критическая", "неизвестно"};
  for (uint32_t level = 0; level < 6; ++level) EXPECT_STREQ(levelWord(level), words[level]);
  EXPECT_STREQ(levelWord(7), "неизвестно");
  EXPECT_STREQ(levelWord(UINT32_MAX), "неизвестно");
  const ipc::ThreatRecord t{L"C:\\x\\evil.exe", "Trojan.Gen", "SIG.MATCH", 7, 1536};
  EXPECT_EQ(threatFactsLine(t), "Уровень: неизвестно   Размер: 2 КБ");
  const auto details = threatDetails(t);
  ASSERT_EQ(details.size(), 5u);
  EXPECT_EQ(details[0], "Правило: SIG.MATCH");
  EXPECT_EQ(details[1], "Размер: 1536 байт");
  EXPECT_EQ(details.back(), "Файл: C:\\x\\evil.exe");
  EXPECT_EQ(threatDetails({L"p", "n", "", 2, 0}).size(), 4u);  // no empty rule line
}

TEST(PageTextTest, ScanPageLines) {
  ServiceView v = connected();
  v.progress = {12, 40, 1536, 0, L"C:\\a", L"scanning"};
  EXPECT_EQ(scanCountsLine(v.progress), "Проверено 12 из 40 объектов   Объём: 2 КБ");
  v.status.scanRunning = true;
  v.summary.filesScanned = 3;
  EXPECT_EQ(scanSubtitle(v), "Проверка выполняется, не выключайте компьютер");
  EXPECT_EQ(scanResultLine(v), Line{});  // no result while a scan runs
  v.status.scanRunning = false;
  EXPECT_EQ(scanSubtitle(v), "Проверка завершена");
  EXPECT_EQ(scanResultLine(v), (Line{"Найдено угроз: 0, подозрительных файлов: 0", Tone::Good}));
  v.summary.threats = 2;
  v.summary.suspicious = 1;
  v.summary.cancelled = true;
  EXPECT_EQ(scanSubtitle(v), "Проверка остановлена");
  EXPECT_EQ(scanResultLine(v), (Line{"Найдено угроз: 2, подозрительных файлов: 1", Tone::Warning}));
  v.summary.elapsedMs = 61999;
  EXPECT_EQ(lastScanLine(v.summary), "Файлов: 3   Угроз: 2   Подозрительных: 1   Время: 61 с");
  EXPECT_EQ(checkedObjectsLine(v.summary), "Проверено объектов: 3");
  EXPECT_EQ(checkedObjectsLine({}), "");
}

TEST(PageTextTest, SignatureAndUpdateLines) {
  ServiceView v = connected();
  EXPECT_EQ(signatureLine(v), "База сигнатур недоступна — сканирование идёт по эвристикам");
  v.status.signatureCount = 42;
  v.status.databaseVersion = "2026.12.09";
  EXPECT_EQ(signatureLine(v), "База сигнатур: 42 записей, версия 2026.12.09");
  EXPECT_EQ(databaseLine(v), "Записей в базе: 42   Версия: 2026.12.09");
  v.connected = false;
  EXPECT_EQ(signatureLine(v), "База сигнатур недоступна — сканирование идёт по эвристикам");

  EXPECT_EQ(liveUpdateLine(v), (Line{"Обновление базы: —", Tone::Secondary}));
  v.status.liveUpdateError = "HTTP 503";
  EXPECT_EQ(liveUpdateLine(v), (Line{"Обновление не удалось: HTTP 503", Tone::Warning}));
  v.status.liveUpdateRunning = true;
  EXPECT_EQ(liveUpdateLine(v).text, "Обновление базы из интернета выполняется…");

  EXPECT_EQ(selfUpdateLine(v).text, "Программа актуальна (версия 1.2.0)");
  EXPECT_STREQ(programUpdateLabel(v), "Обновить программу");
  v.status.installerPath = L"C:\\u\\ZorvekSetup.exe";
  EXPECT_EQ(selfUpdateLine(v).text, "Установщик обновления скачан — нажмите «Установить обновление»");
  EXPECT_STREQ(programUpdateLabel(v), "Установить обновление");
  v.status.selfUpdateError = "no route";
  EXPECT_EQ(selfUpdateLine(v).text, "Обновление программы: no route");
  v.status.selfUpdateRunning = true;
  EXPECT_EQ(selfUpdateLine(v).text, "Проверка обновлений программы выполняется…");
}

// The settings copy is read once per connection; an update made since shows through hello.
TEST(PageTextTest, LiveUpdateTimeIsTheLaterOfSettingsAndHello) {
  ServiceView v = connected();
  v.settings.lastLiveUpdateUtc = 1000;
  v.status.lastLiveUpdateUtc = 1765000000;
  const std::string later = liveUpdateLine(v).text;
  v.status.lastLiveUpdateUtc = 0;
  EXPECT_NE(liveUpdateLine(v).text, later);
  v.status.lastLiveUpdateUtc = 1765000000;
  v.settings.lastLiveUpdateUtc = 0;
  EXPECT_EQ(liveUpdateLine(v).text, later);
  EXPECT_NE(later.find("2025"), std::string::npos) << later;
}

TEST(PageTextTest, FirewallStatusLine) {
  ServiceView v;
  EXPECT_EQ(firewallStatusLine(v), (Line{"Служба не отвечает — изменения недоступны.", Tone::Warning}));
  v.connected = true;
  v.firewall = fw::parseFirewallStatus("prof,domain,on\nprof,private,on\n");
  EXPECT_EQ(firewallStatusLine(v).text, "Брандмауэр выключен хотя бы в одном профиле.");
  v.firewall = fw::parseFirewallStatus("prof,domain,on\nprof,private,on\nprof,public,on\nrule,on,allow,in,a\\,b,c\n");
  EXPECT_EQ(firewallStatusLine(v).text, "Брандмауэр включён во всех профилях (домен, частный, публичный).");
  EXPECT_EQ(firewallRulesTitle(v), "Правила для программ (1)");
  EXPECT_EQ(v.firewall.rules[0].name, "a,b");
  v.firewallError = "firewall unavailable";
  EXPECT_EQ(firewallStatusLine(v), (Line{"firewall unavailable", Tone::Warning}));
  EXPECT_EQ(quarantineCountLine(3), "В изоляции: 3 объект(ов)");
}

TEST(PageTextTest, SettingRowsFlipTheirOwnFieldsOnly) {
  size_t count = 0;
  const SettingRow* rows = settingRows(&count);
  ASSERT_EQ(count, 7u);
  EXPECT_EQ(rows[0].id, 108);
  for (size_t i = 1; i < count; ++i) {
    SCOPED_TRACE(rows[i].label);
    EXPECT_GE(rows[i].id, kFirstSettingRowId);  // never a command of the window
    EXPECT_NE(rows[i].id, kScheduledHourId);
    ServiceView v;
    const Settings before = v.settings;
    ASSERT_TRUE(editSetting(v, rows[i].id));
    EXPECT_NE(v.settings.*rows[i].field, before.*rows[i].field);
    v.settings.*rows[i].field = before.*rows[i].field;
    EXPECT_EQ(v.settings, before);  // nothing else moved
  }
  ServiceView v;
  EXPECT_FALSE(editSetting(v, 108));  // sent at once by its command, never flipped locally
  EXPECT_FALSE(editSetting(v, 116));
  v.settings.scheduledHour = 22;
  ASSERT_TRUE(editSetting(v, kScheduledHourId));
  EXPECT_EQ(v.settings.scheduledHour, 23u);
  ASSERT_TRUE(editSetting(v, kScheduledHourId));
  EXPECT_EQ(v.settings.scheduledHour, 0u);
}

}  // namespace
}  // namespace zorvek::gui
