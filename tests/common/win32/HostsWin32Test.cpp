// A hosts file another program holds open without read sharing: it exists, so it must not be
// taken for a missing one and rewritten from an empty text.
#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Hosts.h"
#include "common/platform/File.h"
#include "common/platform/win32/Handle.h"
#include "common/platform/win32/Win.h"

namespace zorvek {
namespace {

TEST(HostsWin32Test, AFileHeldWithoutReadSharingIsUnreadableAndKept) {
  test::TempDir dir;
  const std::wstring hosts = dir.file(L"hosts");
  const std::string before = "127.0.0.1 mine\r\n# ZORVEK WEB SHIELD BEGIN\r\n127.0.0.1 x.example\r\n"
                             "# ZORVEK WEB SHIELD END\r\n";
  test::writeFile(hosts, before);
  {
    const UniqueFile held(CreateFileW(hosts.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    std::string text = "stale", error;
    EXPECT_FALSE(readHostsText(hosts, text, &error));
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(error.rfind("cannot read hosts: ", 0), 0u) << error;
    error.clear();
    EXPECT_FALSE(removeWebShieldBlock(hosts, &error));
    EXPECT_EQ(error.rfind("cannot read hosts: ", 0), 0u) << error;
  }
  EXPECT_EQ(test::readFile(hosts), before);
  EXPECT_FALSE(pathExists(hosts + L".zorvek.tmp"));
}

}  // namespace
}  // namespace zorvek
