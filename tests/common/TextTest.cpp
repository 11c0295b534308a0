#include "common/Text.h"

#include <gtest/gtest.h>

#include "common/ThreatLevel.h"

namespace zorvek {
namespace {

TEST(TextTest, Utf8RoundTrips) {
  const std::string samples[] = {"", "plain", "Проверка файлов", "日本語", "emoji \xF0\x9F\x98\x80 end",
                                 std::string("nul\0inside", 10)};
  for (const auto& s : samples) {
    SCOPED_TRACE(s);
    EXPECT_EQ(toUtf8(toWide(s)), s);
  }
  EXPECT_EQ(toWide("\xF0\x9F\x98\x80").size(), sizeof(wchar_t) == 2 ? 2u : 1u);
  EXPECT_EQ(toWide("Я"), std::wstring(1, wchar_t(0x42F)));
}

TEST(TextTest, InvalidUtf8) {
  // Overlong, truncated, surrogate and out-of-range sequences are not decoded as characters.
  const std::string bad[] = {"\xC0\xAF", "\xE2\x82", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"};
  for (const auto& s : bad) {
    const std::wstring w = toWide(s);
    if (sizeof(wchar_t) == 4) {
      EXPECT_EQ(toUtf8(w), s) << "raw bytes survive on UTF-32 platforms";
    } else {
      for (wchar_t c : w) EXPECT_EQ(c, 0xFFFD);
    }
  }
  // An unpaired surrogate written by the system becomes U+FFFD.
  if (sizeof(wchar_t) == 2) {
    EXPECT_EQ(toUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  }
}

TEST(TextTest, Utf16LittleEndian) {
  // "Яa" and U+1F600 (a surrogate pair in UTF-16).
  const std::string bytes("\x2F\x04\x61\x00\x3D\xD8\x00\xDE", 8);
  const std::wstring wide = toWide("Яa\xF0\x9F\x98\x80");
  EXPECT_EQ(toUtf16Le(wide), bytes);
  EXPECT_EQ(fromUtf16Le(bytes), wide);
  EXPECT_EQ(fromUtf16Le(bytes + "\x41"), wide) << "an odd last byte is ignored";
  // A lone high surrogate read back: U+FFFD where wide strings are UTF-32, kept as is in UTF-16.
  const std::wstring lone = fromUtf16Le(std::string("\x00\xD8\x41\x00", 4));
  ASSERT_EQ(lone.size(), 2u);
  EXPECT_EQ(static_cast<uint32_t>(lone[0]), sizeof(wchar_t) == 4 ? 0xFFFDu : 0xD800u);
  EXPECT_EQ(lone[1], L'A');
}

TEST(TextTest, QuotedArguments) {
  const struct {
    std::wstring argument;
    bool always;
    std::wstring quoted;
  } cases[] = {
      {L"plain", false, L"plain"},
      {L"plain", true, L"\"plain\""},
      {L"", false, L"\"\""},
      {L"a b", false, L"\"a b\""},
      {L"a\"b", false, L"\"a\\\"b\""},
      {L"C:\\a\\b", false, L"C:\\a\\b"},           // backslashes alone stay as they are
      {L"D:\\", true, L"\"D:\\\\\""},                 // ...but not before the closing quote
      {L"a\\\"b c", false, L"\"a\\\\\\\"b c\""},  // and not before a quote inside
  };
  for (const auto& c : cases) {
    std::wstring line = L"x ";
    appendQuotedArgument(line, c.argument, c.always);
    EXPECT_EQ(line, L"x " + c.quoted) << toUtf8(c.argument);
  }
}

TEST(TextTest, AsciiLowerLeavesOtherCharactersAlone) {
  EXPECT_EQ(asciiLower(std::string("AbC-Я-Z")), "abc-Я-z");
  EXPECT_EQ(asciiLower(std::wstring(L"ABC\u0416")), std::wstring(L"abc\u0416"));
}

TEST(TextTest, PathsKeepNonAsciiNames) {
  const std::wstring name = L"папка/файл.txt";
  EXPECT_EQ(pathToWide(toPath(name)).back(), L't');
  EXPECT_EQ(pathToUtf8(toPath(name).filename()), "файл.txt");
}

TEST(ThreatLevelTest, NamesAndParsing) {
  EXPECT_STREQ(threatLevelName(ThreatLevel::Clean), "clean");
  EXPECT_STREQ(threatLevelName(4u), "critical");
  EXPECT_STREQ(threatLevelName(5u), "unknown");
  const struct {
    const char* word;
    ThreatLevel level;
  } cases[] = {{"High", ThreatLevel::High}, {"HIGH", ThreatLevel::High}, {"low", ThreatLevel::Low},
               {"Medium", ThreatLevel::Medium}, {"critical", ThreatLevel::Critical},
               {"clean", ThreatLevel::Clean}, {"", ThreatLevel::Clean}, {"high ", ThreatLevel::Clean},
               {"severe", ThreatLevel::Clean}};
  for (const auto& c : cases) EXPECT_EQ(parseThreatLevel(c.word), c.level) << c.word;
}

}  // namespace
}  // namespace zorvek
