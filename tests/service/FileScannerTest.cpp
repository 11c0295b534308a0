#include "service/FileScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

TEST(FileScannerTest, ShouldScan) {
  FileScanner scanner(nullptr);
  const std::vector<std::pair<std::wstring, bool>> cases = {
      {L"C:\\Users\\a\\Desktop\\tool.exe", true},
      {L"C:\\Users\\a\\Desktop\\TOOL.EXE", true},
      {L"C:\\Users\\a\\Desktop\\notes.txt", false},
      {L"C:\\Users\\a\\Desktop\\Makefile", false},
      {L"C:\\Users\\a\\Desktop\\.exe", true},
      {L"a.js", false},  // shorter than five characters
      {L"ab.js", true},
      {L"C:\\$Recycle.Bin\\S-1-5\\$R1.exe", false},
      {L"D:\\System Volume Information\\x.dll", false},
      {L"/mnt/c/$Recycle.Bin/x.exe", false},
      {L"C:\\Windows\\System32\\ntoskrnl.exe", false},
      {L"C:\\Windows\\System32\\kernel32.dll", true},
      {L"C:\\Windows\\System32\\HAL.DLL", false},
      {L"C:\\pagefile.sys", false},
      {L"C:\\x\\Desktop.ini", false},
      {L"C:\\x\\archive.tar.vhdx", true},
      {L"C:\\x\\dir.exe\\", false},
      {L"/usr/lib/libc.so", true},
      {L"/usr/lib/libc.so.6", false},
  };
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(toUtf8(path));
    EXPECT_EQ(scanner.shouldScan(path), expected);
  }
  ScannerOptions keepCore;
  keepCore.skipCoreSystemFiles = false;
  EXPECT_TRUE(FileScanner(nullptr, keepCore).shouldScan(L"C:\\Windows\\System32\\ntoskrnl.exe"));
}

TEST(FileScannerTest, ExcludedFolders) {
  std::vector<std::pair<std::wstring, bool>> cases;
  if (test::onWindows()) {
    cases = {{L"C:\\Windows\\WinSxS", true},
             {L"c:\\windows\\winsxs\\amd64_x", true},
             {L"C:\\Windows\\System32\\config", true},
             {L"C:\\Windows\\System32", false},
             {L"C:\\ProgramData\\Microsoft\\Windows Defender\\Scans", true},
             {L"D:\\Windows\\WinSxS", false}};
  } else {
    cases = {{L"/proc", true}, {L"/proc/1/fd", true}, {L"/sys", true},
             {L"/dev", true},  {L"/run", true},       {L"/running", false},
             {L"/home/proc", false}, {L"/tmp", false}};
  }
  for (const auto& [path, expected] : cases) {
    SCOPED_TRACE(toUtf8(path));
    EXPECT_EQ(isExcludedFolder(path), expected);
  }
}

class ScanTreeTest : public ::testing::Test {
 protected:
  std::wstring write(const std::wstring& relative, const std::string& bytes = "x") {
    return dir_.write(relative, bytes);
  }
  std::wstring root() const { return pathToWide(dir_.path()); }
  std::vector<std::wstring> walked(const ScanTarget& target, const ScannerOptions& options = {}) {
    FileScanner scanner(nullptr, options);
    std::vector<std::wstring> names;
    const std::atomic<bool> stop{false};
    scanner.walk(target, [&](const WalkEntry& file) {
      names.push_back(
          pathToWide(toPath(file.path).lexically_relative(dir_.path()).generic_wstring()));
    }, stop);
    std::sort(names.begin(), names.end());
    return names;
  }
  test::TempDir dir_;
};

TEST_F(ScanTreeTest, WalkRecursiveAndNot) {
  write(L"top.exe");
  write(L"notes.txt");
  write(L"a/b/deep.dll");
  write(L"a/mid.sys");
  fs::create_directories(dir_.path() / "empty");
  EXPECT_EQ(walked({root(), true}),
            (std::vector<std::wstring>{L"a/b/deep.dll", L"a/mid.sys", L"notes.txt", L"top.exe"}));
  EXPECT_EQ(walked({root(), false}), (std::vector<std::wstring>{L"notes.txt", L"top.exe"}));
  EXPECT_TRUE(walked({root() + L"/missing", true}).empty());
  // A target naming a file yields nothing: single files are evaluated by their callers.
  EXPECT_TRUE(walked({write(L"single.exe"), true}).empty());
}

TEST_F(ScanTreeTest, LinksAreNotFollowed) {
  write(L"real/inside.exe");
  std::error_code ec;
  fs::create_directory_symlink(dir_.path() / "real", dir_.path() / "linkdir", ec);
  if (!ec) fs::create_symlink(dir_.path() / "real" / "inside.exe", dir_.path() / "link.exe", ec);
  if (ec) GTEST_SKIP() << "symbolic links cannot be created here: " << ec.message();
  EXPECT_EQ(walked({root(), true}), (std::vector<std::wstring>{L"real/inside.exe"}));
  ScannerOptions follow;
  follow.followLinks = true;
  EXPECT_EQ(walked({root(), true}, follow),
            (std::vector<std::wstring>{L"link.exe", L"linkdir/inside.exe", L"real/inside.exe"}));
}

TEST_F(ScanTreeTest, UnreadableFolderIsSkipped) {
  write(L"a/one.exe");
  write(L"locked/hidden.exe");
  write(L"z/two.exe");
  const fs::path locked = dir_.path() / "locked";
  fs::permissions(locked, fs::perms::none);
  Folder probe;
  if (probe.open(pathToWide(locked), Links::Follow, Folder::Purpose::List)) {
    fs::permissions(locked, fs::perms::owner_all);
    GTEST_SKIP() << "this account can open a folder without permissions (root or Wine)";
  }
  const auto names = walked({root(), true});
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"a/one.exe", L"z/two.exe"}));
}

