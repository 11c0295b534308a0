#include "tools/zscan/Zscan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestUtil.h"
#include "UnreadableFile.h"
#include "common/Hash.h"
#include "common/Text.h"
#include "common/Version.h"
#include "common/platform/File.h"
#include "common/platform/Process.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

using Result = test::ConsoleRun;

class ZscanTest : public ::testing::Test {
 protected:
  Result run(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"zscan");
    return test::captureConsole(
        dir_, [&](std::FILE* out, std::FILE* err) { return runZscan(args, out, err, false); });
  }
  std::wstring write(const std::wstring& relative, const std::string& bytes) {
    return dir_.write(relative, bytes);
  }
  std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
      out.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "output does not end with a line end";
    return out;
  }
  test::TempDir dir_;
};

TEST_F(ZscanTest, HelpAndVersionGoToStandardOutput) {
  const struct {
    std::vector<std::wstring> args;
    std::string text;
  } cases[] = {{{L"--help"}, "zscan [--db FILE]... [--json] [--quiet] PATH..."},
               {{L"-h"}, "zscan [--db FILE]... [--json] [--quiet] PATH..."},
               {{L"--json", L"-h", L"x"}, "zscan [--db FILE]..."},
               {{L"--version"}, std::string("zscan ") + kVersion + "\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.args[0]));
    const Result r = run(c.args);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ZscanTest, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::wstring>>{
           {}, {L"--json"}, {L"--db"}, {L"--bogus", L"x"}, {L"--db", L"a.db"}}) {
    const Result r = run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("zscan [--db FILE]... [--json] [--quiet] PATH..."), std::string::npos);
  }
}

TEST_F(ZscanTest, TextOutputAndExitCodes) {
  const std::wstring db = write(L"db.txt", "");
  const std::wstring clean = write(L"tree/clean.dll", "abc");
  write(L"tree/Downloads/report.pdf.exe", "MZ");
  write(L"tree/notes.txt", "x");

  Result r = run({L"--db", db, clean});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(lines(r.out).size(), 1u);  // the summary only
  EXPECT_NE(r.out.find("файлов 1, угроз 0, подозрительных 0, байт 3"), std::string::npos);

  const std::wstring tree = pathToWide(dir_.path() / "tree");
  r = run({L"--db", db, tree});
  EXPECT_EQ(r.code, 1);
  const auto out = lines(r.out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], toUtf8(tree) + toUtf8(std::wstring(1, pathSeparator())) + "Downloads" +
                        toUtf8(std::wstring(1, pathSeparator())) +
                        "report.pdf.exe: high - Двойное расширение; Исполняемый файл из папки загрузок");
  EXPECT_NE(out[1].find("файлов 2, угроз 1, подозрительных 0, байт 5"), std::string::npos);

  r = run({L"--quiet", L"--db", db, tree});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(lines(r.out).size(), 1u);

  // A missing path is an error; the other paths are still scanned.
  r = run({L"--db", db, dir_.file(L"missing.exe"), tree});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find(toUtf8(dir_.file(L"missing.exe"))), std::string::npos);
  EXPECT_NE(r.out.find("report.pdf.exe: high"), std::string::npos);

  // A database that cannot be read is an error too.
  r = run({L"--db", dir_.file(L"missing.db"), clean});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("missing.db"), std::string::npos);
}

