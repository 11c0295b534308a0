#include "setup/Payload.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "PayloadBuilder.h"
#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "setup/EntryName.h"
#include "setup/platform/SetupFiles.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
using zorvek::test::TempDir;

class PayloadTest : public ::testing::Test {
 protected:
  // The folder that plays the user's temporary folder, ending in a separator.
  std::wstring base() const { return zorvek::pathToWide(dir_.path() / ""); }

  // Writes an installer file and reads its payload. Each gets a name of its own: the payload
  // keeps its file open, and Windows would not let the next one be written over it.
  void load(const std::string& bytes) {
    const std::wstring path = dir_.file(L"installer" + std::to_wstring(++installers_) + L".exe");
    zorvek::test::writeFile(path, bytes);
    payload_.read(path);
  }

  // Names in the scratch area other than the installer itself.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      const std::string name = zorvek::pathToUtf8(e.path().filename());
      if (!name.starts_with("installer")) out.push_back(name);
    }
    return out;
  }

  std::vector<std::wstring> selfTest() {
    std::vector<std::wstring> lines;
    code_ = runSelfTest(payload_, base(), [&](const std::wstring& l) { lines.push_back(l); });
    return lines;
  }

  TempDir dir_;
  InstallerPayload payload_;
  int code_ = -1;
  int installers_ = 0;
};

TEST_F(PayloadTest, ExtractsIntoAFreshFolderAndRemovesIt) {
  load(test::installer("MZ", {{"ZorvekService.exe", "service"},
                              {"data/signatures.seed.txt", "seed"},
                              {"data/sub/deep.txt", std::string(600000, 'd')}}));
  {
    TempFolder folder;
    std::string error;
    ASSERT_EQ(extractPayload(payload_, folder, base(), L"ZorvekSetup-42", &error),
              ExtractResult::Extracted)
        << error;
    EXPECT_EQ(folder.path(), base() + L"ZorvekSetup-42");
    const fs::path root = zorvek::toPath(folder.path());
    EXPECT_EQ(zorvek::test::readFile(zorvek::pathToWide(root / "ZorvekService.exe")), "service");
    EXPECT_EQ(zorvek::test::readFile(zorvek::pathToWide(root / "data" / "signatures.seed.txt")), "seed");
    EXPECT_EQ(zorvek::fileSize(zorvek::pathToWide(root / "data" / "sub" / "deep.txt")), 600000);
  }
  EXPECT_TRUE(leftovers().empty()) << "the folder goes with its owner";
}

TEST_F(PayloadTest, ATakenNameIsNeverReused) {
  load(test::installer("MZ", {{"f", "payload"}}));
  fs::create_directory(dir_.path() / "ZorvekSetup-7");
  zorvek::test::writeFile(dir_.file(L"ZorvekSetup-7/planted.exe"), "planted");
  zorvek::test::writeFile(dir_.file(L"ZorvekSetup-7-1"), "a file in the way");
  TempFolder folder;
  ASSERT_EQ(extractPayload(payload_, folder, base(), L"ZorvekSetup-7"), ExtractResult::Extracted);
  EXPECT_EQ(folder.path(), base() + L"ZorvekSetup-7-2");
  EXPECT_EQ(zorvek::test::readFile(dir_.file(L"ZorvekSetup-7/planted.exe")), "planted");
  EXPECT_FALSE(fs::exists(dir_.path() / "ZorvekSetup-7" / "f"));
}

TEST_F(PayloadTest, NothingIsWrittenForASuspiciousName) {
  const std::string cases[] = {"../escape.exe", "C:evil.exe", "data/a:stream", "/abs",
                               std::string("nul\0.exe", 8)};
  for (const auto& bad : cases) {
    SCOPED_TRACE(bad);
    load(test::installer("MZ", {{"first.exe", "ok"}, {bad, "evil"}}));
    TempFolder folder;
    std::string error;
    EXPECT_EQ(extractPayload(payload_, folder, base(), L"ZorvekSetup-1", &error), ExtractResult::Failed);
    EXPECT_EQ(error, suspiciousNameText(bad));
    EXPECT_TRUE(fs::is_empty(zorvek::toPath(folder.path()))) << "not even the first entry";
  }
  EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "escape.exe"));
}

TEST_F(PayloadTest, NoPayloadAndDamagedPayload) {
  load(std::string(100, 'M'));
  TempFolder folder;
  std::string error;
  EXPECT_EQ(extractPayload(payload_, folder, base(), L"x", &error), ExtractResult::NoPayload);
  EXPECT_EQ(error, "в установщике нет встроенных файлов");

  // An entry cut short: the whole payload is refused, nothing is extracted.
  std::string box = test::container({{"a.exe", "aaaa"}, {"b.exe", "bbbb"}});
  box.resize(box.size() - 1);
  load(test::installer("MZ", box));
  EXPECT_EQ(extractPayload(payload_, folder, base(), L"x", &error), ExtractResult::Failed);
  EXPECT_EQ(error, "хвост прочитан: " + std::to_string(box.size()) +
                       ", но контейнер обрезан: запись 2");
  load(test::installer("MZ", test::Files{}));
  EXPECT_EQ(extractPayload(payload_, folder, base(), L"x", &error), ExtractResult::Failed);
  EXPECT_TRUE(leftovers().empty());

  payload_.read(dir_.file(L"missing.exe"));
  EXPECT_EQ(payload_.index().status, "не удалось открыть: " + zorvek::toUtf8(dir_.file(L"missing.exe")));
  payload_.read(L"");
  EXPECT_EQ(payload_.index().status, "GetModuleFileNameW не удался");
  EXPECT_EQ(payload_.index().state, PayloadState::Damaged);
}

