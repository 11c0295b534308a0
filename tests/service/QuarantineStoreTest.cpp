#include "service/QuarantineStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "TestUtil.h"
#include "UnreadableFile.h"
#include "common/Hash.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Process.h"
#include "common/platform/System.h"
#include "tests/helper/HelperContent.h"

namespace zorvek {
namespace {

const std::string kMagic = "ZORVEKQUARANTINE/1\n";
const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

class QuarantineStoreTest : public ::testing::Test {
 protected:
  QuarantineStoreTest() : store_(dir_.file(L"Карантин")) {
    store_.setClock([this] { return nowMs_; });
    createDirectories(dir_.file(L"src"));
  }
  std::wstring source(const std::wstring& name, const std::string& bytes = "payload") {
    const std::wstring path = dir_.file(L"src") + pathSeparator() + name;
    test::writeFile(path, bytes);
    return path;
  }
  std::wstring inFolder(const std::wstring& name) const {
    return store_.folder() + pathSeparator() + name;
  }
  std::string index() const { return test::readFile(store_.indexPath()); }

  test::TempDir dir_;
  QuarantineStore store_;
  uint64_t nowMs_ = 1700000000123;
};

TEST_F(QuarantineStoreTest, WritesTheIndexByteForByte) {
  ASSERT_TRUE(store_.ensureFolder());
  EXPECT_EQ(index(), kMagic);
  const std::wstring path = source(L"вирус setup.exe", "0123456789");
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store_.add(path, kDigest, "Win.Trojan.Test", "SIG.MATCH", ThreatLevel::Critical, &r,
                         &error))
      << error;
  const std::wstring stored = inFolder(L"1700000000_0123456789abcdef_вирус setup.exe");
  EXPECT_EQ(index(), kMagic + "ID=1700000000123\nORIG=" + toUtf8(path) + "\nSTORED=" +
                         toUtf8(stored) + "\nNAME=вирус setup.exe\nSHA256=" + kDigest +
                         "\nTHREAT=Win.Trojan.Test\nCODE=SIG.MATCH\nSEV=critical\nSIZE=10\n"
                         "TIME=1700000000\n\n");
  EXPECT_EQ(r.storedPath, stored);
  EXPECT_EQ(test::readFile(stored), "0123456789");
  EXPECT_FALSE(pathExists(path));
  const auto listed = store_.list();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0], r);
  // The index reads back to exactly what was written.
  EXPECT_EQ(serializeQuarantineIndex(listed), index());
}

TEST_F(QuarantineStoreTest, AddRestoreRemove) {
  std::string error;
  EXPECT_FALSE(store_.add(dir_.file(L"none"), kDigest, "T", "C", ThreatLevel::High, nullptr, &error));
  EXPECT_EQ(error, "file not found");
  EXPECT_FALSE(store_.add(dir_.file(L"src"), kDigest, "T", "C", ThreatLevel::High, nullptr, &error));
  EXPECT_EQ(error, "file not found");

  QuarantineRecord a, b;
  ASSERT_TRUE(store_.add(source(L"a.exe", "A"), kDigest, "T", "C", ThreatLevel::High, &a, &error));
  nowMs_ += 1000;
  ASSERT_TRUE(store_.add(source(L"b.exe", "B"), "", "T", "C", ThreatLevel::Low, &b, &error));
  EXPECT_EQ(b.storedPath, inFolder(L"1700000001__b.exe"));
  ASSERT_EQ(store_.list().size(), 2u);

  // Restore into a folder deleted in the meantime recreates it.
  std::filesystem::remove_all(dir_.path() / "src");
  ASSERT_TRUE(store_.restore(a.id, &error)) << error;
  EXPECT_EQ(test::readFile(a.originPath), "A");
  EXPECT_FALSE(pathExists(a.storedPath));
  EXPECT_FALSE(store_.restore(a.id, &error));
  EXPECT_EQ(error, "record not found");

  // A stored file that has vanished still lets its record go.
  ASSERT_TRUE(removeFile(b.storedPath));
  ASSERT_TRUE(store_.remove(b.id, &error)) << error;
  EXPECT_EQ(index(), kMagic);
  EXPECT_FALSE(store_.remove(b.id, &error));
  EXPECT_EQ(error, "record not found");

  QuarantineRecord c;
  ASSERT_TRUE(store_.add(source(L"c.exe"), kDigest, "T", "C", ThreatLevel::High, &c, &error));
  ASSERT_TRUE(store_.remove(c.id, &error));
  EXPECT_FALSE(pathExists(c.storedPath));
  EXPECT_FALSE(pathExists(c.originPath));
}

