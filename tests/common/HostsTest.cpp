#include "common/Hosts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
using Lines = std::vector<std::string>;

TEST(HostsTest, BlockParsing) {
  const struct {
    const char* what;
    std::string text;
    Lines outside;
    size_t entries;
  } cases[] = {
      {"no block", "127.0.0.1 localhost\n::1 localhost", {"127.0.0.1 localhost", "::1 localhost"}, 0},
      {"block at the end",
       "a\n\n# ZORVEK WEB SHIELD BEGIN\n127.0.0.1 x.com # zorvek-blocked\n\n"
       "127.0.0.1 www.x.com # zorvek-blocked\n# ZORVEK WEB SHIELD END\n",
       {"a", ""},
       2},
      {"lines after the block stay", "a\n# ZORVEK WEB SHIELD BEGIN\nx\n# ZORVEK WEB SHIELD END\nb\n",
       {"a", "b"}, 1},
      {"markers with blanks", " \t# ZORVEK WEB SHIELD BEGIN \t\r\nx\n\t# ZORVEK WEB SHIELD END  \nb\n",
       {"b"}, 1},
      {"lower-case marker is an ordinary line", "# zorvek web shield begin\nx\n# zorvek web shield end\n",
       {"# zorvek web shield begin", "x", "# zorvek web shield end"}, 0},
      {"marker with extra text is an ordinary line", "# ZORVEK WEB SHIELD BEGIN!\nx\n",
       {"# ZORVEK WEB SHIELD BEGIN!", "x"}, 0},
      {"begin without end drops the rest", "a\n# ZORVEK WEB SHIELD BEGIN\nx\ny\n", {"a"}, 2},
      {"end without begin is dropped", "a\n# ZORVEK WEB SHIELD END\nb\n", {"a", "b"}, 0},
      {"CRLF", "a\r\n# ZORVEK WEB SHIELD BEGIN\r\n  \r\nx\r\n# ZORVEK WEB SHIELD END\r\nb\r\r\n",
       {"a", "b\r"}, 1},
      {"two blocks", "# ZORVEK WEB SHIELD BEGIN\nx\n# ZORVEK WEB SHIELD END\nm\n"
                     "# ZORVEK WEB SHIELD BEGIN\ny\nz\n# ZORVEK WEB SHIELD END\n",
       {"m"}, 3},
      {"empty", "", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(linesOutsideBlock(c.text), c.outside);
    EXPECT_EQ(countBlockEntries(c.text), c.entries);
  }
}

class HostsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = environmentVariable(L"ZORVEK_HOSTS");
    ASSERT_TRUE(setEnvironmentVariable(L"ZORVEK_HOSTS", hosts_));
  }
  void TearDown() override { setEnvironmentVariable(L"ZORVEK_HOSTS", saved_); }

  TempDir dir_;
  const std::wstring hosts_ = dir_.file(L"hosts");
  std::optional<std::wstring> saved_;
};

TEST_F(HostsFileTest, PathHonoursTheOverride) {
  EXPECT_EQ(hostsPath(), hosts_);
  ASSERT_TRUE(setEnvironmentVariable(L"ZORVEK_HOSTS", std::wstring()));
  EXPECT_EQ(hostsPath(), systemHostsPath());
  const std::wstring system = systemHostsPath();
  if (pathSeparator() == L'\\') {
    const std::wstring windows = knownFolder(KnownFolder::Windows);
    EXPECT_EQ(asciiLower(system), asciiLower(windows + L"\\System32\\drivers\\etc\\hosts"));
  } else {
    EXPECT_EQ(system, L"/etc/hosts");
  }
}

