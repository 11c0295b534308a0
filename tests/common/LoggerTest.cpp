#include "common/Logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <map>
#include <sstream>
#include <vector>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
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

// The lines of every writer found in the rotated log and the current one, in that order: each
// file must start with the one mark and hold whole lines only.
std::map<std::string, std::vector<unsigned long>> linesByWriter(const std::wstring& path) {
  std::map<std::string, std::vector<unsigned long>> seen;
  for (const std::wstring& file : {rotatedLogPath(path), path}) {
    SCOPED_TRACE(toUtf8(file));
    std::string text = test::readFile(file);
    EXPECT_EQ(text.compare(0, 3, kBom), 0);
    EXPECT_EQ(text.find(kBom, 3), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    for (const std::string& line : splitLines(text.substr(3))) {
      const std::string message = line.size() > 19 ? line.substr(19) : "";
      const size_t space = message.find(' ');
      if (space == std::string::npos) {
        ADD_FAILURE() << "not a writer's line: " << line;
        continue;
      }
      const std::string tag = message.substr(0, space);
      const unsigned long i = std::stoul(message.substr(space + 1));
      EXPECT_EQ(message, test::helperLogMessage(tag, i)) << line;
      seen[tag].push_back(i);
    }
  }
  return seen;
}

void expectEveryLine(const std::map<std::string, std::vector<unsigned long>>& seen,
                     const std::map<std::string, unsigned long>& written) {
  for (const auto& [tag, lines] : written) {
    SCOPED_TRACE(tag);
    const auto it = seen.find(tag);
    ASSERT_NE(it, seen.end());
    ASSERT_EQ(it->second.size(), lines);
    for (unsigned long i = 0; i < lines; ++i) ASSERT_EQ(it->second[i], i);
  }
}

// The sizes make exactly one rotation: the rotating writer alone passes the limit, and all that
// follows it stays below the limit, so nothing is lost to a second one.
constexpr unsigned long kRotatingLines = 2000, kOtherLines = 800;
constexpr uint64_t kRotateAt = 420 * 1024;

TEST(LoggerTest, RotationKeepsTheLinesOfEveryWriter) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  const auto writeLines = [&](const std::string& tag, unsigned long lines, uint64_t rotateAt) {
    LogFile log;
    if (!log.open(path, rotateAt)) return 0;
    int rotations = 0;
    for (unsigned long i = 0; i < lines; ++i) {
      const auto result = log.append(formatLogLine({}, kLogInfo, test::helperLogMessage(tag, i)));
      if (result == LogFile::Appended::Failed || result == LogFile::Appended::RotationFailed) return -1;
      rotations += result == LogFile::Appended::Rotated;
    }
    return rotations;
  };
  // Two writers in one process, each with a handle of its own, exclude each other as two
  // processes do.
  auto other = std::async(std::launch::async, writeLines, "F", kOtherLines, 0);
  EXPECT_EQ(writeLines("R", kRotatingLines, kRotateAt), 1);
  EXPECT_EQ(other.get(), 0);
  expectEveryLine(linesByWriter(path), {{"R", kRotatingLines}, {"F", kOtherLines}});
  EXPECT_GE(fileSize(rotatedLogPath(path)), static_cast<long long>(kRotateAt));
  EXPECT_LT(fileSize(path), static_cast<long long>(kRotateAt));
}

TEST(LoggerTest, WritersInOtherProcessesFollowARotation) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  // An older rotated log is replaced.
  test::writeFile(rotatedLogPath(path), kBom + "old\n");
  ChildProcess rotating, plain;
  std::string error;
  ASSERT_TRUE(rotating.start({test::helperProgram(), L"log", path, L"R", std::to_wstring(kRotatingLines),
                              std::to_wstring(kRotateAt)}, &error)) << error;
  ASSERT_TRUE(plain.start({test::helperProgram(), L"log", path, L"P", std::to_wstring(kOtherLines)},
                          &error)) << error;
  Logger::instance().open(path);
  for (unsigned long i = 0; i < kOtherLines; ++i)
    Logger::instance().write(kLogInfo, test::helperLogMessage("C", i));
  Logger::instance().close();
  uint32_t codeR = 1, codeP = 1;
  ASSERT_TRUE(rotating.wait(&codeR));
  ASSERT_TRUE(plain.wait(&codeP));
  EXPECT_EQ(codeR, 0u);
  EXPECT_EQ(codeP, 0u);
  expectEveryLine(linesByWriter(path), {{"R", kRotatingLines}, {"P", kOtherLines}, {"C", kOtherLines}});
}

TEST(LoggerTest, ManyRotationsLeaveWholeLinesAndBoundedFiles) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  constexpr uint64_t kSmall = 8 * 1024;
  auto other = std::async(std::launch::async, [&] {
    LogFile log;
    if (!log.open(path)) return false;
    for (unsigned long i = 0; i < 400; ++i)
      if (log.append(formatLogLine({}, kLogInfo, test::helperLogMessage("F", i))) != LogFile::Appended::Written)
        return false;
    return true;
  });
  LogFile log;
  ASSERT_TRUE(log.open(path, kSmall));
  int rotations = 0;
  for (unsigned long i = 0; i < 400; ++i)
    rotations += log.append(formatLogLine({}, kLogInfo, test::helperLogMessage("R", i))) ==
                 LogFile::Appended::Rotated;
  EXPECT_TRUE(other.get());
  EXPECT_GT(rotations, 5);
  // Whole lines behind one mark in both files; each writer's lines in order.
  for (const auto& [tag, lines] : linesByWriter(path)) {
    SCOPED_TRACE(tag);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
  }
}

// A holder of the older log (a writer that has not followed yet, the crash writer's spare
// handle) must not stop later rotations, nor leave files behind once it lets go.
TEST(LoggerTest, RotationReplacesAnOlderLogThatIsStillOpen) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  test::writeFile(rotatedLogPath(path), kBom + "old\n");
  AppendFile holder;
  ASSERT_TRUE(holder.open(rotatedLogPath(path)));
  LogFile log;
  ASSERT_TRUE(log.open(path, 1024));
  int rotations = 0;
  for (unsigned long i = 0; i < 200 && rotations < 2; ++i)
    rotations += log.append(formatLogLine({}, kLogInfo, test::helperLogMessage("R", i))) ==
                 LogFile::Appended::Rotated;
  EXPECT_EQ(rotations, 2) << log.rotationError();
  holder.close();
  log.close();
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"zorvek.log", "zorvek.log.1"}));
}

TEST(LoggerTest, CrashRecordFollowsARotation) {
  test::TempDir dir;
  const std::wstring path = dir.file(L"zorvek.log");
  openCrashLog(path);
  Logger::instance().setRotation(4096);
  Logger::instance().open(path);
  Logger::instance().setRotation(0);  // for the tests after this one
  for (unsigned long i = 0; i < 100; ++i) Logger::instance().write(kLogInfo, test::helperLogMessage("L", i));
  writeCrashRecord("after rotation");
  Logger::instance().close();
  closeCrashLog();
  EXPECT_NE(test::readFile(path).find("crash: after rotation\n"), std::string::npos);
  EXPECT_EQ(test::readFile(rotatedLogPath(path)).find("crash:"), std::string::npos);
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