TEST_F(QuarantineStoreTest, RestoreFailureKeepsTheRecord) {
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store_.add(source(L"x.exe"), kDigest, "T", "C", ThreatLevel::High, &r, &error));
  ASSERT_TRUE(removeFile(r.storedPath));
  EXPECT_FALSE(store_.restore(r.id, &error));
  EXPECT_EQ(error, "restore failed, code 2");
  EXPECT_EQ(store_.list().size(), 1u);
}

TEST_F(QuarantineStoreTest, SameNameAndSecondNeverShareAStoredFile) {
  const struct { const char* what; std::string digest; } cases[] = {{"same digest", kDigest},
                                                                    {"empty digest", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<QuarantineRecord> added;
    std::string error;
    for (int i = 0; i < 3; ++i) {
      createDirectories(dir_.file(L"src") + pathSeparator() + std::to_wstring(i));
      const std::wstring path = source(std::to_wstring(i) + pathSeparator() + L"Setup.exe",
                                       "copy " + std::to_string(i));
      QuarantineRecord r;
      ASSERT_TRUE(store_.add(path, c.digest, "T", "C", ThreatLevel::High, &r, &error)) << error;
      added.push_back(r);
    }
    // One clock reading for all three: the ids still differ.
    EXPECT_NE(added[0].id, added[1].id);
    EXPECT_NE(added[1].id, added[2].id);
    EXPECT_NE(added[0].id, added[2].id);
    EXPECT_NE(added[0].storedPath, added[1].storedPath);
    EXPECT_NE(added[1].storedPath, added[2].storedPath);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(test::readFile(added[i].storedPath), "copy " + std::to_string(i));
    }
    // Deleting one keeps the others.
    ASSERT_TRUE(store_.remove(added[0].id, &error));
    ASSERT_TRUE(store_.restore(added[2].id, &error));
    EXPECT_EQ(test::readFile(added[2].originPath), "copy 2");
    EXPECT_EQ(test::readFile(added[1].storedPath), "copy 1");
    ASSERT_TRUE(store_.remove(added[1].id, &error));
  }
}

TEST_F(QuarantineStoreTest, DifferentSecondsGiveDifferentNames) {
  QuarantineRecord a, b;
  ASSERT_TRUE(store_.add(source(L"s.exe"), kDigest, "T", "C", ThreatLevel::High, &a));
  nowMs_ += 1000;
  ASSERT_TRUE(store_.add(source(L"s.exe"), kDigest, "T", "C", ThreatLevel::High, &b));
  EXPECT_EQ(a.storedPath, inFolder(L"1700000000_0123456789abcdef_s.exe"));
  EXPECT_EQ(b.storedPath, inFolder(L"1700000001_0123456789abcdef_s.exe"));
}

TEST_F(QuarantineStoreTest, CallerTextsStayInsideTheirFields) {
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store_.add(source(L"t.exe"), "../../../x/y", "T\nID=5\nSTORED=/etc/passwd", "C\r",
                         ThreatLevel::High, &r, &error));
  EXPECT_EQ(r.storedPath, inFolder(L"1700000000_xy_t.exe"));
  const auto listed = store_.list();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0], r);
  EXPECT_EQ(listed[0].threat, "T\nID=5\nSTORED=/etc/passwd");
  EXPECT_EQ(listed[0].code, "C\r");
}