TEST_F(ScanTreeTest, MeasureAndScanCount) {
  write(L"clean.dll", "abc");
  write(L"Downloads/setup.exe", "abcd");        // medium: downloaded program
  write(L"Desktop/svchost.exe", "abcde");       // high: impersonation
  write(L"Desktop/known.js", "known");          // in the database, level low
  write(L"Desktop/readme.txt", "not scanned");  // filtered out
  write(L"Desktop/empty.exe", "");
  auto db = std::make_shared<SignatureDatabase>();
  // SHA-256 of "known", long form with level low.
  db->parse("7117fff2d0fd294462b3c802b7cb8753579f23f3946b99cf55f38e873f013f10:5:Fam:low:Win.Known:\n", "t");
  FileScanner scanner(db);
  const ScanProgressInfo m = scanner.measure({{root(), true}});
  EXPECT_EQ(m.phase, L"counting");
  EXPECT_EQ(m.filesTotal, 5u);
  EXPECT_EQ(m.bytesTotal, 17u);
  EXPECT_EQ(m.filesDone, 0u);

  std::vector<std::wstring> seen;
  const ScanSummary s = scanner.scan({{root(), true}}, {},
                                     [&](const FileVerdict& v) { seen.push_back(v.fileName); });
  EXPECT_EQ(s.filesScanned, 5u);
  EXPECT_EQ(s.bytesScanned, 17u);
  EXPECT_EQ(s.threats, 2u);  // impersonation and the database entry
  EXPECT_EQ(s.suspicious, 1u);
  EXPECT_FALSE(s.cancelled);
  EXPECT_EQ(seen.size(), 5u);
}

TEST_F(ScanTreeTest, CancelDuringScanKeepsCountsSoFar) {
  for (int i = 0; i < 20; ++i) write(L"f" + std::to_wstring(i) + L".exe");
  FileScanner scanner(nullptr);
  scanner.cancel();  // a cancel before the scan is cleared by it
  int verdicts = 0;
  const ScanSummary s = scanner.scan({{root(), true}, {root(), true}}, {}, [&](const FileVerdict&) {
    if (++verdicts == 5) scanner.cancel();
  });
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(s.filesScanned, 5u);
  EXPECT_EQ(verdicts, 5);
  // measure ignores the flag.
  EXPECT_EQ(scanner.measure({{root(), true}}).filesTotal, 20u);
}

TEST_F(ScanTreeTest, CancelFromAnotherThread) {
  for (int i = 0; i < 50; ++i) write(L"f" + std::to_wstring(i) + L".exe");
  FileScanner scanner(nullptr);
  std::atomic<int> verdicts{0};
  std::thread canceller([&] {
    while (verdicts.load() < 3) std::this_thread::yield();
    scanner.cancel();
  });
  const ScanSummary s = scanner.scan({{root(), true}}, {}, [&](const FileVerdict&) {
    ++verdicts;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  canceller.join();
  EXPECT_TRUE(s.cancelled);
  EXPECT_LT(s.filesScanned, 50u);
}

TEST_F(ScanTreeTest, ProgressIsThrottled) {
  for (int i = 0; i < 40; ++i) write(L"f" + std::to_wstring(i) + L".exe");
  FileScanner scanner(nullptr);
  using Clock = std::chrono::steady_clock;
  std::vector<std::pair<Clock::time_point, ScanProgressInfo>> reports;
  scanner.scan({{root(), true}}, [&](const ScanProgressInfo& p) { reports.push_back({Clock::now(), p}); },
               [&](const FileVerdict&) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
  ASSERT_GE(reports.size(), 4u);
  EXPECT_EQ(reports.front().second.phase, L"scanning");
  EXPECT_EQ(reports.front().second.filesDone, 0u);
  EXPECT_EQ(reports.back().second.phase, L"finishing");
  EXPECT_EQ(reports.back().second.filesDone, 40u);
  for (size_t i = 1; i + 1 < reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_GE(reports[i].first - reports[i - 1].first, std::chrono::milliseconds(120));
    EXPECT_EQ(reports[i].second.phase, L"scanning");
    EXPECT_EQ(reports[i].second.filesTotal, 0u);
    EXPECT_FALSE(reports[i].second.currentFile.empty());
  }
}

TEST(FileScannerTargetsTest, QuickScanTargetsFollowTheProfile) {
  test::TempDir home;
  fs::create_directories(home.path() / "Downloads");
  fs::create_directories(home.path() / "Documents");
  const std::wstring h = pathToWide(home.path());
  const auto targets = [&] {
    const test::ScopedEnvironment profile(test::onWindows() ? L"USERPROFILE" : L"HOME", h);
    return FileScanner::quickScanTargets();
  }();
  ASSERT_GE(targets.size(), 3u);
  const std::wstring sep(1, pathSeparator());
  EXPECT_EQ(targets[0].path, h + sep + L"Downloads");
  EXPECT_TRUE(targets[0].recursive);
  EXPECT_EQ(targets[1].path, h + sep + L"Documents");
  EXPECT_EQ(targets[2].path, h);
  EXPECT_FALSE(targets[2].recursive);
}

TEST(FileScannerTargetsTest, FullScanTargets) {
  const auto targets = FileScanner::fullScanTargets(false);
  ASSERT_FALSE(targets.empty());
  for (const auto& t : targets) EXPECT_TRUE(t.recursive);
  if (!test::onWindows()) {
    EXPECT_EQ(targets[0].path, L"/");
  }
}

}  // namespace
}  // namespace zorvek