TEST_F(PayloadTest, WriteFailuresAreReported) {
  // "data" as a file first makes the folder for the second entry impossible.
  load(test::installer("MZ", {{"data", "file"}, {"data/x", "y"}}));
  TempFolder folder;
  std::string error;
  EXPECT_EQ(extractPayload(payload_, folder, base(), L"w", &error), ExtractResult::Failed);
  EXPECT_EQ(error, "не удалось создать каталог для data/x");

  load(test::installer("MZ", {{"d/", "data"}, {"d/x", "y"}}));
  TempFolder other;
  EXPECT_EQ(extractPayload(payload_, other, base(), L"w", &error), ExtractResult::Failed);
  EXPECT_EQ(error, "не удалось создать каталог для d/x");
}

TEST_F(PayloadTest, SelfTestOfAGoodPayload) {
  load(test::installer("MZ", {{"ZorvekService.exe", "12345"}, {"data/seed.txt", "abc"}}));
  const auto lines = selfTest();
  EXPECT_EQ(code_, 0);
  const std::vector<std::wstring> expected = {
      L"НАГРУЗКА: 2 файлов, 8 байт", L"  ZorvekService.exe — 5 байт", L"  data/seed.txt — 3 байт",
      L"РАСПАКОВКА: ок"};
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(leftovers().empty()) << "the self-test folder is removed";
}

TEST_F(PayloadTest, SelfTestWithoutAGoodPayload) {
  load(std::string(64, 'M'));
  EXPECT_EQ(selfTest(), (std::vector<std::wstring>{
                            L"НАГРУЗКА ПУСТА: завершающего блока нет: это обычная сборка без нагрузки",
                            L"(обычная сборка без payload — это ожидаемо, но дистрибутив так быть не должен)"}));
  EXPECT_EQ(code_, 1);

  load(std::string(64, 'M') + setup::makeTrailer(1, 1));
  const auto damaged = selfTest();
  ASSERT_EQ(damaged.size(), 1u) << "a damaged payload is no ordinary build";
  EXPECT_EQ(damaged[0].find(L"НАГРУЗКА ПУСТА: границы не сходятся"), 0u);
  EXPECT_EQ(code_, 1);

  load(test::installer("MZ", {{"ok", "1"}, {"../x\n", "2"}}));
  const auto refused = selfTest();
  ASSERT_EQ(refused.size(), 4u);
  EXPECT_EQ(refused[2], L"  ../x? — 1 байт");
  EXPECT_EQ(refused[3], L"РАСПАКОВКА НЕ УДАЛАСЬ: подозрительное имя файла в нагрузке: ../x?");
  EXPECT_EQ(code_, 1);
}

TEST_F(PayloadTest, SelfTestLeavesAnExistingFolderAlone) {
  fs::create_directory(dir_.path() / "ZorvekSetup-selftest");
  zorvek::test::writeFile(dir_.file(L"ZorvekSetup-selftest/keep"), "mine");
  load(test::installer("MZ", {{"keep", "payload"}}));
  selfTest();
  EXPECT_EQ(code_, 0);
  EXPECT_EQ(zorvek::test::readFile(dir_.file(L"ZorvekSetup-selftest/keep")), "mine");
  EXPECT_FALSE(fs::exists(dir_.path() / "ZorvekSetup-selftest-1"));
}

TEST_F(PayloadTest, CompareFindsEveryDifference) {
  load(test::installer("MZ", {{"f", "abcdef"}}));
  const PayloadEntry& entry = payload_.index().entries.at(0);
  const std::wstring path = dir_.file(L"extracted");
  const struct {
    std::string onDisk;
    std::string difference;
  } cases[] = {
      {"abcdef", ""},
      {"abcde", "размер 5 != 6 байт"},
      {"abcdefg", "размер 7 != 6 байт"},
      {"abcXef", "байт 3: 0x58 != 0x64"},
  };
  for (const auto& c : cases) {
    zorvek::test::writeFile(path, c.onDisk);
    EXPECT_EQ(compareExtracted(payload_.source(), entry, path), c.difference);
  }
  EXPECT_EQ(compareExtracted(payload_.source(), entry, dir_.file(L"gone")), "файл не прочитан");
}

TEST(SetupFilesTest, RemoveTreeRemovesLinksNotTheirTargets) {
  TempDir dir;
  const fs::path keep = dir.path() / "keep";
  fs::create_directories(keep / "inner");
  zorvek::test::writeFile(zorvek::pathToWide(keep / "inner" / "precious"), "x");
  const fs::path tree = dir.path() / "tree";
  fs::create_directories(tree / "a" / "b");
  zorvek::test::writeFile(zorvek::pathToWide(tree / "a" / "b" / "file"), "y");
  std::error_code ec;
  fs::create_directory_symlink(keep, tree / "a" / "link", ec);
  if (ec) GTEST_SKIP() << "no folder links here: " << ec.message();
  ASSERT_TRUE(removeTree(zorvek::pathToWide(tree)));
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_TRUE(fs::exists(keep / "inner" / "precious"));
  EXPECT_TRUE(removeTree(zorvek::pathToWide(tree))) << "a missing folder counts as removed";
}

}  // namespace
}  // namespace setup