TEST_F(QuarantineStoreTest, LineBreaksInValuesAreEscapedAndNothingElseChanges) {
  QuarantineRecord plain;
  plain.id = 7;
  plain.originPath = L"C:\\a%0A\\b.exe";  // a percent sign in a plain value stays as it is
  plain.storedPath = L"Q\\1_ab_b.exe";
  plain.name = L"b.exe";
  plain.threat = "100%";
  plain.severity = ThreatLevel::High;
  const std::string plainText = serializeQuarantineIndex({plain});
  EXPECT_EQ(plainText, kMagic + "ID=7\nORIG=C:\\a%0A\\b.exe\nSTORED=Q\\1_ab_b.exe\nNAME=b.exe\n"
                                "SHA256=\nTHREAT=100%\nCODE=\nSEV=high\nSIZE=0\nTIME=0\n\n");

  const struct {
    const char* what;
    std::wstring origin;
    std::string threat;
    const char* written;
  } cases[] = {
      {"LF in the path", L"/home/u/a\nb.exe", "T", "ORIG%=/home/u/a%0Ab.exe\n"},
      {"CR and percent", L"/x\r%.exe", "T", "ORIG%=/x%0D%25.exe\n"},
      {"forged keys in a text", L"/y.exe", "T\nID=1\nSTORED=/etc/passwd", "THREAT%=T%0AID=1%0ASTORED=/etc/passwd\n"},
      {"only line breaks", L"/z.exe", "\r\n\n", "THREAT%=%0D%0A%0A\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QuarantineRecord odd = plain;
    odd.id = 8;
    odd.originPath = c.origin;
    odd.name = c.origin.substr(c.origin.rfind(L'/') + 1);
    odd.threat = c.threat;
    const std::string text = serializeQuarantineIndex({plain, odd});
    // The plain record is written byte for byte as before.
    EXPECT_EQ(text.substr(0, plainText.size()), plainText);
    EXPECT_NE(text.find(c.written), std::string::npos) << text;
    const auto back = parseQuarantineIndex(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], plain);
    EXPECT_EQ(back[1], odd);
  }
  // Escapes that do not decode stay as written.
  const auto damaged = parseQuarantineIndex("ID=3\nORIG%=/a%2/b%zz%0\nNAME%=%\n");
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged[0].originPath, L"/a%2/b%zz%0");
  EXPECT_EQ(damaged[0].name, L"%");
}

TEST_F(QuarantineStoreTest, AFileNamedWithLineBreaksGoesInAndComesBackExactly) {
  const std::wstring name = L"two\nlines\r.exe";
  const std::wstring path = dir_.file(L"src") + pathSeparator() + name;
  std::FILE* made = openStdioFile(path, "wb");
  if (!made) GTEST_SKIP() << "this file system has no names with line breaks";
  std::fputs("odd", made);
  std::fclose(made);
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store_.add(path, kDigest, "T", "C", ThreatLevel::High, &r, &error)) << error;
  EXPECT_EQ(r.name, name);
  EXPECT_EQ(test::readFile(r.storedPath), "odd");
  QuarantineStore again(store_.folder());
  ASSERT_EQ(again.list(), std::vector<QuarantineRecord>{r});
  ASSERT_TRUE(again.restore(r.id, &error)) << error;
  EXPECT_EQ(test::readFile(path), "odd");
  ASSERT_TRUE(again.add(path, kDigest, "T", "C", ThreatLevel::High, &r, &error)) << error;
  ASSERT_TRUE(again.remove(r.id, &error)) << error;
  EXPECT_FALSE(pathExists(r.storedPath));
  EXPECT_FALSE(pathExists(path));
  EXPECT_EQ(index(), kMagic);
}

