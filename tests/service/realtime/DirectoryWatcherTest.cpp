#include "service/realtime/DirectoryWatcher.h"
#include "service/realtime/ChangeWatcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "service/engine/Gate.h"
#include "service/realtime/FakeEngine.h"
#include "service/realtime/WatcherFixture.h"

namespace zorvek::svc {
namespace {

using test::FakeEngine;

TEST_F(WatcherFixture, ReportsLevelTwoAndAboveAndOpensNothingElse) {
  start();
  write(L"clean.exe", "an ordinary program");
  write(L"notes.txt", test::kThreat);    // not a scanned type
  write(L".hidden.exe", test::kThreat);  // a dot name
  write(L"suspicious.exe", test::kSuspicious);
  write(L"eicar.com", test::kThreat);
  ASSERT_TRUE(waitForReports(2));
  // The queue keeps the order of the notifications: once a later file is reported, the earlier
  // ones were dealt with.
  write(L"sentinel.com", test::kThreat);
  ASSERT_TRUE(waitForReports(3));
  EXPECT_EQ(engine_.reportedPaths(),
            (std::vector<std::wstring>{in(L"suspicious.exe"), in(L"eicar.com"), in(L"sentinel.com")}));
  EXPECT_EQ(engine_.reports()[0].level, ThreatLevel::Medium);
  EXPECT_EQ(counters_.scanned.load(), 4u);  // clean.exe was judged, the .txt and dot name not
  EXPECT_EQ(counters_.detected.load(), 3u);
  EXPECT_TRUE(log_.contains("[INF] real-time detection: " + toUtf8(in(L"eicar.com"))));
}

TEST_F(WatcherFixture, NestedFileIsReportedOncePerChange) {
  start();
  const std::wstring nested = L"a" + sep() + L"b";
  ASSERT_TRUE(createDirectories(in(nested)));
  const std::wstring file = nested + sep() + L"x.exe";
  write(file, test::kThreat);
  ASSERT_TRUE(waitForReports(1));
  settle();
  write(file, test::kThreatTwo);  // modified
  ASSERT_TRUE(waitForReports(2));
  settle();
  const std::wstring renamed = nested + sep() + L"y.exe";
  ASSERT_TRUE(moveFile(in(file), in(renamed)));
  ASSERT_TRUE(waitForReports(3));
  settle();
  settle();  // late notifications of the same changes must not report them again
  const auto reports = engine_.reports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].path, in(file));
  EXPECT_EQ(reports[0].signatureName, "Test.Eicar");
  EXPECT_EQ(reports[1].path, in(file));
  EXPECT_EQ(reports[1].signatureName, "Test.Two");
  EXPECT_EQ(reports[2].path, in(renamed));
}

TEST_F(WatcherFixture, ServiceFoldersInsideTheTreeAreNeverLookedInto) {
  // Made after the watch is set up (Wine watches no folder that was there before), the
  // quarantine of the first move among them. A data folder there from the start is left out of
  // the watch itself (WatcherLinksTest).
  const std::wstring data = L"ProgramData" + sep() + L"Zorvek";
  const std::wstring quarantine = L"elsewhere" + sep() + L"Quarantine";
  engine_.ownFolders = {in(data) + sep(), in(quarantine)};
  start();
  ASSERT_TRUE(createDirectories(in(data + sep() + L"Quarantine")));
  ASSERT_TRUE(createDirectories(in(quarantine)));
  write(data + sep() + L"logged.exe", test::kThreat);
  write(data + sep() + L"Quarantine" + sep() + L"1_ab_eicar.com", test::kThreat);
  write(quarantine + sep() + L"2_cd_eicar.com", test::kThreat);
  write(L"ProgramData" + sep() + L"Zorvek2.exe", test::kThreat);  // a sibling, not inside
  write(L"sentinel.com", test::kThreat);
  ASSERT_TRUE(waitForReports(2));
  settle();
  EXPECT_EQ(engine_.reportedPaths(),
            (std::vector<std::wstring>{in(L"ProgramData" + sep() + L"Zorvek2.exe"), in(L"sentinel.com")}));
  EXPECT_EQ(counters_.scanned.load(), 2u);  // nothing inside was even opened
}

TEST(DirectoryWatcherTest, WatchedFolderThatIsTheServicesOwnIsNotWatched) {
  zorvek::test::TempDir dir;
  zorvek::test::LogCapture log;
  FakeEngine engine;
  engine.ownFolders = {dir.file(L"")};
  WatcherCounters counters;
  WatcherOptions options;
  options.folders = {dir.file(L"Quarantine")};
  ASSERT_TRUE(createDirectories(options.folders[0]));
  // Returns at once with nothing to watch; a watch set up by mistake is ended, not waited on.
  zorvek::test::Gate returned;
  std::thread guard([&] {
    if (!returned.wait(std::chrono::seconds(5))) engine.stop.store(true);
  });
  runDirectoryWatcher(engine, options, counters);
  returned.open();
  guard.join();
  EXPECT_TRUE(log.contains("real-time: not watched, the service's own folder: " +
                           toUtf8(options.folders[0])))
      << log.text();
  EXPECT_TRUE(log.contains("[WRN] real-time: no watchable directories"));
}

