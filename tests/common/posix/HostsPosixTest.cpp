// What only a POSIX hosts file has: an owner and a mode the replacement keeps, and a write that
// fails part way (a file-size limit stands in for a full disk).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "posix/FileSizeLimit.h"
#include "common/Hosts.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

struct stat statOf(const std::wstring& path) {
  struct stat st{};
  EXPECT_EQ(::stat(toUtf8(path).c_str(), &st), 0);
  return st;
}

TEST(HostsPosixTest, TheReplacementKeepsModeAndOwner) {
  test::TempDir dir;
  const std::wstring hosts = dir.file(L"hosts");
  test::writeFile(hosts, "old\n");
  ASSERT_EQ(::chmod(toUtf8(hosts).c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(toUtf8(hosts).c_str(), 4321, 4322), 0);
  }
  std::string error;
  ASSERT_TRUE(writeHostsAtomically(hosts, "new\n", &error)) << error;
  const struct stat st = statOf(hosts);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  EXPECT_EQ(test::readFile(hosts), "new\n");
}

TEST(HostsPosixTest, AWriteThatFailsPartWayLeavesTheOldFile) {
  test::TempDir dir;
  const std::wstring hosts = dir.file(L"hosts");
  test::writeFile(hosts, "127.0.0.1 localhost\r\n# ZORVEK WEB SHIELD BEGIN\r\n# ZORVEK WEB SHIELD END\r\n");
  const std::string before = test::readFile(hosts);
  std::string error;
  bool written = true;
  {
    const test::FileSizeLimit full(8);
    ASSERT_TRUE(full.active());
    written = writeHostsAtomically(hosts, std::string(64, 'x'), &error);
  }
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "cannot write temp hosts");
  EXPECT_EQ(test::readFile(hosts), before);
  EXPECT_FALSE(pathExists(hosts + L".zorvek.tmp"));
}

}  // namespace
}  // namespace zorvek