TEST_F(QuarantineStoreTest, ReadsDamagedIndexes) {
  const std::string text =
      kMagic + "ID=1\nORIG=/a\nNAME=a\nSEV=HIGH\nSIZE=x\n\n"
               "ID=12abc\nNAME=prefix digits\n\n"
               "ID=abc\nORIG=/lost\nNAME=lost\n\n"
               "garbage line\nUNKNOWN=1\nid=7\n"
               "ID=0\nNAME=zero\n"
               "ID=3\nNAME=n=with=eq \nSEV=medium\nTIME=9\nSTORED=/s\nSHA256=ab\nTHREAT=t\nCODE=c";
  const auto records = parseQuarantineIndex(text);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].id, 1u);
  EXPECT_EQ(records[0].severity, ThreatLevel::High);
  EXPECT_EQ(records[0].size, 0u);
  EXPECT_EQ(records[1].id, 12u);
  EXPECT_EQ(records[2].id, 3u);
  EXPECT_EQ(records[2].name, L"n=with=eq ");
  EXPECT_EQ(records[2].severity, ThreatLevel::Medium);
  EXPECT_EQ(records[2].time, 9u);
  EXPECT_EQ(records[2].code, "c");
  EXPECT_TRUE(parseQuarantineIndex("").empty());

  // The store keeps the records it can read and drops the rest on its next write.
  ASSERT_TRUE(store_.ensureFolder());
  test::writeFile(store_.indexPath(), text);
  ASSERT_TRUE(store_.add(source(L"n.exe"), kDigest, "T", "C", ThreatLevel::High));
  EXPECT_EQ(store_.list().size(), 4u);
  EXPECT_EQ(index().find("lost"), std::string::npos);
}

TEST_F(QuarantineStoreTest, CyrillicPathsSurviveTheIndex) {
  const std::wstring folder = dir_.file(L"Папка с пробелами") + pathSeparator() + L"ещё";
  createDirectories(folder);
  const std::wstring path = folder + pathSeparator() + L"документ.exe";
  test::writeFile(path, "x");
  QuarantineRecord r;
  ASSERT_TRUE(store_.add(path, kDigest, "Угроза", "КОД", ThreatLevel::Medium, &r));
  QuarantineStore again(store_.folder());
  const auto listed = again.list();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].originPath, path);
  EXPECT_EQ(listed[0].name, L"документ.exe");
  EXPECT_EQ(listed[0].threat, "Угроза");
  std::filesystem::remove_all(toPath(folder));
  ASSERT_TRUE(again.restore(r.id));
  EXPECT_EQ(test::readFile(path), "x");
}

TEST_F(QuarantineStoreTest, FolderThatCannotBeCreated) {
  test::writeFile(dir_.file(L"file"), "");
  QuarantineStore store(dir_.file(L"file") + pathSeparator() + L"Q");
  std::string error;
  EXPECT_FALSE(store.ensureFolder(&error));
  EXPECT_EQ(error, "cannot create quarantine dir: " + toUtf8(store.folder()));
  EXPECT_FALSE(store.add(source(L"f.exe"), kDigest, "T", "C", ThreatLevel::High, nullptr, &error));
  EXPECT_EQ(error, "cannot create quarantine dir: " + toUtf8(store.folder()));
  EXPECT_TRUE(pathExists(dir_.file(L"src") + pathSeparator() + L"f.exe"));
}

TEST_F(QuarantineStoreTest, UnreadableIndexIsNeverRewrittenEmpty) {
  ASSERT_TRUE(store_.ensureFolder());
  QuarantineRecord r;
  ASSERT_TRUE(store_.add(source(L"keep.exe"), kDigest, "T", "C", ThreatLevel::High, &r));
  const std::string before = index();
  // An index that is a folder cannot be read.
  const std::wstring moved = dir_.file(L"index.bak");
  ASSERT_TRUE(moveFile(store_.indexPath(), moved));
  ASSERT_TRUE(createDirectories(store_.indexPath()));
  std::string error;
  EXPECT_FALSE(store_.add(source(L"other.exe"), kDigest, "T", "C", ThreatLevel::High, nullptr, &error));
  EXPECT_EQ(error.rfind("cannot read quarantine index", 0), 0u) << error;
  EXPECT_TRUE(pathExists(dir_.file(L"src") + pathSeparator() + L"other.exe"));
  EXPECT_FALSE(store_.remove(r.id, &error));
  EXPECT_TRUE(pathExists(r.storedPath));
}

