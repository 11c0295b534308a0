#include "service/FileVerdict.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>

#include "PeBuilder.h"
#include "TestUtil.h"
#include "common/Hash.h"
#include "common/Text.h"

namespace zorvek {
namespace {

std::vector<std::string> codes(const FileVerdict& v) {
  std::vector<std::string> out;
  for (const auto& f : v.findings) out.push_back(f.code);
  return out;
}

FileVerdict rules(const std::wstring& path, const PeAnalysis& pe = {}, bool inDatabase = false,
                  const SignatureMatch& match = {}) {
  return buildVerdict(path, 10, 0, "m", "s1", "s256", pe, inDatabase, match);
}

EvaluationOptions limits(uint64_t maxFileSize, uint64_t chunk,
                         const std::atomic<bool>* cancel = nullptr) {
  EvaluationOptions o;
  o.maxFileSize = maxFileSize;
  o.hashChunkSize = chunk;
  o.cancel = cancel;
  return o;
}

TEST(FileVerdictTest, FileNameIsTheTextAfterTheLastSeparator) {
  EXPECT_EQ(verdictFileName(L"C:\\a\\b.exe"), L"b.exe");
  EXPECT_EQ(verdictFileName(L"/a/b\\c.exe"), L"c.exe");
  EXPECT_EQ(verdictFileName(L"x.exe"), L"x.exe");
  EXPECT_EQ(verdictFileName(L"C:\\dir\\"), L"");
}

TEST(FileVerdictTest, NameAndLocationRules) {
  struct Case {
    std::wstring path;
    ThreatLevel level;
    std::vector<std::string> codes;
    std::vector<std::string> reasons;
  };
  const std::string imp = "Маскируется под системный процесс";
  const std::string dbl = "Двойное расширение";
  const std::string dl = "Исполняемый файл из папки загрузок";
  const std::vector<Case> cases = {
      {L"C:\\Users\\a\\Desktop\\svchost.exe", ThreatLevel::High, {"FS.IMPERSONATE"}, {imp}},
      {L"C:\\Windows\\System32\\svchost.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\WINDOWS\\SysWOW64\\SVCHOST.EXE", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Desktop\\Explorer.EXE", ThreatLevel::High, {"FS.IMPERSONATE"}, {imp}},
      {L"C:\\Users\\a\\Downloads\\report.pdf.exe", ThreatLevel::High,
       {"FS.DOUBLE_EXT", "FS.DOWNLOADED_EXE"}, {dbl, dl}},
      {L"C:\\Users\\a\\Desktop\\.pdf.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Desktop\\my.invoice.pdf.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Desktop\\PHOTO.JPG.SCR", ThreatLevel::High, {"FS.DOUBLE_EXT"}, {dbl}},
      {L"C:\\Users\\a\\Desktop\\a.pdf", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Downloads\\setup.msi", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Downloads\\tool.bat", ThreatLevel::Medium, {"FS.DOWNLOADED_EXE"}, {dl}},
      // Any ".exe" in the path counts, even in a folder name.
      {L"C:\\Users\\a\\Downloads\\x.exe.d\\readme.txt", ThreatLevel::Medium,
       {"FS.DOWNLOADED_EXE"}, {dl}},
      {L"C:\\Users\\a\\Загрузки\\setup.exe", ThreatLevel::Medium, {"FS.DOWNLOADED_EXE"}, {dl}},
      {L"C:\\Users\\a\\ЗАГРУЗКИ\\setup.scr", ThreatLevel::Medium, {"FS.DOWNLOADED_EXE"}, {dl}},
      {L"C:/Users/a/Downloads/setup.exe", ThreatLevel::Medium, {"FS.DOWNLOADED_EXE"}, {dl}},
      {L"/home/a/Downloads/setup.exe", ThreatLevel::Medium, {"FS.DOWNLOADED_EXE"}, {dl}},
      {L"C:/Windows/System32/lsass.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\Downloads\\notepad.exe", ThreatLevel::High,
       {"FS.IMPERSONATE", "FS.DOWNLOADED_EXE"}, {imp, dl}},
      // Where Windows keeps these programs itself: its own folder and the component store.
      {L"C:\\Windows\\explorer.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\WINDOWS\\REGEDIT.EXE", ThreatLevel::Clean, {}, {}},
      {L"C:/Windows/notepad.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\Windows\\WinSxS\\amd64_microsoft-windows-notepad_31bf\\notepad.exe",
       ThreatLevel::Clean, {}, {}},
      // One folder deeper than the Windows folder is not where it keeps them.
      {L"C:\\Windows\\Temp\\explorer.exe", ThreatLevel::High, {"FS.IMPERSONATE"}, {imp}},
      {L"C:\\Windows\\svchost.exe\\x\\svchost.exe", ThreatLevel::High, {"FS.IMPERSONATE"}, {imp}},
      {L"C:\\Users\\a\\Desktop\\windows.explorer.exe", ThreatLevel::Clean, {}, {}},
      {L"C:\\Users\\a\\mywindows\\explorer.exe", ThreatLevel::High, {"FS.IMPERSONATE"}, {imp}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.path));
    const FileVerdict v = rules(c.path);
    EXPECT_EQ(v.level, c.level);
    EXPECT_EQ(codes(v), c.codes);
    EXPECT_EQ(v.reasons, c.reasons);
  }
}

TEST(FileVerdictTest, FindingTexts) {
  const FileVerdict v = rules(L"C:\\Users\\a\\Downloads\\счёт.pdf.exe");
  ASSERT_EQ(v.findings.size(), 2u);
  EXPECT_EQ(v.findings[0].title, "Двойное расширение");
  EXPECT_EQ(v.findings[0].detail,
            "Имя счёт.pdf.exe маскирует исполняемый файл под документ или картинку");
  EXPECT_EQ(v.findings[0].level, ThreatLevel::High);
  EXPECT_EQ(v.findings[1].title, "Исполняемый файл из папки загрузок");
  EXPECT_EQ(v.findings[1].detail, "Программы, скачанные из интернета, стоит проверять до запуска");
  EXPECT_EQ(v.findings[1].level, ThreatLevel::Medium);
  const FileVerdict s = rules(L"D:\\svchost.exe");
  ASSERT_EQ(s.findings.size(), 1u);
  EXPECT_EQ(s.findings[0].detail,
            "Файл svchost.exe лежит вне системного каталога, хотя так называются только "
            "штатные компоненты Windows");
}

TEST(FileVerdictTest, SignatureMatch) {
  struct Case {
    ThreatLevel level;
    std::string reference;
    std::string detail;
  };
  const std::vector<Case> cases = {
      {ThreatLevel::Critical, "", "Уровень: critical"},
      {ThreatLevel::Low, "https://x/1", "Уровень: low, ссылка: https://x/1"},
      {ThreatLevel::Clean, "", "Уровень: clean"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    SignatureMatch m;
    m.name = "Win.Test";
    m.family = "Test";
    m.level = c.level;
    m.reference = c.reference;
    m.hash = "abc";
    const FileVerdict v = rules(L"C:\\a\\b.dll", {}, true, m);
    ASSERT_EQ(v.findings.size(), 1u);
    EXPECT_EQ(v.findings[0].code, "SIG.MATCH");
    EXPECT_EQ(v.findings[0].level, c.level);
    EXPECT_EQ(v.findings[0].title, "Обнаружено в базе: Win.Test");
    EXPECT_EQ(v.findings[0].detail, c.detail);
    EXPECT_EQ(v.level, c.level);
    EXPECT_EQ(v.reasons, std::vector<std::string>{"Точное совпадение в базе угроз"});
    EXPECT_EQ(v.signatureName, "Win.Test");
    EXPECT_EQ(v.signatureFamily, "Test");
    EXPECT_EQ(v.signatureLevel, c.level);
    EXPECT_EQ(v.matchedHash, "abc");
    EXPECT_TRUE(countsAsThreat(v));  // in the database, whatever its level
  }
  // Without a match the signature fields stay fresh, even when a match record is passed.
  SignatureMatch stale;
  stale.name = "stale";
  stale.level = ThreatLevel::Low;
  const FileVerdict v = rules(L"C:\\a\\b.dll", {}, false, stale);
  EXPECT_EQ(v.signatureName, "");
  EXPECT_EQ(v.signatureLevel, ThreatLevel::High);
  EXPECT_FALSE(countsAsThreat(v));
}

TEST(FileVerdictTest, PeFindingsGiveTheTitlesOfTheTopLevelAsReasons) {
  PeAnalysis pe;
  pe.isPe = true;
  pe.findings = {{ThreatLevel::Medium, "PE.HIGH_ENTROPY", "A", "a"},
                 {ThreatLevel::Low, "PE.LARGE_OVERLAY", "B", "b"},
                 {ThreatLevel::Medium, "PE.NO_IMPORTS", "C", "c"}};
  FileVerdict v = rules(L"C:\\a\\b.exe", pe);
  EXPECT_EQ(v.level, ThreatLevel::Medium);
  EXPECT_EQ(v.reasons, (std::vector<std::string>{"A", "C"}));
  EXPECT_TRUE(countsAsSuspicious(v));
  EXPECT_FALSE(countsAsThreat(v));

  pe.findings = {{ThreatLevel::Low, "PE.FUTURE_TIMESTAMP", "T", "t"}};
  v = rules(L"C:\\a\\b.exe", pe);
  EXPECT_EQ(v.level, ThreatLevel::Low);
  EXPECT_TRUE(v.reasons.empty());  // below medium: no reasons

  // A file rule's reason stands alone; the PE titles are not added.
  pe.findings = {{ThreatLevel::Critical, "PE.X", "X", "x"}};
  v = rules(L"C:\\Users\\a\\Downloads\\b.exe", pe);
  EXPECT_EQ(v.level, ThreatLevel::Critical);
  EXPECT_EQ(v.reasons, std::vector<std::string>{"Исполняемый файл из папки загрузок"});
  EXPECT_EQ(codes(v), (std::vector<std::string>{"PE.X", "FS.DOWNLOADED_EXE"}));
}

TEST(FileVerdictTest, PackedFromPackerSectionOrWritableExecutableCode) {
  PeAnalysis pe;
  pe.isPe = true;
  pe.sections.push_back({});
  pe.sections.back().name = "UPX1";
  EXPECT_TRUE(rules(L"a.exe", pe).packed);
  pe.sections.back().name = ".text";
  EXPECT_FALSE(rules(L"a.exe", pe).packed);
  pe.rwxLowEntropy = true;
  EXPECT_TRUE(rules(L"a.exe", pe).packed);
}

class EvaluateFileTest : public ::testing::Test {
 protected:
  std::wstring write(const std::wstring& name, const std::string& bytes) {
    return dir_.write(name, bytes);
  }
  test::TempDir dir_;
};

TEST_F(EvaluateFileTest, EmptyMissingAndOversizedFiles) {
  const EvaluationOptions options = limits(100, 4096);
  const FileVerdict empty = evaluateFile(write(L"svchost.exe", ""), nullptr, options);
  EXPECT_EQ(empty.level, ThreatLevel::Clean);
  EXPECT_TRUE(empty.md5.empty());
  EXPECT_TRUE(empty.findings.empty());
  EXPECT_TRUE(empty.reasons.empty());
  EXPECT_EQ(empty.fileName, L"svchost.exe");
  EXPECT_NE(empty.modified, 0u);

  // A file that vanished was not judged, and the verdict says so.
  const FileVerdict missing = evaluateFile(dir_.file(L"gone.exe"), nullptr, options);
  EXPECT_EQ(missing.size, 0u);
  EXPECT_EQ(missing.level, ThreatLevel::Clean);
  EXPECT_TRUE(missing.sha256.empty());
  EXPECT_TRUE(countsAsUnreadable(missing));
  ASSERT_EQ(missing.reasons.size(), 1u);
  EXPECT_EQ(missing.reasons[0], kNotScannedReason + missing.readError);

  EXPECT_TRUE(evaluateFile(write(L"limit.exe", std::string(100, 'a')), nullptr, options)
                  .reasons.empty());
  const FileVerdict big = evaluateFile(write(L"svchost.exe", std::string(101, 'a')), nullptr, options);
  EXPECT_EQ(big.size, 101u);
  EXPECT_EQ(big.level, ThreatLevel::Clean);
  EXPECT_TRUE(big.md5.empty());
  EXPECT_TRUE(big.findings.empty());
  EXPECT_EQ(big.reasons, std::vector<std::string>{"Файл пропущен: превышен лимит размера"});
}

TEST_F(EvaluateFileTest, AFileThatChangesWhileReadIsJudgedAsItWasWhenOpened) {
  const std::string first = "MZ" + std::string(5000, 'a');
  const std::wstring path = write(L"grows.exe", first);
  const std::string firstSha = hash::sha256File(path, 4096);
  struct Case {
    const char* what;
    uint64_t newSize;
  };
  const std::vector<Case> cases = {
      {"appended", first.size() + (1 << 20)},
      {"grown far beyond the size limit", uint64_t{1} << 40},
      {"cut short", 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::writeFile(path, first);
    EvaluationOptions options = limits(1 << 20, 4096);
    std::error_code changed;
    options.opened = [&] { std::filesystem::resize_file(toPath(path), c.newSize, changed); };
    const FileVerdict v = evaluateFile(path, nullptr, options);
    EXPECT_EQ(v.size, first.size());
    EXPECT_FALSE(countsAsUnreadable(v));
    if (changed) {
      // Windows keeps writers out while the file is read: what was read is what it holds.
      EXPECT_TRUE(v.reasons.empty() || v.reasons.back() != kChangedReason);
      EXPECT_EQ(v.sha256, firstSha);
      continue;
    }
    ASSERT_FALSE(v.reasons.empty());
    EXPECT_EQ(v.reasons.back(), kChangedReason);
    // Grown: only the bytes it had at the start were read.
    if (c.newSize > first.size()) {
      EXPECT_EQ(v.sha256, firstSha);
    }
  }
  std::filesystem::resize_file(toPath(path), 0);
}

TEST_F(EvaluateFileTest, ACancelEndsTheReadingOfAFile) {
  const std::wstring path = write(L"big.exe", std::string(1 << 20, 'x'));
  std::atomic<bool> cancel{false};
  EvaluationOptions options = limits(1 << 30, 4096, &cancel);
  options.opened = [&] { cancel.store(true); };
  const FileVerdict v = evaluateFile(path, nullptr, options);
  EXPECT_EQ(v.readError, kCancelledRead);
  EXPECT_TRUE(v.sha256.empty());
  EXPECT_EQ(v.level, ThreatLevel::Clean);
}

TEST_F(EvaluateFileTest, OnlyRegularFilesAreRead) {
  // A folder named like a program: not a file, so not judged.
  std::filesystem::create_directories(dir_.path() / "folder.exe");
  const FileVerdict v = evaluateFile(dir_.file(L"folder.exe"), nullptr, {});
  EXPECT_TRUE(countsAsUnreadable(v));
  Folder folder;
  ASSERT_TRUE(folder.open(pathToWide(dir_.path()), Links::Follow, Folder::Purpose::List));
  EXPECT_TRUE(countsAsUnreadable(
      evaluateFileIn(folder, L"folder.exe", dir_.file(L"folder.exe"), nullptr, {})));
  EXPECT_TRUE(countsAsUnreadable(
      evaluateFileIn(folder, L"missing.exe", dir_.file(L"missing.exe"), nullptr, {})));
}

TEST_F(EvaluateFileTest, ModifiedTimeIsAFiletime) {
  const std::wstring path = write(L"a.exe", "x");
  const FileVerdict v = evaluateFile(path, nullptr, {});
  // 2020-01-01 and 2100-01-01 in FILETIME units.
  EXPECT_GT(v.modified, 132223104000000000ull);
  EXPECT_LT(v.modified, 157469184000000000ull);
}

// The single read must give what separate reads for each step give, whatever the chunking.
TEST_F(EvaluateFileTest, OnePassMatchesSeparateReads) {
  const std::string pe = test::PeBuilder()
                             .section(".text", test::kCode, test::randomBytes(5000, 1))
                             .section("UPX1", test::kData, test::randomBytes(3000, 2))
                             .import("kernel32.dll", {"VirtualAllocEx", "WriteProcessMemory",
                                                      "CreateRemoteThread"})
                             .overlay(test::randomBytes(20000, 3))
                             .build();
  struct Case {
    const wchar_t* name;
    std::string bytes;
    uint64_t chunk;
  };
  const std::vector<Case> cases = {
      {L"one-chunk.exe", pe, 1 << 20},
      {L"many-chunks.exe", pe, 4096},
      {L"odd-chunks.dll", pe, 1000},
      {L"tiny-chunks.dll", pe, 1},
      {L"short.exe", pe.substr(0, 100), 7},
      {L"not-pe.exe", test::randomBytes(9000, 4), 4096},
      {L"mz-only.exe", "MZ" + test::randomBytes(9000, 5), 4096},
      {L"one-byte.exe", "M", 4096},
  };
  SignatureDatabase db;
  db.parse(hash::sha256File(write(L"probe", pe), 4096) + ":Win.Test.Pe:Test\n", "test");
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    const std::wstring path = write(c.name, c.bytes);
    const FileVerdict v = evaluateFile(path, &db, limits(1 << 30, c.chunk));
    const auto now = static_cast<int64_t>(std::time(nullptr));
    const std::string md5 = hash::md5File(path, 4096);
    const std::string sha1 = hash::sha1File(path, 4096);
    const std::string sha256 = hash::sha256File(path, 4096);
    SignatureMatch match;
    const bool in = db.lookup(md5, sha1, sha256, &match);
    const FileVerdict ref = buildVerdict(path, c.bytes.size(), v.modified, md5, sha1, sha256,
                                         analyzePeFile(path, kPeReadLimit, now), in, match);
    EXPECT_EQ(v.md5, ref.md5);
    EXPECT_EQ(v.sha1, ref.sha1);
    EXPECT_EQ(v.sha256, ref.sha256);
    EXPECT_EQ(v.isPe, ref.isPe);
    EXPECT_EQ(v.packed, ref.packed);
    EXPECT_EQ(v.entropy, ref.entropy);
    EXPECT_EQ(v.maxSectionEntropy, ref.maxSectionEntropy);
    EXPECT_EQ(v.sectionCount, ref.sectionCount);
    EXPECT_EQ(v.importCount, ref.importCount);
    EXPECT_EQ(v.inDatabase, ref.inDatabase);
    EXPECT_EQ(v.signatureName, ref.signatureName);
    EXPECT_EQ(codes(v), codes(ref));
    EXPECT_EQ(v.level, ref.level);
    EXPECT_EQ(v.reasons, ref.reasons);
  }
  // The full image is a packed PE with injection imports and is in the database.
  const FileVerdict v = evaluateFile(dir_.file(L"many-chunks.exe"), &db, limits(1 << 30, 4096));
  EXPECT_TRUE(v.isPe);
  EXPECT_TRUE(v.packed);
  EXPECT_TRUE(v.inDatabase);
  EXPECT_EQ(v.findings.front().code, "SIG.MATCH");
}

}  // namespace
}  // namespace zorvek
