#include "tools/sigutil/Sigutil.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

const std::string kUsage =
    "sigutil - утилита базы сигнатур ZORVEK Antivirus\n\n  sigutil stats   <db>\n  sigutil verify  <db>\n"
    "  sigutil convert <out.db> <in1> [in2 ...]\n  sigutil lookup  <db> <md5|sha1|sha256> <hash>\n";
const std::string kSha256(64, 'a');

using Result = test::ConsoleRun;

class SigutilTest : public ::testing::Test {
 protected:
  Result run(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"sigutil");
    return test::captureConsole(
        dir_, [&](std::FILE* out, std::FILE* err) { return runSigutil(args, out, err); });
  }
  std::wstring write(const std::wstring& name, const std::string& text) {
    return dir_.write(name, text);
  }
  test::TempDir dir_;
};

TEST_F(SigutilTest, UsageErrors) {
  const std::vector<std::vector<std::wstring>> cases = {
      {}, {L"Stats", L"x"}, {L"stats"}, {L"stats", L"a", L"b"}, {L"lookup", L"db", L"abc"},
      {L"convert", L"out"}, {L"help"}};
  for (const auto& args : cases) {
    const Result r = run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(SigutilTest, Stats) {
  const std::wstring db = write(L"сигнатуры.db", "GENERATED 12\n" + kSha256 + "\n");
  const std::string path = toUtf8(db);
  Result r = run({L"stats", db});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "файл       : " + path + "\nисточник   : " + path +
                       "\nверсия    : (не указана)\nзаписей   : 1\nсгенерирован: 12\n");
  EXPECT_EQ(r.err, "");

  r = run({L"stats", dir_.file(L"missing")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "не удалось открыть: cannot open: " + toUtf8(dir_.file(L"missing")) + "\n");
}

TEST_F(SigutilTest, Verify) {
  Result r = run({L"verify", write(L"a.db", "VERSION 5\n" + kSha256 + "\n")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "OK: 1 записей, версия 5\n");

  r = run({L"verify", write(L"empty.db", "ZORVEKDB/1\n# only headers\nSIZE 3\n")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "OK: 0 записей, версия \n");
  EXPECT_EQ(r.err, "внимание: база пуста — сканер будет полагаться только на эвристики\n");

  r = run({L"verify", dir_.file(L"missing")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "база не прошла проверку: cannot open: " + toUtf8(dir_.file(L"missing")) + "\n");
}

TEST_F(SigutilTest, ConvertMergesAndWritesSorted) {
  const std::string md5(32, 'b');
  const std::wstring a = write(L"a.db", kSha256 + "\n" + md5 + ":Keep:Fam\n");
  const std::wstring b = write(L"b.db", "GENERATED 3\n" + kSha256 + ":x:F:low:Named:ref\n" + md5 + ":Other:Fam2\n");
  const std::wstring out = dir_.file(L"out.db");
  test::writeFile(out, "old contents that are longer than the new file will be ....................................."
                       "..............................................................................");
  Result r = run({L"convert", out, a, b});
  const std::string expected = "# Zorvek Antivirus signature database\nZORVEKDB/1\nVERSION 0\nGENERATED 3\nSIZE 2\n" +
                               kSha256 + ":Named:F\n" + md5 + ":Keep:Fam\n";
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(test::readFile(out), expected);
  EXPECT_EQ(r.out, "готово: " + toUtf8(out) + " (2 записей, " + std::to_string(expected.size()) + " байт)\n");

  r = run({L"convert", dir_.file(L"x.db"), a, dir_.file(L"missing")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "ошибка чтения " + toUtf8(dir_.file(L"missing")) + ": cannot open: " +
                       toUtf8(dir_.file(L"missing")) + "\n");
  EXPECT_FALSE(pathExists(dir_.file(L"x.db"))) << "nothing is written after a failed read";

  const std::wstring badOut = dir_.file(L"no-such-folder/out.db");
  r = run({L"convert", badOut, a});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "не удалось создать " + toUtf8(badOut) + "\n");
}

TEST_F(SigutilTest, Lookup) {
  const std::wstring db = write(L"l.db", kSha256 + ":x:Fam:critical:Name:https://e.org/x\n" +
                                             std::string(40, '1') + ":Plain\n");
  Result r = run({L"lookup", db, L"sha256", std::wstring(64, L'A')});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "совпадение: Name\nсемейство : Fam\nуровень   : critical\nссылка    : https://e.org/x\n");

  r = run({L"lookup", db, L"sha1", std::wstring(40, L'1')});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "совпадение: Plain\nсемейство : Plain\nуровень   : high\n");

  r = run({L"lookup", db, L"SHA256", std::wstring(64, L'a')});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "не найдено\n");

  r = run({L"lookup", dir_.file(L"missing"), L"md5", L"x"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "не удалось открыть: cannot open: " + toUtf8(dir_.file(L"missing")) + "\n");
}

}  // namespace
}  // namespace zorvek