TEST_F(QuarantineStoreTest, FileHeldOpenByAnotherHandle) {
  const std::wstring path = source(L"locked.exe");
  ASSERT_TRUE(store_.ensureFolder());
  InputFile holder;
  ASSERT_TRUE(holder.open(path, InputFile::Share::ReadOnly));
  std::string error;
  QuarantineRecord r;
  if (store_.add(path, kDigest, "T", "C", ThreatLevel::High, &r, &error)) {
    EXPECT_EQ(store_.list().size(), 1u);
    GTEST_SKIP() << "this system moves files that are held open";
  }
  EXPECT_EQ(error, "MoveFileEx failed, code 32 (файл может быть запущен или заблокирован)");
  EXPECT_TRUE(pathExists(path));
  EXPECT_EQ(index(), kMagic);
}

// A user quarantines its own file, then turns a folder on the way back into a link to a system
// folder: the restore must not write through it.
TEST_F(QuarantineStoreTest, RestoreRefusesALinkAnywhereOnTheWay) {
  namespace fs = std::filesystem;
  const fs::path system = dir_.path() / "system";
  fs::create_directories(system / "deep");
  test::writeFile(pathToWide(system / "deep" / "victim.exe"), "system file");
  const struct {
    const char* what;
    fs::path linkAt;     // what becomes a link after the add
    fs::path linkTo;
  } cases[] = {
      {"the file's folder", dir_.path() / "home" / "deep", system / "deep"},
      {"a folder above it", dir_.path() / "home", system},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(dir_.path() / "home" / "deep");
    const std::wstring origin = pathToWide(dir_.path() / "home" / "deep" / "victim.exe");
    test::writeFile(origin, "user file");
    QuarantineRecord r;
    std::string error;
    ASSERT_TRUE(store_.add(origin, kDigest, "T", "C", ThreatLevel::High, &r, &error)) << error;
    fs::remove_all(dir_.path() / "home");
    if (c.linkAt != dir_.path() / "home") fs::create_directories(c.linkAt.parent_path());
    std::error_code ec;
    fs::create_directory_symlink(c.linkTo, c.linkAt, ec);
    if (ec || !fs::is_symlink(fs::symlink_status(c.linkAt)))
      GTEST_SKIP() << "symbolic links cannot be made here";
    EXPECT_FALSE(store_.restore(r.id, &error));
    EXPECT_EQ(error, kRestoreThroughLink);
    EXPECT_EQ(test::readFile(pathToWide(system / "deep" / "victim.exe")), "system file");
    EXPECT_EQ(test::readFile(r.storedPath), "user file");
    ASSERT_TRUE(store_.remove(r.id, &error)) << error;
    fs::remove(c.linkAt);
    fs::remove_all(dir_.path() / "home");
  }
  // A link in the file's own place is replaced, not written through.
  fs::create_directories(dir_.path() / "home");
  const std::wstring origin = pathToWide(dir_.path() / "home" / "victim.exe");
  test::writeFile(origin, "user file");
  QuarantineRecord r;
  ASSERT_TRUE(store_.add(origin, kDigest, "T", "C", ThreatLevel::High, &r));
  std::error_code ec;
  fs::create_symlink(system / "deep" / "victim.exe", toPath(origin), ec);
  if (ec) GTEST_SKIP() << "symbolic links cannot be made here";
  std::string error;
  ASSERT_TRUE(store_.restore(r.id, &error)) << error;
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(toPath(origin))));
  EXPECT_EQ(test::readFile(origin), "user file");
  EXPECT_EQ(test::readFile(pathToWide(system / "deep" / "victim.exe")), "system file");
}

