#include "setup/SetupLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/Process.h"
#include "setup/platform/SetupFiles.h"

namespace setup {
namespace {

using zorvek::test::TempDir;
const std::string kBom("\xFF\xFE", 2);

std::wstring readAll(const std::wstring& path) {
  std::wstring text;
  EXPECT_TRUE(readSetupLog(path, [&](const std::wstring& t) { text += t; }));
  return text;
}

TEST(SetupLogTest, LineFormat) {
  EXPECT_EQ(encodeLogLine({7, 5, 9, 999}, L"Установка"),
            zorvek::toUtf16Le(L"07:05:09 Установка\r\n"));
  // A text that a message box shows on several lines is still one entry.
  EXPECT_EQ(encodeLogLine({23, 59, 0, 0}, L"a\n\nb\r"), zorvek::toUtf16Le(L"23:59:00 a  b \r\n"));
  EXPECT_EQ(setupLogPath(L"C:\\Temp\\"), L"C:\\Temp\\ZORVEKAntivirus-setup.log");
  EXPECT_EQ(setupLogPath(L""), L"") << "no temporary folder, no log";
}

TEST(SetupLogTest, ByteOrderMarkOnlyOnAnEmptyFile) {
  TempDir dir;
  const std::wstring path = dir.file(L"setup.log");
  appendSetupLog(path, L"первая");
  appendSetupLog(path, L"вторая");
  const std::string bytes = zorvek::test::readFile(path);
  ASSERT_EQ(bytes.compare(0, 2, kBom), 0);
  EXPECT_EQ(bytes.find(kBom, 2), std::string::npos);
  const std::wstring text = zorvek::fromUtf16Le(bytes.substr(2));
  EXPECT_TRUE(std::regex_match(zorvek::toUtf8(text),
                               std::regex("\\d\\d:\\d\\d:\\d\\d первая\r\n\\d\\d:\\d\\d:\\d\\d вторая\r\n")))
      << zorvek::toUtf8(text);

  // A file that already holds text gets none, even without a mark of its own.
  const std::wstring other = dir.file(L"other.log");
  zorvek::test::writeFile(other, zorvek::toUtf16Le(L"old\r\n"));
  appendSetupLog(other, L"new");
  EXPECT_EQ(zorvek::test::readFile(other).find(kBom), std::string::npos);

  appendSetupLog(dir.file(L"missing-folder/setup.log"), L"ignored");  // errors are ignored
  appendSetupLog(L"", L"ignored");
}

TEST(SetupLogTest, TwoProcessesInterleaveWholeLines) {
  TempDir dir;
  const std::wstring path = dir.file(L"setup.log");
  constexpr int kLines = 300;
  zorvek::ChildProcess a, b;
  std::string error;
  const auto args = [&](const wchar_t* tag) {
    return std::vector<std::wstring>{zorvek::test::helperProgram(), L"setup-log", path, tag,
                                     std::to_wstring(kLines)};
  };
  ASSERT_TRUE(a.start(args(L"A"), &error)) << error;
  ASSERT_TRUE(b.start(args(L"B"), &error)) << error;
  uint32_t codeA = 1, codeB = 1;
  ASSERT_TRUE(a.wait(&codeA));
  ASSERT_TRUE(b.wait(&codeB));
  EXPECT_EQ(codeA, 0u);
  EXPECT_EQ(codeB, 0u);

  const std::string bytes = zorvek::test::readFile(path);
  ASSERT_EQ(bytes.compare(0, 2, kBom), 0);
  EXPECT_EQ(bytes.find(kBom, 2), std::string::npos) << "one mark, from the first writer only";
  const std::string text = zorvek::toUtf8(zorvek::fromUtf16Le(bytes.substr(2)));
  const std::regex line("\\d\\d:\\d\\d:\\d\\d ([AB]) (\\d+)");
  int next[2] = {0, 0};
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "the last line is whole";
    std::smatch m;
    const std::string l = text.substr(start, end - start);
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    int& expected = next[m[1] == "A" ? 0 : 1];
    EXPECT_EQ(std::stoi(m[2]), expected) << "lines of one writer stay in order";
    ++expected;
    start = end + 2;
  }
  EXPECT_EQ(next[0], kLines);
  EXPECT_EQ(next[1], kLines);
}

TEST(SetupLogTest, ReadsBackAcrossBlockBoundaries) {
  TempDir dir;
  const std::wstring path = dir.file(L"setup.log");
  // Lines of varying length so that block ends fall inside characters and surrogate pairs.
  std::wstring expected;
  std::string bytes = kBom;
  for (int i = 0; i < 2000; ++i) {
    const std::wstring l = std::wstring(static_cast<size_t>(i % 7), L'ж') +
                           zorvek::toWide("\xF0\x9F\x98\x80") + std::to_wstring(i) + L"\r\n";
    expected += l;
    bytes += zorvek::toUtf16Le(l);
  }
  ASSERT_GT(bytes.size(), 3u * 8190);
  zorvek::test::writeFile(path, bytes);
  EXPECT_EQ(readAll(path), expected);

  zorvek::test::writeFile(path, zorvek::toUtf16Le(L"no mark"));
  EXPECT_EQ(readAll(path), L"no mark");
  EXPECT_FALSE(readSetupLog(dir.file(L"missing.log"), [](const std::wstring&) {}));
}

TEST(SetupLogTest, RefusesALinkInPlaceOfTheLog) {
  TempDir dir;
  const std::wstring target = dir.file(L"victim.txt");
  zorvek::test::writeFile(target, "precious");
  const std::filesystem::path link = dir.path() / "setup.log";
  std::error_code ec;
  const struct {
    const char* what;
    void (*make)(const std::filesystem::path&, const std::filesystem::path&, std::error_code&);
  } kinds[] = {
      {"symbolic link", [](const auto& t, const auto& l, auto& e) { std::filesystem::create_symlink(t, l, e); }},
      {"hard link", [](const auto& t, const auto& l, auto& e) { std::filesystem::create_hard_link(t, l, e); }},
  };
  int made = 0;
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.what);
    std::filesystem::remove(link, ec);
    k.make(dir.path() / "victim.txt", link, ec);
    if (ec) continue;
    ++made;
    appendSetupLog(zorvek::pathToWide(link), L"line");
    EXPECT_EQ(zorvek::test::readFile(target), "precious");
  }
  if (made == 0) GTEST_SKIP() << "no links here: " << ec.message();
}

}  // namespace
}  // namespace setup
