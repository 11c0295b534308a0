#include "common/Logger.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/Process.h"
#include "tests/helper/HelperContent.h"

namespace zorvek {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LoggerTest, FormatsTagsAndTime) {
  const LocalTimeOfDay t{4, 3, 7, 42};
  const struct { int level; const char* line; } cases[] = {
      {0, "04:03:07.042 [DBG] m\n"}, {1, "04:03:07.042 [INF] m\n"},
      {2, "04:03:07.042 [WRN] m\n"}, {3, "04:03:07.042 [ERR] m\n"},
      {7, "04:03:07.042 [???] m\n"}, {-1, "04:03:07.042 [???] m\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    EXPECT_EQ(formatLogLine(t, c.level, "m"), c.line);
  }
  EXPECT_EQ(formatLogLine({23, 59, 59, 999}, 1, "Привет"), "23:59:59.999 [INF] Привет\n");
}

TEST(LoggerTest, LongLinesAreCutAndKeepTheirLineEnd) {
  const LocalTimeOfDay t{};
  const size_t prefix = formatLogLine(t, 1, "").size() - 1;  // "00:00:00.000 [INF] "
  const struct { size_t message; size_t written; bool cut; } cases[] = {
      {kMaxLogLine - 1 - prefix, kMaxLogLine, false},  // the longest line that fits
      {kMaxLogLine - prefix, kMaxLogLine, true},
      {3000, kMaxLogLine, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string line = formatLogLine(t, 1, std::string(c.message, 'x'));
    ASSERT_EQ(line.size(), c.written);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line[line.size() - 2], 'x');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.size() - 1 - prefix < c.message, c.cut);
  }
}

TEST(LoggerTest, WritesLinesAfterOneByteOrderMark) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"журнал") + pathSeparator() + L"zorvek.log";
  Logger& log = Logger::instance();
  log.open(path);  // creates the missing folder
  ASSERT_TRUE(log.isOpen());
  log.write(kLogDebug, "hidden");
  log.write(kLogInfo, "first");
  log.write(7, "odd");
  log.write(kLogInfo, std::string(3000, 'y'));
  log.write(kLogError, "after long");
  log.open(path);
  log.write(kLogWarning, "reopened");
  log.close();
  log.write(kLogError, "closed");

  const std::string text = test::readFile(path);
  ASSERT_EQ(text.compare(0, 3, kBom), 0);
  EXPECT_EQ(text.find(kBom, 3), std::string::npos);
  const auto lines = splitLines(text.substr(3));
  ASSERT_EQ(lines.size(), 5u);
  const char* tails[] = {" [INF] first", " [???] odd", "", " [ERR] after long", " [WRN] reopened"};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    ASSERT_GE(lines[i].size(), 12u);
    EXPECT_EQ(lines[i][2], ':');
    EXPECT_EQ(lines[i][8], '.');
    EXPECT_EQ(lines[i].substr(12, std::string(tails[i]).size()), tails[i]);
  }
  EXPECT_EQ(lines[2].size(), kMaxLogLine - 1);
}

TEST(LoggerTest, EmptyExistingFileGetsTheMark) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  test::writeFile(path, "");
  Logger::instance().open(path);
  Logger::instance().close();
  EXPECT_EQ(test::readFile(path), kBom);
  Logger::instance().open(dir.file(L"missing") + pathSeparator() + L"x" + pathSeparator());
  EXPECT_FALSE(Logger::instance().isOpen());
  Logger::instance().write(kLogError, "only to the debugger");
}

TEST(LoggerTest, CrashRecordAppendsOneLine) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  char text[256];
  const size_t n = formatUnhandledException(text, sizeof text, 0xC0000005u, nullptr, 4242);
  EXPECT_EQ(std::string(text).rfind("UNHANDLED EXCEPTION code=0xC0000005 address=", 0), 0u);
  EXPECT_EQ(std::string(text).substr(n - 12), " thread=4242");

  openCrashLog(path);
  writeCrashRecord(text);
  closeCrashLog();
  // Without the start-up handle the record still lands: the path is opened for it.
  writeCrashRecord("second");
  EXPECT_EQ(test::readFile(path), "crash: " + std::string(text) + "\ncrash: second\n");

  // The buffer bounds the text.
  char small[16];
  EXPECT_EQ(formatUnhandledException(small, sizeof small, 1, nullptr, 1), 15u);
}

TEST(LoggerTest, TwoProcessesAppendWholeLines) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  const unsigned long kLines = 1500;
  ChildProcess a, b;
  std::string error;
  ASSERT_TRUE(a.start({test::helperProgram(), L"log", path, L"A", std::to_wstring(kLines)}, &error))
      << error;
  ASSERT_TRUE(b.start({test::helperProgram(), L"log", path, L"B", std::to_wstring(kLines)}, &error))
      << error;
  // This process writes too, through its own handle.
  Logger::instance().open(path);
  for (unsigned long i = 0; i < kLines; ++i) {
    Logger::instance().write(kLogInfo, test::helperLogMessage("C", i));
  }
  Logger::instance().close();
  uint32_t codeA = 1, codeB = 1;
  ASSERT_TRUE(a.wait(&codeA));
  ASSERT_TRUE(b.wait(&codeB));
  EXPECT_EQ(codeA, 0u);
  EXPECT_EQ(codeB, 0u);

  std::string text = test::readFile(path);
  ASSERT_EQ(text.compare(0, 3, kBom), 0);
  text.erase(0, 3);
  ASSERT_EQ(text.back(), '\n');
  std::map<std::string, unsigned long> next;  // each writer's lines arrive in order
  for (const std::string& line : splitLines(text)) {
    ASSERT_GT(line.size(), 19u) << line;
    const std::string message = line.substr(19);
    const std::string tag = message.substr(0, 1);
    ASSERT_EQ(line.substr(12, 7), " [INF] ") << line;
    ASSERT_EQ(message, test::helperLogMessage(tag, next[tag]++)) << line;
  }
  EXPECT_EQ(next["A"], kLines);
  EXPECT_EQ(next["B"], kLines);
  EXPECT_EQ(next["C"], kLines);
}

TEST(LoggerTest, CrashRecordFromAnotherProcess) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  test::writeFile(path, kBom + "12:00:00.000 [INF] before\n");
  ChildProcess p;
  ASSERT_TRUE(p.start({test::helperProgram(), L"crash", path}));
  uint32_t code = 1;
  ASSERT_TRUE(p.wait(&code));
  EXPECT_EQ(code, 0u);
  const std::string text = test::readFile(path);
  const std::string head = kBom + "12:00:00.000 [INF] before\ncrash: UNHANDLED EXCEPTION code=0xC0000005 address=";
  EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
}  // namespace zorvek