TEST_F(QuarantineStoreTest, RecoverMendsWhatAnInterruptedOperationLeft) {
  ASSERT_TRUE(store_.ensureFolder());
  QuarantineRecord kept, gone;
  std::string error;
  ASSERT_TRUE(store_.add(source(L"kept.exe", "kept"), kDigest, "T", "C", ThreatLevel::High, &kept));
  nowMs_ += 1000;
  ASSERT_TRUE(store_.add(source(L"gone.exe", "gone"), kDigest, "T", "C", ThreatLevel::High, &gone));
  // A restore or delete cut off after its move: the record outlived its file.
  ASSERT_TRUE(removeFile(gone.storedPath));
  // An add cut off after its move, with its intent: the record is made from the intent.
  QuarantineRecord intended = kept;
  intended.id = 42;
  intended.originPath = dir_.file(L"src") + pathSeparator() + L"intended.exe";
  intended.name = L"intended.exe";
  intended.storedPath = inFolder(L"1700000005_0123456789abcdef_intended.exe");
  intended.threat = "Win.Intended";
  test::writeFile(intended.storedPath, "intended");
  test::writeFile(store_.intentPath(), "OP=add\n" + serializeQuarantineIndex({intended}));
  // The same without an intent: listed with an unknown origin.
  const std::wstring orphan = inFolder(L"1700000009_00aa_lost file.exe");
  test::writeFile(orphan, "lost");
  // Leftovers of interrupted writes, and a file that is none of ours.
  for (const wchar_t* name : {L"quarantine.db.tmp-12-0", L"~zorvek-tmp-12-1", L"notes.txt"})
    test::writeFile(inFolder(name), "x");

  std::vector<std::string> changes;
  ASSERT_TRUE(store_.recover(&changes, &error)) << error;
  EXPECT_EQ(changes.size(), 5u);
  const auto records = store_.list();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], kept);
  EXPECT_EQ(records[1], intended);
  const QuarantineRecord& lost = records[2];
  EXPECT_EQ(lost.storedPath, orphan);
  EXPECT_EQ(lost.name, L"lost file.exe");
  EXPECT_TRUE(lost.originPath.empty());
  EXPECT_EQ(lost.code, kRecoveredCode);
  EXPECT_EQ(lost.time, 1700000009u);
  EXPECT_EQ(lost.size, 4u);
  EXPECT_EQ(lost.sha256, hash::sha256File(orphan, 4096));
  for (const wchar_t* name : {L"quarantine.db.tmp-12-0", L"~zorvek-tmp-12-1", L"quarantine.intent"})
    EXPECT_FALSE(pathExists(inFolder(name))) << toUtf8(name);
  EXPECT_TRUE(pathExists(inFolder(L"notes.txt")));

  // A second pass finds nothing to mend.
  changes.clear();
  ASSERT_TRUE(store_.recover(&changes));
  EXPECT_TRUE(changes.empty());
  // Without an origin the file can only go for good.
  EXPECT_FALSE(store_.restore(lost.id, &error));
  EXPECT_EQ(error, "restore failed: the file's origin is unknown");
  ASSERT_TRUE(store_.remove(lost.id, &error)) << error;
  EXPECT_FALSE(pathExists(orphan));
  ASSERT_TRUE(store_.restore(intended.id, &error)) << error;
  EXPECT_EQ(test::readFile(intended.originPath), "intended");
}

TEST_F(QuarantineStoreTest, ADeleteThatCannotHappenKeepsItsRecord) {
  QuarantineRecord r;
  std::string error;
  ASSERT_TRUE(store_.add(source(L"held.exe", "held"), kDigest, "T", "C", ThreatLevel::High, &r));
  // Stored in a folder of its own (as after a change of the quarantine folder) that the caller
  // cannot look into, while the index stays readable: the file is there all the same.
  namespace fs = std::filesystem;
  const fs::path old = dir_.path() / "old";
  fs::create_directories(old);
  const std::wstring moved = pathToWide(old / toPath(r.name));
  ASSERT_TRUE(moveFile(r.storedPath, moved));
  r.storedPath = moved;
  ASSERT_TRUE(store_.save({r}));
  fs::permissions(toPath(store_.folder()), fs::perms::owner_all | fs::perms::group_read |
                                               fs::perms::group_exec | fs::perms::others_read |
                                               fs::perms::others_exec);
  fs::permissions(toPath(store_.indexPath()), fs::perms::owner_read | fs::perms::owner_write |
                                                 fs::perms::group_read | fs::perms::others_read);
  fs::permissions(old, fs::perms::owner_all);
  {
    const test::UnreadableFile held(r.storedPath);
    if (!held.ok()) GTEST_SKIP() << held.why();
    EXPECT_FALSE(store_.remove(r.id, &error));
  }
  EXPECT_EQ(error.rfind("delete failed", 0), 0u) << error;
  EXPECT_EQ(test::readFile(r.storedPath), "held");
  EXPECT_EQ(store_.list(), std::vector<QuarantineRecord>{r});
}

