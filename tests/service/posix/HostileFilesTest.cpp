// What a scan meets on a real Linux machine and must survive: FIFOs, files it may not read,
// folders it may not open, trees deeper than PATH_MAX, read errors and huge sparse files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include "TestUtil.h"
#include "common/Hash.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/ClientIdentity.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "service/FileScanner.h"

namespace zorvek {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kNobody = 65534;

std::string native(const std::wstring& path) { return toUtf8(path); }

// Root reads everything: the thread then acts as nobody, as the service does for a client.
std::unique_ptr<ActingAs> withoutRootRights() {
  if (::geteuid() != 0) return nullptr;
  auto acting = std::make_unique<ActingAs>(ClientIdentity::ofUser(kNobody, kNobody, {}));
  EXPECT_TRUE(acting->ok());
  return acting;
}

std::shared_ptr<SignatureDatabase> eicarDatabase() {
  auto db = std::make_shared<SignatureDatabase>();
  const std::string line =
      "275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f:EICAR-Test-File:Test\n";
  db->parse(line, "eicar");
  return db;
}

class HostileFilesTest : public ::testing::Test {
 protected:
  HostileFilesTest() { ::chmod(dir_.path().c_str(), 0755); }
  std::wstring root() const { return pathToWide(dir_.path()); }
  std::wstring write(const std::wstring& name, const std::string& bytes, mode_t mode = 0644) {
    const std::wstring path = dir_.file(name);
    test::writeFile(path, bytes);
    ::chmod(native(path).c_str(), mode);
    return path;
  }
  test::TempDir dir_;
};

TEST_F(HostileFilesTest, AFifoIsNeverOpenedInAWayThatBlocks) {
  const std::wstring fifo = dir_.file(L"pipe.exe");
  ASSERT_EQ(::mkfifo(native(fifo).c_str(), 0644), 0);
  // No writer ever comes: a blocking open would wait for good.
  auto verdict = std::async(std::launch::async, [&] { return evaluateFile(fifo, nullptr, {}); });
  ASSERT_EQ(verdict.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(countsAsUnreadable(verdict.get()));

  InputFile file;
  OpenFailure why = OpenFailure::None;
  EXPECT_FALSE(file.open(fifo, InputFile::Share::ReadOnly, nullptr, &why));
  EXPECT_EQ(why, OpenFailure::NotRegular);
  Folder folder;
  ASSERT_TRUE(folder.open(root(), Links::Follow, Folder::Purpose::List));
  EXPECT_FALSE(file.openIn(folder, L"pipe.exe", Links::Refuse, InputFile::Access::Read, nullptr, &why));
  EXPECT_EQ(why, OpenFailure::NotRegular);
  std::string text;
  EXPECT_FALSE(readWholeFile(fifo, text));

  // Met by a walk it is neither scanned nor counted.
  FileScanner scanner(nullptr);
  const ScanSummary s = scanner.scan({{root(), true}});
  EXPECT_EQ(s.filesScanned, 0u);
  EXPECT_EQ(s.filesUnreadable, 0u);
}

TEST_F(HostileFilesTest, AFifoSwappedInDuringAScanIsReportedNotScanned) {
  write(L"a.exe", "first");
  const std::wstring victim = write(L"b.exe", "MZ real program");
  FileScanner scanner(nullptr);
  std::vector<FileVerdict> verdicts;
  // The walk listed b.exe as a file; before it is opened it becomes a FIFO.
  auto done = std::async(std::launch::async, [&] {
    return scanner.scan({{root(), true}}, {}, [&](const FileVerdict& v) {
      verdicts.push_back(v);
      if (v.fileName == L"a.exe") {
        ::unlink(native(victim).c_str());
        ::mkfifo(native(victim).c_str(), 0644);
      }
    });
  });
  ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
  const ScanSummary s = done.get();
  EXPECT_EQ(s.filesScanned, 1u);
  EXPECT_EQ(s.filesUnreadable, 1u);
  ASSERT_EQ(verdicts.size(), 2u);
  EXPECT_TRUE(countsAsUnreadable(verdicts[1]));
}

TEST_F(HostileFilesTest, FilesAndFoldersThatCannotBeReadAreCountedApart) {
  write(L"eicar.com", test::kEicar, 0600);
  write(L"readable.com", "harmless", 0644);
  ASSERT_EQ(::mkdir(native(dir_.file(L"private")).c_str(), 0700), 0);
  write(L"private/hidden.exe", "x");
  FileScanner scanner(eicarDatabase());
  std::vector<std::wstring> folders;
  std::vector<FileVerdict> unreadable;
  ScanSummary s;
  {
    const auto acting = withoutRootRights();
    s = scanner.scan(
        {{root(), true}}, {},
        [&](const FileVerdict& v) {
          if (countsAsUnreadable(v)) unreadable.push_back(v);
        },
        [&](const std::wstring& folder, const std::string&) { folders.push_back(folder); });
  }
  EXPECT_EQ(s.filesScanned, 1u);
  EXPECT_EQ(s.threats, 0u);
  EXPECT_EQ(s.filesUnreadable, 1u);
  EXPECT_EQ(s.foldersUnreadable, 1u);
  EXPECT_EQ(folders, std::vector<std::wstring>{dir_.file(L"private")});
  ASSERT_EQ(unreadable.size(), 1u);
  EXPECT_EQ(unreadable[0].fileName, L"eicar.com");
  EXPECT_EQ(unreadable[0].level, ThreatLevel::Clean);
  EXPECT_EQ(unreadable[0].reasons,
            std::vector<std::string>{kNotScannedReason + unreadable[0].readError});
  EXPECT_NE(unreadable[0].readError.find("Permission denied"), std::string::npos);
}

TEST_F(HostileFilesTest, ReadErrorsFailHashesAndSignatureLoads) {
  // Reading /proc/self/mem at offset 0 fails with EIO: the page is never mapped.
  const int fd = ::open("/proc/self/mem", O_RDONLY);
  char byte;
  const bool eio = fd >= 0 && ::pread(fd, &byte, 1, 0) < 0 && errno == EIO;
  if (fd >= 0) ::close(fd);
  if (!eio) GTEST_SKIP() << "no file here fails its reads";
  EXPECT_EQ(hash::sha256File(L"/proc/self/mem", 4096), "");
  const hash::FileDigests d = hash::hashFile(L"/proc/self/mem", 4096);
  EXPECT_TRUE(d.sha256.empty());
  EXPECT_NE(d.error.find("read failed"), std::string::npos);
  SignatureDatabase db;
  std::string error;
  EXPECT_FALSE(db.load(L"/proc/self/mem", &error));
  EXPECT_EQ(error.rfind("read error: ", 0), 0u) << error;
}

TEST_F(HostileFilesTest, TreesDeeperThanThePathLimitAreScanned) {
  // 20-character names, 300 deep: a path half again as long as PATH_MAX, and more open folders
  // than a walk keeps at once.
  const std::wstring name = L"deeper-folder-name-x";
  std::wstring deepest = root();
  Folder folder;
  ASSERT_TRUE(folder.open(root(), Links::Refuse, Folder::Purpose::Modify));
  for (int i = 0; i < 300; ++i) {
    Folder child;
    ASSERT_TRUE(child.openChild(folder, name, Links::Refuse, Folder::Purpose::Modify, nullptr,
                                nullptr, true));
    folder = std::move(child);
    deepest += L"/" + name;
  }
  ASSERT_GT(deepest.size(), size_t{PATH_MAX} * 3 / 2);
  const int fd = ::openat(static_cast<int>(folder.native()), "eicar.com",
                          O_WRONLY | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, test::kEicar, sizeof test::kEicar - 1),
            static_cast<ssize_t>(sizeof test::kEicar - 1));
  ::close(fd);

  FileScanner scanner(eicarDatabase());
  std::vector<std::wstring> found;
  const ScanSummary s = scanner.scan({{root(), true}}, {}, [&](const FileVerdict& v) {
    if (countsAsThreat(v)) found.push_back(v.path);
  });
  EXPECT_EQ(s.filesScanned, 1u);
  EXPECT_EQ(s.foldersUnreadable, 0u);
  EXPECT_EQ(found, std::vector<std::wstring>{deepest + L"/eicar.com"});
  EXPECT_EQ(scanner.measure({{root(), true}}).filesTotal, 1u);
  // GNU rm walks relative to open folders too; remove_all would stop at PATH_MAX.
  ASSERT_EQ(std::system(("rm -rf '" + native(root()) + "/" + native(name) + "'").c_str()), 0);
}

TEST_F(HostileFilesTest, ACancelEndsTheReadOfAHugeSparseFile) {
  const std::wstring path = write(L"huge.img", "");
  ASSERT_EQ(::truncate(native(path).c_str(), off_t{15} << 40), 0);  // 15 TiB, all holes
  ScannerOptions noLimit;
  noLimit.maxFileSize = UINT64_MAX;
  FileScanner scanner(nullptr, noLimit);
  auto done = std::async(std::launch::async, [&] { return scanner.scan({{root(), true}}); });
  std::this_thread::sleep_for(300ms);
  const auto cancelled = std::chrono::steady_clock::now();
  scanner.cancel();
  ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 1s);
  const ScanSummary s = done.get();
  EXPECT_TRUE(s.cancelled);
  EXPECT_EQ(s.filesScanned, 0u);
  EXPECT_EQ(s.filesUnreadable, 0u);
}

}  // namespace
}  // namespace zorvek
