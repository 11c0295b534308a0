// What an unprivileged user can drop into a watched folder to turn the service's rights or its
// time against it: links to files it may not read, FIFOs that block an open, folders swapped for
// links.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/Text.h"
#include "service/realtime/WatcherFixture.h"

namespace zorvek::svc {
namespace {

TEST_F(WatcherFixture, LinksAndFifosAreNeverOpened) {
  const std::wstring secret = dir_.file(L"secret.exe");
  zorvek::test::writeFile(secret, test::kThreat);
  const std::wstring outsideFolder = dir_.file(L"elsewhere");
  ASSERT_TRUE(createDirectories(outsideFolder));
  start();

  ASSERT_EQ(::symlink(toUtf8(secret).c_str(), toUtf8(in(L"link.exe")).c_str()), 0);
  ASSERT_EQ(::mkfifo(toUtf8(in(L"pipe.exe")).c_str(), 0600), 0);
  // A linked folder is not entered: files appearing behind it are not ours to watch.
  ASSERT_EQ(::symlink(toUtf8(outsideFolder).c_str(), toUtf8(in(L"linked")).c_str()), 0);
  zorvek::test::writeFile(outsideFolder + L"/behind.exe", test::kThreat);

  write(L"sentinel.com", test::kThreat);
  ASSERT_TRUE(waitForReports(1));
  settle();
  EXPECT_EQ(engine_.reportedPaths(), std::vector<std::wstring>{in(L"sentinel.com")});
  EXPECT_EQ(counters_.scanned.load(), 1u);
}

TEST_F(WatcherFixture, ServiceFolderReachedUnderAnotherNameIsNotWatched) {
  // The watched folder is a link its owner chose; the service names its data folder by the real
  // path, so only the folder's identity tells that the two meet.
  const std::wstring alias = dir_.file(L"alias");
  ASSERT_EQ(::symlink(toUtf8(watched_).c_str(), toUtf8(alias).c_str()), 0);
  ASSERT_TRUE(createDirectories(in(L"data")));
  engine_.ownFolders = {in(L"data")};
  options_.folders = {alias};
  start();
  write(L"data/quarantined.exe", test::kThreat);
  write(L"sentinel.com", test::kThreat);
  ASSERT_TRUE(waitForReports(1));
  settle();
  EXPECT_EQ(engine_.reportedPaths(), std::vector<std::wstring>{alias + L"/sentinel.com"});
}

TEST_F(WatcherFixture, TreeMadeAtOnceIsWatchedToItsDepth) {
  // The folders appear faster than their notifications are read: each is watched when its
  // parent's notification comes, and what is already inside is found by listing.
  start();
  std::wstring deep = L"d0";
  for (int i = 1; i < 40; ++i) deep += L"/d" + std::to_wstring(i);
  ASSERT_TRUE(createDirectories(in(deep)));
  settle();
  write(deep + L"/deep.exe", test::kThreat);
  ASSERT_TRUE(waitForReports(1));
  EXPECT_EQ(engine_.reportedPaths(), std::vector<std::wstring>{in(deep + L"/deep.exe")});
}

}  // namespace
}  // namespace zorvek::svc
