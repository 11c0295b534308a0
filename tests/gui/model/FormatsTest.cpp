#include "gui/model/Formats.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace zorvek::gui {
namespace {

TEST(FormatsTest, SizesChangeUnitAtEachPowerOf1024) {
  const struct {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 Б"},
      {1023, "1023 Б"},
      {1024, "1 КБ"},
      {1048575, "1024 КБ"},
      {1048576, "1.0 МБ"},
      {1572864, "1.5 МБ"},
      {1073741823, "1024.0 МБ"},
      {1073741824, "1.00 ГБ"},
      {5368709120, "5.00 ГБ"},
      {UINT64_MAX, "17179869184.00 ГБ"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatsTest, HoursAndDates) {
  EXPECT_EQ(formatHour(0), "00:00");
  EXPECT_EQ(formatHour(23), "23:00");
  EXPECT_EQ(formatLocalDateTime(0), "—");
  EXPECT_EQ(formatLocalDateTime(UINT64_MAX), "—");
  // Any time zone: the day of 2026-06-15 12:00 UTC stays within a day of the 15th.
  const std::string text = formatLocalDateTime(1781524800);
  ASSERT_EQ(text.size(), 16u) << text;
  EXPECT_EQ(text.substr(2, 9), ".06.2026 ") << text;
  EXPECT_EQ(text[13], ':');
  const int day = std::stoi(text.substr(0, 2));
  EXPECT_TRUE(day >= 14 && day <= 16) << text;
}

TEST(FormatsTest, WideCutKeepsSurrogatePairsWhole) {
  EXPECT_EQ(wideCut("Идёт проверка", 4), L"Идёт");
  EXPECT_EQ(wideCut("abc", 127), L"abc");
  EXPECT_EQ(wideCut("", 5), L"");
  // U+1F6E1 is two UTF-16 units: a cut between them drops both.
  const std::string shield = "ab\xF0\x9F\x9B\xA1";
  EXPECT_EQ(toUtf8(wideCut(shield, 3)), "ab");
  EXPECT_EQ(toUtf8(wideCut(shield, 4)), shield);
  EXPECT_EQ(wideCut(std::string(300, 'x'), 127).size(), 127u);
}

}  // namespace
}  // namespace zorvek::gui