TEST_F(ZscanTest, AFileThatCannotBeReadIsNamedAndNeverPassesAsClean) {
  const std::wstring tree = pathToWide(dir_.path() / "tree");
  const std::wstring eicar = write(L"tree/eicar.com", test::kEicar);
  const std::wstring db = write(L"db.txt", hash::sha256File(eicar, 4096) + ":EICAR:Test\n");
  write(L"tree/tool.exe", "MZ");
  struct Case {
    const char* what;
    std::vector<std::wstring> args;
  };
  const std::vector<Case> cases = {{"text", {L"--db", db, tree}}, {"json", {L"--json", L"--db", db, tree}},
                                   {"named file", {L"--db", db, eicar}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The streams first: while the file is locked this thread may be someone else.
    std::FILE* out = openStdioFile(dir_.file(L"out"), "w+b");
    std::FILE* err = openStdioFile(dir_.file(L"err"), "w+b");
    std::vector<std::wstring> args = c.args;
    args.insert(args.begin(), L"zscan");
    int code = 0;
    {
      const test::UnreadableFile locked(eicar);
      if (!locked.ok()) GTEST_SKIP() << locked.why();
      code = runZscan(args, out, err, false);
    }
    const std::string text = test::readStream(out);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(code, 2);
    // Named as the walk found it (separators and JSON escapes differ by platform).
    EXPECT_NE(text.find("eicar.com"), std::string::npos) << text;
    if (c.args[0] == L"--json") {
      const size_t record = text.find("\"fileName\":\"eicar.com\"");
      ASSERT_NE(record, std::string::npos) << text;
      EXPECT_NE(text.substr(record, text.find('\n', record) - record).find("\"error\":\""),
                std::string::npos)
          << text;
      EXPECT_EQ(text.find("\"error\"", text.find("tool.exe")), std::string::npos);
    } else {
      EXPECT_NE(text.find("eicar.com: Файл не проверен: "), std::string::npos) << text;
      EXPECT_NE(text.find("угроз 0, подозрительных 0, не проверено 1"), std::string::npos);
    }
  }
  // Readable again, the same scans find the threat.
  EXPECT_EQ(run({L"--db", db, tree}).code, 1);
}

TEST_F(ZscanTest, NamedFileIsEvaluatedWithoutTheFilter) {
  const std::wstring db = write(L"db.txt", "");
  const std::wstring text = write(L"Downloads/readme.exe.txt", "hello");
  const Result r = run({L"--json", L"--db", db, text});
  EXPECT_EQ(r.code, 1);  // downloaded ".exe" anywhere in the path: medium
  EXPECT_EQ(lines(r.out).size(), 1u);
  EXPECT_NE(r.out.find("\"code\":\"FS.DOWNLOADED_EXE\""), std::string::npos);
}

TEST_F(ZscanTest, JsonRecord) {
  const std::string body = "known bytes";
  const std::wstring db = write(L"a.db", hash::md5File(write(L"probe", body), 4096) +
                                             ":Win.Test.\"Quoted\":Fam\n");
  const std::wstring file = write(L"dir/svchost.exe", body);
  const Result r = run({L"--json", L"--db", db, file});
  EXPECT_EQ(r.code, 1);
  const auto out = lines(r.out);
  ASSERT_EQ(out.size(), 1u);
  std::string path = toUtf8(file);
  std::string escaped;
  for (char c : path) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  const std::string expected =
      "{\"path\":\"" + escaped + "\",\"fileName\":\"svchost.exe\",\"size\":11,\"md5\":\"" +
      hash::md5File(file, 4096) + "\",\"sha1\":\"" + hash::sha1File(file, 4096) +
      "\",\"sha256\":\"" + hash::sha256File(file, 4096) +
      "\",\"isPe\":false,\"packed\":false,\"entropy\":0.000000,\"maxSectionEntropy\":0.000000,"
      "\"sectionCount\":0,\"importCount\":0,\"hasDebugDirectory\":false,\"hasResources\":false,"
      "\"inDatabase\":true,\"signatureName\":\"Win.Test.\\\"Quoted\\\"\",\"signatureFamily\":"
      "\"Fam\",\"signatureLevel\":\"high\",\"signatureReference\":\"\",\"matchedHash\":\"" +
      hash::md5File(file, 4096) +
      "\",\"findings\":[{\"level\":\"high\",\"code\":\"SIG.MATCH\",\"title\":\"Обнаружено в "
      "базе: Win.Test.\\\"Quoted\\\"\",\"detail\":\"Уровень: high\"},{\"level\":\"high\","
      "\"code\":\"FS.IMPERSONATE\",\"title\":\"Маскируется под системный процесс\",\"detail\":"
      "\"Файл svchost.exe лежит вне системного каталога, хотя так называются только штатные "
      "компоненты Windows\"}],\"level\":\"high\",\"reasons\":[\"Точное совпадение в базе угроз\","
      "\"Маскируется под системный процесс\"]}";
  EXPECT_EQ(out[0], expected);
  EXPECT_NE(r.err.find("файлов 1, угроз 1"), std::string::npos);  // the summary leaves stdout
}

TEST_F(ZscanTest, JsonNumbersAndEscapes) {
  FileVerdict v;
  v.path = std::wstring(L"a\tb\x01") + L"\"\\";
  v.entropy = 7.123456789012345;
  v.maxSectionEntropy = 0.5;
  v.reasons = {"bad \xff byte"};
  const std::string json = verdictJson(v);
  EXPECT_NE(json.find("\"path\":\"a\\tb\\u0001\\\"\\\\\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"entropy\":7.123456789012345,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"maxSectionEntropy\":0.500000,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"reasons\":[\"bad \xEF\xBF\xBD byte\"]"), std::string::npos) << json;
  EXPECT_EQ(json.back(), '\n');
  EXPECT_EQ(json.find('\n'), json.size() - 1);
}

// A data folder that cannot be reached leaves the service's database out of reach: said once,
// exit code 2, never an exception.
TEST_F(ZscanTest, UnreachableDataFolderFailsWithExitCode2) {
  const std::wstring target = write(L"x/plain.dll", "1");
  const std::wstring file = write(L"not-a-folder", "x");
  std::vector<std::wstring> folders{file + pathSeparator() + L"data"};
  if (pathSeparator() == L'/') {
    // Looking at a path through a loop of links fails with an error other than "not found".
    std::error_code ec;
    fs::create_directory_symlink(dir_.path() / "loop", dir_.path() / "loop", ec);
    folders.push_back(pathToWide(dir_.path() / "loop" / "data"));
  }
  test::ScopedEnvironment dataDir(L"ZORVEK_DATA_DIR", std::nullopt);
  for (const std::wstring& folder : folders) {
    SCOPED_TRACE(toUtf8(folder));
    ASSERT_TRUE(dataDir.set(folder));
    const Result r = run({L"--quiet", target});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("zscan: база сигнатур не загружена: папка данных недоступна (", 0), 0u)
        << r.err;
  }
}

// The built program: exit code and output through a real process.
TEST_F(ZscanTest, Program) {
  const std::wstring program = test::programBesideTests(L"zscan");
  if (!pathExists(program)) GTEST_SKIP() << "zscan is not built beside the tests";
  const std::wstring target = write(L"x/plain.dll", "1");
  ChildProcess child;
  // No --db: the seed database beside the program and the live file of the data folder.
  const test::ScopedEnvironment dataDir(L"ZORVEK_DATA_DIR", dir_.file(L"data"));
  ASSERT_TRUE(child.start({program, L"--quiet", target}));
  uint32_t code = 0;
  ASSERT_TRUE(child.wait(&code));
  EXPECT_EQ(code, 0u);
  // The live database adds its entries to the seed's.
  write(L"data/signatures.live.txt", hash::sha256File(target, 4096) + "\n");
  ChildProcess second;
  ASSERT_TRUE(second.start({program, L"--quiet", L"--", target}));
  ASSERT_TRUE(second.wait(&code));
  EXPECT_EQ(code, 1u);
}

}  // namespace
}  // namespace zorvek