// Killed at any instant of its adds, restores and deletes, the store loses nothing: after the
// next start's recover() every stored file has its record, every record its file, no temporary
// is left, and no file exists twice.
TEST_F(QuarantineStoreTest, KillsAtAnyInstantLeaveNoOrphans) {
  const bool windows = pathSeparator() == L'\\';
  // Each round starts a process: slow under Wine, hence fewer there unless asked for more.
  int rounds = windows ? 40 : 200;
  if (const auto asked = environmentVariable(L"ZORVEK_KILL_ROUNDS")) rounds = std::stoi(*asked);
  const std::wstring src = dir_.file(L"src");
  ASSERT_TRUE(store_.ensureFolder());
  std::mt19937 random(12345);
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    const std::string before = index();
    ChildProcess child;
    ASSERT_TRUE(child.start({test::helperProgram(), L"quarantine-churn", store_.folder(), src,
                             std::to_wstring(round)}));
    // Let it get going (its index changes), then kill it somewhere in what it does.
    for (int i = 0; i < 400 && index() == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    child.kill();
    ASSERT_TRUE(child.wait());

    QuarantineStore started(store_.folder());
    ASSERT_TRUE(started.recover());
    const auto records = started.list();
    std::map<std::string, int> copies;
    for (const auto& r : records) {
      ASSERT_TRUE(pathExists(r.storedPath)) << "record without its file: " << toUtf8(r.storedPath);
      copies[test::readFile(r.storedPath).substr(0, 24)]++;
    }
    std::vector<std::wstring> stored;
    for (const auto& entry : std::filesystem::directory_iterator(toPath(store_.folder()))) {
      const std::wstring name = pathToWide(entry.path().filename());
      if (name == L"quarantine.db") continue;
      EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                              [&](const QuarantineRecord& r) {
                                return pathToWide(toPath(r.storedPath).filename()) == name;
                              }))
          << "file without a record: " << toUtf8(name);
    }
    for (const auto& entry : std::filesystem::directory_iterator(toPath(src))) {
      if (entry.path().filename().string().find(".tmp-") != std::string::npos) continue;
      copies[test::readFile(pathToWide(entry.path())).substr(0, 24)]++;
    }
    for (const auto& [content, n] : copies) EXPECT_EQ(n, 1) << "twice: " << content;
    if (HasFailure()) break;
  }
}

// An index save killed at any moment leaves the previous index or the new one, whole.
TEST_F(QuarantineStoreTest, KilledSaveNeverLeavesATruncatedIndex) {
  ASSERT_TRUE(store_.ensureFolder());
  const std::string versions[] = {serializeQuarantineIndex(test::helperRecords(0)),
                                  serializeQuarantineIndex(test::helperRecords(1))};
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    ChildProcess child;
    ASSERT_TRUE(child.start({test::helperProgram(), L"save-quarantine", store_.folder(), L"0"}));
    for (int i = 0; i < 2000 && index() == kMagic; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 7) % 40));
    child.kill();
    ASSERT_TRUE(child.wait());
    const std::string text = index();
    EXPECT_TRUE(text == versions[0] || text == versions[1]) << "size " << text.size();
  }
}

}  // namespace
}  // namespace zorvek
