#include "gui/model/Headline.h"

#include <gtest/gtest.h>

namespace zorvek::gui {
namespace {

TEST(HeadlineTest, TheFirstRuleThatHoldsWins) {
  const auto view = [](bool connected, bool scanning, size_t pending, uint64_t threats, bool on,
                       uint64_t signatures) {
    ServiceView v;
    v.connected = connected;
    v.status.scanRunning = scanning;
    v.pendingThreats.resize(pending);
    v.summary.threats = threats;
    v.settingsLoaded = true;
    v.settings.protectionEnabled = on;
    v.status.signatureCount = signatures;
    return v;
  };
  const struct {
    ServiceView view;
    const char* text;
  } cases[] = {
      {view(false, true, 2, 1, true, 9), "Служба не отвечает. Запустите ZorvekService в services.msc"},
      {view(true, true, 2, 1, true, 9), "Идёт проверка"},
      {view(true, false, 2, 1, false, 0), "Есть угрозы, требующие решения"},
      {view(true, false, 0, 1, false, 0), "Найдены угрозы"},
      {view(true, false, 0, 0, true, 9), "Система защищена"},
      {view(true, false, 0, 0, true, 0), "База сигнатур пуста — работают только эвристики"},
      {view(true, false, 0, 0, false, 9), "Защита выключена"},
  };
  for (const auto& c : cases) EXPECT_STREQ(headlineText(headlineFor(c.view)), c.text);
}

TEST(HeadlineTest, HelloStandsInForSettingsNotYetLoaded) {
  ServiceView v;
  v.connected = true;
  v.status.signatureCount = 9;
  v.status.protectionEnabled = false;  // the copy's default says on
  EXPECT_EQ(headlineFor(v), Headline::ProtectionOff);
  v.settingsLoaded = true;
  EXPECT_EQ(headlineFor(v), Headline::Protected);
}

}  // namespace
}  // namespace zorvek::gui