TEST_F(HostsFileTest, RemovesOnlyTheBlock) {
  const struct {
    const char* what;
    std::string before, after;
  } cases[] = {
      {"CRLF lines become LF",
       "127.0.0.1 localhost\r\n# mine\r\n\r\n# ZORVEK WEB SHIELD BEGIN\r\n127.0.0.1 x.com # "
       "zorvek-blocked\r\n# ZORVEK WEB SHIELD END\r\n",
       "127.0.0.1 localhost\n# mine\n\n"},
      {"a last line without LF gets one",
       "# ZORVEK WEB SHIELD BEGIN\nx\n# ZORVEK WEB SHIELD END\nlast", "last\n"},
      {"only a stray end marker", "a\r\n# ZORVEK WEB SHIELD END\r\n", "a\n"},
      {"marker text inside a line still rewrites", "a # ZORVEK WEB SHIELD END here\r\n",
       "a # ZORVEK WEB SHIELD END here\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(hosts_, c.before);
    std::string error;
    EXPECT_TRUE(removeWebShieldBlock(&error)) << error;
    EXPECT_EQ(readFile(hosts_), c.after);
    EXPECT_FALSE(pathExists(hosts_ + L".zorvek.tmp"));
  }
}

TEST_F(HostsFileTest, NothingToRemoveWritesNothing) {
  // No file: nothing is created.
  EXPECT_TRUE(removeWebShieldBlock());
  EXPECT_FALSE(pathExists(hosts_));
  // No marker: the file keeps its CRLF lines and is not replaced.
  writeFile(hosts_, "127.0.0.1 localhost\r\n# zorvek web shield begin\r\n");
  const auto before = std::filesystem::last_write_time(toPath(hosts_));
  EXPECT_TRUE(removeWebShieldBlock());
  EXPECT_EQ(readFile(hosts_), "127.0.0.1 localhost\r\n# zorvek web shield begin\r\n");
  EXPECT_EQ(std::filesystem::last_write_time(toPath(hosts_)), before);
}

TEST_F(HostsFileTest, AnUnreadableFileIsAnErrorAndIsNotTouched) {
  // A folder in place of the file exists but cannot be read as one.
  std::filesystem::create_directory(toPath(hosts_));
  writeFile(hosts_ + pathSeparator() + L"inside", "keep");
  std::string text = "stale", error;
  EXPECT_FALSE(readHostsText(hosts_, text, &error));
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(error.starts_with("cannot read hosts: ")) << error;
  error.clear();
  EXPECT_FALSE(removeWebShieldBlock(&error));
  EXPECT_TRUE(error.starts_with("cannot read hosts: ")) << error;
  EXPECT_EQ(readFile(hosts_ + pathSeparator() + L"inside"), "keep");
  EXPECT_EQ(countWebShieldEntries(), 0u);
}

TEST_F(HostsFileTest, AHugeFileIsRefusedUnread) {
  {
    std::FILE* f = openStdioFile(hosts_, "wb");
    ASSERT_NE(f, nullptr);
    // Sparse where the file system allows: nothing of it is read.
    ASSERT_EQ(std::fseek(f, static_cast<long>(kMaxHostsBytes), SEEK_SET), 0);
    ASSERT_EQ(std::fputc('x', f), 'x');
    std::fclose(f);
  }
  std::string text, error;
  EXPECT_FALSE(readHostsText(hosts_, text, &error));
  EXPECT_EQ(error, "cannot read hosts: file too large");
  EXPECT_FALSE(removeWebShieldBlock());
  EXPECT_EQ(fileSize(hosts_), kMaxHostsBytes + 1);
}

TEST_F(HostsFileTest, WriteFailuresLeaveTheOldFile) {
  writeFile(hosts_, "old\n");
  const std::wstring temp = hosts_ + L".zorvek.tmp";
  // A folder where the temporary file goes: it cannot be created.
  std::filesystem::create_directory(toPath(temp));
  writeFile(temp + pathSeparator() + L"x", "");
  std::string error;
  EXPECT_FALSE(writeHostsAtomically(hosts_, "new\n", &error));
  EXPECT_EQ(error, "cannot write temp hosts");
  EXPECT_EQ(readFile(hosts_), "old\n");
  std::filesystem::remove_all(toPath(temp));

  // A folder in place of the hosts file: the move fails and the temporary is deleted.
  const std::wstring folder = dir_.file(L"etc");
  std::filesystem::create_directory(toPath(folder));
  writeFile(folder + pathSeparator() + L"x", "");
  EXPECT_FALSE(writeHostsAtomically(folder, "new\n", &error));
  EXPECT_TRUE(error.starts_with(pathSeparator() == L'\\' ? "cannot replace hosts, win32="
                                                           : "cannot replace hosts, errno="))
      << error;
  EXPECT_FALSE(pathExists(folder + L".zorvek.tmp"));

  // A temporary left behind by a killed run does not stop the next write.
  writeFile(temp, "leftover");
  EXPECT_TRUE(writeHostsAtomically(hosts_, "new\n", &error)) << error;
  EXPECT_EQ(readFile(hosts_), "new\n");
  EXPECT_FALSE(pathExists(temp));
}

TEST_F(HostsFileTest, CountsTheEntriesOfTheCurrentFile) {
  EXPECT_EQ(countWebShieldEntries(), 0u);
  writeFile(hosts_, "# ZORVEK WEB SHIELD BEGIN\r\na\r\n \r\nb\n# ZORVEK WEB SHIELD END\nc\n");
  EXPECT_EQ(countWebShieldEntries(), 2u);
}

}  // namespace
}  // namespace zorvek
