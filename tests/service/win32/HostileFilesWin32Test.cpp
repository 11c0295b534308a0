// What only Windows can set up: paths beyond MAX_PATH, named pipes in place of files, deletes
// that wait for another program's handle, junctions.

#include "common/platform/win32/Handle.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <vector>

#include "TestUtil.h"
#include "common/Hash.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "service/FileScanner.h"
#include "service/QuarantineStore.h"

namespace zorvek {
namespace {

using namespace std::chrono_literals;

std::wstring extended(const std::wstring& path) { return L"\\\\?\\" + path; }

bool writeExtended(const std::wstring& path, const std::string& bytes) {
  const UniqueFile f(CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return f && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

// A junction at `link` to `target` (both full paths); false where the system cannot make one.
bool makeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const UniqueFile h(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h) return false;
  const std::wstring substitute = L"\\??\\" + target;
  std::vector<unsigned char> buffer(8 + 8 + (substitute.size() + 2) * sizeof(wchar_t));
  auto put16 = [&](size_t at, size_t v) {
    buffer[at] = static_cast<unsigned char>(v & 0xFF);
    buffer[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  const size_t nameBytes = substitute.size() * sizeof(wchar_t);
  buffer[0] = 0x03;  // IO_REPARSE_TAG_MOUNT_POINT, little-endian
  buffer[3] = 0xA0;
  put16(4, buffer.size() - 8);
  put16(8, 0);              // substitute name offset
  put16(10, nameBytes);     // and length
  put16(12, nameBytes + 2); // print name offset (empty)
  put16(14, 0);
  std::memcpy(buffer.data() + 16, substitute.data(), nameBytes);
  DWORD got = 0;
  if (!DeviceIoControl(h.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                       static_cast<DWORD>(buffer.size()), nullptr, 0, &got, nullptr)) {
    return false;
  }
  return (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

class HostileFilesWin32Test : public ::testing::Test {
 protected:
  std::wstring root() const { return pathToWide(dir_.path()); }
  test::TempDir dir_;
};

TEST_F(HostileFilesWin32Test, PathsLongerThanMaxPathAreScanned) {
  std::wstring deep = root();
  for (int i = 0; i < 14; ++i) {
    deep += L"\\folder-with-a-long-name-" + std::to_wstring(i);
    ASSERT_TRUE(CreateDirectoryW(extended(deep).c_str(), nullptr)) << GetLastError();
  }
  const std::wstring eicar = deep + L"\\eicar.com";
  ASSERT_GT(eicar.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(writeExtended(eicar, test::kEicar));
  auto db = std::make_shared<SignatureDatabase>();
  db->parse(hash::sha256File(eicar, 4096) + ":EICAR-Test-File:Test\n", "eicar");
  ASSERT_TRUE(db->info().count > 0) << "the long path could not be hashed";

  FileScanner scanner(db);
  std::vector<std::wstring> found;
  const ScanSummary s = scanner.scan({{root(), true}}, {}, [&](const FileVerdict& v) {
    if (countsAsThreat(v)) found.push_back(v.path);
  });
  EXPECT_EQ(found, std::vector<std::wstring>{eicar});
  EXPECT_EQ(s.foldersUnreadable, 0u);
  // Named directly, by its long path.
  EXPECT_TRUE(countsAsThreat(scanner.evaluate(eicar)));
  QuarantineStore store(root() + L"\\Q");
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store.add(eicar, "", "EICAR", "SIG.MATCH", ThreatLevel::High, &r, &error)) << error;
  ASSERT_TRUE(store.restore(r.id, &error)) << error;
  EXPECT_TRUE(pathExists(eicar));
}

TEST_F(HostileFilesWin32Test, ANamedPipeIsNeverReadAsAFile) {
  const std::wstring name = L"\\\\.\\pipe\\zorvek-test-" + std::to_wstring(GetCurrentProcessId());
  const UniqueFile server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 0, 0,
                                           0, nullptr));
  ASSERT_TRUE(server);
  // A client that never writes: reading the pipe would wait for good.
  auto verdict = std::async(std::launch::async, [&] { return evaluateFile(name, nullptr, {}); });
  ASSERT_EQ(verdict.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(countsAsUnreadable(verdict.get()));
  InputFile file;
  OpenFailure why = OpenFailure::None;
  EXPECT_FALSE(file.open(name, InputFile::Share::ReadOnly, nullptr, &why));
}

TEST_F(HostileFilesWin32Test, ADeleteWaitingForAnotherHandleIsNotASuccess) {
  QuarantineStore store(root() + L"\\Q");
  const std::wstring path = root() + L"\\held.exe";
  test::writeFile(path, "held");
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store.add(path, "", "T", "C", ThreatLevel::High, &r, &error)) << error;
  {
    // Another program reads the file and lets others delete it: the delete only waits.
    const UniqueFile reader(CreateFileW(r.storedPath.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    if (store.remove(r.id, &error)) {
      // POSIX semantics (Windows 10 and later) take the name away at once: nothing is left.
      EXPECT_FALSE(pathExists(r.storedPath));
      EXPECT_TRUE(store.list().empty());
      return;
    }
    EXPECT_EQ(error.rfind("delete failed", 0), 0u) << error;
    EXPECT_EQ(store.list(), std::vector<QuarantineRecord>{r});
  }
  // Once the other handle is gone the file is gone too, and the record can follow it.
  ASSERT_TRUE(store.remove(r.id, &error)) << error;
  EXPECT_FALSE(pathExists(r.storedPath));
  EXPECT_TRUE(store.list().empty());
}

TEST_F(HostileFilesWin32Test, ARestoreNeverFollowsAJunction) {
  const std::wstring origin = root() + L"\\user";
  const std::wstring target = root() + L"\\system";
  ASSERT_TRUE(CreateDirectoryW(origin.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  test::writeFile(target + L"\\victim.exe", "system file");
  test::writeFile(origin + L"\\victim.exe", "user file");
  QuarantineStore store(root() + L"\\Q");
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store.add(origin + L"\\victim.exe", "", "T", "C", ThreatLevel::High, &r, &error))
      << error;
  ASSERT_TRUE(RemoveDirectoryW(origin.c_str()));
  if (!makeJunction(origin, target)) GTEST_SKIP() << "junctions cannot be made here";
  EXPECT_FALSE(store.restore(r.id, &error));
  EXPECT_EQ(error, kRestoreThroughLink);
  EXPECT_EQ(test::readFile(target + L"\\victim.exe"), "system file");
  EXPECT_EQ(store.list().size(), 1u);
}

}  // namespace
}  // namespace zorvek