TEST(DirectoryWatcherTest, IsWithinFolderComparesAsTheFileSystemDoes) {
  const bool windows = pathSeparator() == L'\\';
  const struct {
    const wchar_t* path;
    const wchar_t* folder;
    bool posix, win;
  } cases[] = {
      {L"/d/data", L"/d/data", true, true},
      {L"/d/data/q/x.exe", L"/d/data", true, true},
      {L"/d/data/x.exe", L"/d/data/", true, true},
      {L"/d/data2/x.exe", L"/d/data", false, false},
      {L"/d/dat", L"/d/data", false, false},
      {L"/d/x.exe", L"/", true, true},
      {L"/d/x.exe", L"", false, false},
      {L"/D/Data/x.exe", L"/d/data", false, true},
      {L"C:\\ProgramData\\Zorvek\\Q\\x.exe", L"c:/programdata/zorvek", false, true},
      {L"C:\\Users\\\u0418\u0432\u0430\u043d\\x.exe", L"C:\\Users\\\u0438\u0432\u0430\u043d", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(std::wstring(c.path) + L" in " + c.folder));
    EXPECT_EQ(isWithinFolder(c.path, c.folder), windows ? c.win : c.posix);
  }
}

constexpr char kWineFolderMoves[] = "Wine sends no notification for a folder moved or renamed";

TEST_F(WatcherFixture, FolderMovedInIsWatchedAndItsFilesJudged) {
  if (zorvek::test::runningUnderWine()) GTEST_SKIP() << kWineFolderMoves;
  start();
  const std::wstring outside = dir_.file(L"outside");
  ASSERT_TRUE(createDirectories(outside + sep() + L"inner"));
  zorvek::test::writeFile(outside + sep() + L"inner" + sep() + L"early.exe", test::kThreat);
  ASSERT_TRUE(moveFile(outside, in(L"moved")));
  ASSERT_TRUE(waitForReports(1));
  EXPECT_EQ(engine_.reportedPaths().front(),
            in(L"moved" + sep() + L"inner" + sep() + L"early.exe"));
  // The moved folder is watched like any other.
  write(L"moved" + sep() + L"inner" + sep() + L"late.exe", test::kThreat);
  ASSERT_TRUE(waitForReports(2));
}

TEST_F(WatcherFixture, FolderRenamedInTheTreeHasItsFilesJudgedUnderTheirNewPaths) {
  if (zorvek::test::runningUnderWine()) GTEST_SKIP() << kWineFolderMoves;
  start();
  const std::wstring inner = L"before" + sep() + L"inner";
  ASSERT_TRUE(createDirectories(in(inner)));
  write(inner + sep() + L"x.exe", test::kThreat);
  ASSERT_TRUE(waitForReports(1));
  settle();
  // One notification for the folder, none for the file it holds.
  ASSERT_TRUE(moveFile(in(L"before"), in(L"after")));
  ASSERT_TRUE(waitForReports(2));
  EXPECT_EQ(engine_.reportedPaths()[1], in(L"after" + sep() + L"inner" + sep() + L"x.exe"));
}

TEST_F(WatcherFixture, StopWhileWaitingReturnsWithinOneWait) {
  options_.waitMs = 1000;
  start();
  const auto begin = std::chrono::steady_clock::now();
  stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1800));
}

TEST(DirectoryWatcherTest, EndsAtOnceWithoutDatabaseOrFolders) {
  zorvek::test::TempDir dir;
  const struct {
    const char* what;
    bool database;
    std::wstring folder;
    std::string line;
  } cases[] = {
      {"no database", false, dir.file(L""), "[ERR] real-time: signature database is not loaded"},
      {"no folder", true, dir.file(L"missing"), "[WRN] real-time: no watchable directories"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    zorvek::test::LogCapture log;
    FakeEngine engine(c.database);
    WatcherCounters counters;
    WatcherOptions options;
    options.folders = {c.folder};
    runDirectoryWatcher(engine, options, counters);  // returns: the engine never stops
    EXPECT_TRUE(log.contains(c.line)) << log.text();
  }
}

TEST_F(WatcherFixture, OverflowIsLoggedCountedAndSurvived) {
  // Hold the watcher in its first check while far more changes arrive than the system keeps.
  zorvek::test::Gate entered, release;
  std::atomic<bool> armed{false};
  engine_.onMakeScanner = [&] {
    if (armed.exchange(false)) {
      entered.open();
      release.wait();
    }
  };
  start();
  armed.store(true);  // the first check after the watch is set up
  write(L"first.exe", test::kThreat);
  ASSERT_TRUE(entered.wait());
  const size_t flood = overflowingChangeCount();
  if (flood == 0) GTEST_SKIP() << "the notification queue is too large to overflow in a test";
  for (size_t i = 0; i < flood; ++i)
    write(L"file-with-a-rather-long-name-" + std::to_wstring(i) + L".txt", "");
  release.open();
  const bool lost = zorvek::test::waitUntil([&] { return counters_.lost.load() > 0; },
                                            std::chrono::seconds(15));
  if (!lost) GTEST_SKIP() << "this system delivered every notification (Wine grows its buffer)";
  EXPECT_TRUE(log_.contains("[WRN] real-time: change notifications lost on " + toUtf8(watched_)));
  // And it goes on.
  write(L"after.exe", test::kThreat);
  ASSERT_TRUE(zorvek::test::waitUntil([&] {
    const auto paths = engine_.reportedPaths();
    return std::find(paths.begin(), paths.end(), in(L"after.exe")) != paths.end();
  }));
}

}  // namespace
}  // namespace zorvek::svc
