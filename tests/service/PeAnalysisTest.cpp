#include "service/PeAnalysis.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "PeBuilder.h"
#include "TestUtil.h"
#include "common/Hash.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

using test::kCode;
using test::kData;
using test::kRwx;
using test::PeBuilder;

constexpr int64_t kNow = 1'700'000'000;

PeAnalysis analyze(const std::string& image, uint64_t fileSize = 0) {
  return analyzePe({reinterpret_cast<const uint8_t*>(image.data()), image.size()},
                   fileSize ? fileSize : image.size(), kNow);
}

// "<prefix><i>.dll", built by appending: GCC 12 warns falsely on "x" + std::string at -O3.
std::string numbered(const char* prefix, int i) {
  std::string s = prefix;
  s += std::to_string(i);
  s += ".dll";
  return s;
}

std::vector<std::string> codes(const PeAnalysis& pe) {
  std::vector<std::string> c;
  for (const auto& f : pe.findings) c.push_back(f.code);
  return c;
}

const Finding* find(const PeAnalysis& pe, const std::string& code) {
  for (const auto& f : pe.findings)
    if (f.code == code) return &f;
  return nullptr;
}

// A plain program: code, data and imports of two DLLs.
PeBuilder plainProgram() {
  PeBuilder b;
  b.section(".text", kCode, std::string(512, '\x90'))
      .section(".data", 0xC0000040, "hello world")
      .import("KERNEL32.dll", {"ExitProcess", "GetModuleHandleW"})
      .import("USER32.dll", {"MessageBoxW"});
  return b;
}

TEST(PeAnalysisTest, ReadsTheFactsOfPe32AndPe32Plus) {
  for (const bool pe64 : {false, true}) {
    SCOPED_TRACE(pe64 ? "PE32+" : "PE32");
    PeBuilder b = plainProgram();
    b.pe64(pe64).machine(pe64 ? 0x8664 : 0x14c).characteristics(0x2022).timeStamp(0x12345678);
    b.directory(2, 0x9000, 0x100).directory(5, 0xA000, 8).directory(6, 0xB000, 28);
    const PeAnalysis pe = analyze(b.build());
    ASSERT_TRUE(pe.isPe);
    EXPECT_TRUE(pe.isDll);
    EXPECT_EQ(pe.machine, pe64 ? 0x8664 : 0x14c);
    EXPECT_EQ(pe.characteristics, 0x2022);
    EXPECT_EQ(pe.timeDateStamp, 0x12345678u);
    EXPECT_TRUE(pe.hasImportDirectory);
    EXPECT_TRUE(pe.hasResourceDirectory);
    EXPECT_TRUE(pe.hasRelocDirectory);
    EXPECT_TRUE(pe.hasDebugDirectory);
    EXPECT_FALSE(pe.hasTlsDirectory);
    EXPECT_FALSE(pe.hasOverlay);
    ASSERT_EQ(pe.sectionCount, 3u);
    EXPECT_EQ(pe.sections[0].name, ".text");
    EXPECT_TRUE(pe.sections[0].executable);
    EXPECT_FALSE(pe.sections[0].writable);
    EXPECT_EQ(pe.sections[0].virtualAddress, 0x1000u);
    EXPECT_EQ(pe.sections[0].rawSize, 512u);
    EXPECT_EQ(pe.sections[0].entropy, 0.0);
    EXPECT_TRUE(pe.sections[1].writable);
    EXPECT_EQ(pe.sections[1].entropy, hash::byteEntropy("hello world", 11));
    EXPECT_EQ(pe.sections[2].name, ".idata");
    EXPECT_EQ(pe.imports, (std::vector<std::string>{"KERNEL32.dll!ExitProcess",
                                                    "KERNEL32.dll!GetModuleHandleW",
                                                    "USER32.dll!MessageBoxW"}));
    EXPECT_EQ(pe.importCount, 3u);
    EXPECT_TRUE(pe.findings.empty()) << testing::PrintToString(codes(pe));
  }
}

TEST(PeAnalysisTest, NonPeInputGivesTheEmptyResult) {
  const std::string good = plainProgram().build();
  auto patched = [&good](size_t off, uint64_t v, int bytes) {
    std::string s = good;
    test::putLe(s, off, v, bytes);
    return s;
  };
  const size_t pe = PeBuilder::kPeOffset;
  const struct {
    const char* what;
    std::string data;
  } cases[] = {
      {"83 bytes", good.substr(0, 83)},
      {"empty", ""},
      {"no MZ", patched(0, 'Z' | 'M' << 8, 2)},
      {"MZ without PE", patched(pe, 0, 4)},
      {"new-header offset 0", patched(0x3C, 0, 4)},
      {"new-header offset past the end", patched(0x3C, good.size() - 3, 4)},
      {"new-header offset near 2^32", patched(0x3C, 0xFFFFFFFE, 4)},
      {"bad optional-header magic", patched(pe + 24, 0x107, 2)},
      {"cut before the magic", good.substr(0, pe + 25)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const PeAnalysis r = analyze(c.data, c.data.size() + 100);
    EXPECT_FALSE(r.isPe);
    EXPECT_TRUE(r.sections.empty());
    EXPECT_TRUE(r.findings.empty());
    EXPECT_EQ(r.entropy, 0.0);
    EXPECT_FALSE(r.hasOverlay);
  }
  // Just the headers, cut right after the magic, are still a PE.
  EXPECT_TRUE(analyze(good.substr(0, pe + 26)).isPe);
}

TEST(PeAnalysisTest, TruncatedTablesKeepWhatWasRead) {
  PeBuilder b = plainProgram();
  const std::string image = b.build();
  // Cut inside the second section header: one section, no imports (their section is gone).
  const PeAnalysis pe = analyze(image.substr(0, b.sectionTableOffset() + 40 + 20), image.size());
  ASSERT_TRUE(pe.isPe);
  EXPECT_EQ(pe.sectionCount, 1u);
  EXPECT_EQ(pe.sections[0].entropy, 0.0);  // raw data lies beyond the bytes read
  EXPECT_EQ(pe.importCount, 0u);
  EXPECT_TRUE(pe.hasImportDirectory);
}

TEST(PeAnalysisTest, PackerSectionNames) {
  const struct {
    const char* what;
    std::vector<std::string> names;
    std::string packer;
  } cases[] = {
      {"UPX", {"UPX0", "UPX1"}, "UPX"},
      {"other case", {".text", ".THEMIDA"}, "Themida"},
      {"first in section order", {".text", ".vmp1", "UPX0"}, "VMProtect"},
      {".yP", {".yp"}, "Y0da"},
      {"BitArts", {"BITARTS"}, "BitArts"},
      {"none", {".text", ".upx", "UPX"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PeSection> secs;
    for (const auto& n : c.names) secs.push_back(PeSection{n});
    EXPECT_EQ(packerOf(secs), c.packer);
  }
}

TEST(PeAnalysisTest, UpxPackedProgramIsPackedNotHighEntropy) {
  PeBuilder b;
  b.pe64().machine(0x8664).section("UPX0", kRwx, "", 0x10000)
      .section("UPX1", kRwx, test::randomBytes(65536, 1))
      .import("KERNEL32.DLL", {"LoadLibraryA", "GetProcAddress"});
  const PeAnalysis pe = analyze(b.build());
  EXPECT_GT(pe.maxSectionEntropy, 7.9);
  EXPECT_FALSE(pe.rwxLowEntropy);  // UPX0 has no raw data
  ASSERT_EQ(codes(pe), (std::vector<std::string>{"PE.PACKED", "PE.INJECTION_APIS"}));
  EXPECT_EQ(pe.findings[0].level, ThreatLevel::High);
  EXPECT_EQ(pe.findings[0].title, "Файл упакован (UPX)");
  EXPECT_EQ(pe.findings[0].detail,
            "Упаковщик скрывает настоящий код: сигнатуры по хешу не работают, а содержимое "
            "раскрывается только при запуске");
}

TEST(PeAnalysisTest, HighEntropyThreshold) {
  const struct {
    double entropy;
    const char* detail;  // nullptr: no finding
  } cases[] = {
      {7.2, nullptr},
      {7.19, nullptr},
      {7.2000001, "Энтропия секции 7.200 из 8.0 — признак шифрования или упаковки"},
      {7.21, "Энтропия секции 7.210 из 8.0 — признак шифрования или упаковки"},
      {7.654321, "Энтропия секции 7.654 из 8.0 — признак шифрования или упаковки"},
      {8.0, "Энтропия секции 8.000 из 8.0 — признак шифрования или упаковки"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entropy);
    PeAnalysis pe;
    pe.isPe = true;
    pe.importCount = 1;
    pe.imports = {"a.dll!f"};
    pe.maxSectionEntropy = c.entropy;
    addPeFindings(pe, kNow);
    if (!c.detail) {
      EXPECT_TRUE(pe.findings.empty());
      continue;
    }
    ASSERT_EQ(pe.findings.size(), 1u);
    EXPECT_EQ(pe.findings[0].code, "PE.HIGH_ENTROPY");
    EXPECT_EQ(pe.findings[0].level, ThreatLevel::Medium);
    EXPECT_EQ(pe.findings[0].title, "Аномально высокая энтропия");
    EXPECT_EQ(pe.findings[0].detail, c.detail);
  }
}

TEST(PeAnalysisTest, SectionEntropyFromRealData) {
  PeBuilder b = plainProgram();
  b.section(".rsrc", kData, test::randomBytes(20000, 3));
  const PeAnalysis pe = analyze(b.build());
  const std::string data = test::randomBytes(20000, 3);
  EXPECT_EQ(pe.maxSectionEntropy, hash::byteEntropy(data.data(), data.size()));
  ASSERT_NE(find(pe, "PE.HIGH_ENTROPY"), nullptr);
}

TEST(PeAnalysisTest, WritableExecutableLowEntropySection) {
  const struct {
    const char* what;
    uint32_t flags;
    std::string data;
    bool rwx;
  } cases[] = {
      {"zeros, write+execute", kRwx, std::string(4096, '\0'), true},
      {"no raw data", kRwx, "", false},
      {"execute only", kCode, std::string(4096, '\0'), false},
      {"write only", 0xC0000040, std::string(4096, '\0'), false},
      {"random, write+execute", kRwx, test::randomBytes(4096, 9), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PeBuilder b = plainProgram();
    b.section(".x", c.flags, c.data, 0x2000);
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.rwxLowEntropy, c.rwx);
    const Finding* f = find(pe, "PE.RWX_SECTION");
    ASSERT_EQ(f != nullptr, c.rwx);
    if (f) {
      EXPECT_EQ(f->level, ThreatLevel::High);
      EXPECT_EQ(f->title, "Секция с правами на запись и выполнение");
    }
  }
}

TEST(PeAnalysisTest, ResourceOnlyDllHasNoImports) {
  PeBuilder b;
  b.characteristics(0x2102).section(".rsrc", kData, "resources").directory(2, 0x1000, 9);
  const PeAnalysis pe = analyze(b.build());
  EXPECT_TRUE(pe.isDll);
  EXPECT_TRUE(pe.hasResourceDirectory);
  EXPECT_FALSE(pe.hasImportDirectory);
  ASSERT_EQ(codes(pe), std::vector<std::string>{"PE.NO_IMPORTS"});
  EXPECT_EQ(pe.findings[0].level, ThreatLevel::Medium);
  EXPECT_EQ(pe.findings[0].title, "У исполняемого файла нет таблицы импортов");
}

TEST(PeAnalysisTest, WatchedImports) {
  const struct {
    const char* what;
    std::vector<std::string> functions;
    ThreatLevel level;
    const char* title;
    const char* detail;
  } cases[] = {
      {"loader functions", {"GetProcAddress", "ExitProcess", "LoadLibraryA"}, ThreatLevel::Medium,
       "Опасные системные вызовы", "Файл импортирует: GetProcAddress, LoadLibraryA"},
      {"with WriteProcessMemory", {"GetProcAddress", "LoadLibraryA", "WriteProcessMemory"},
       ThreatLevel::High, "Функции инъекции в чужой процесс",
       "Файл импортирует: GetProcAddress, LoadLibraryA, WriteProcessMemory"},
      {"seven watched, six shown",
       {"WinExec", "VirtualProtect", "LoadLibraryW", "IsDebuggerPresent", "CryptEncrypt",
        "WinExec", "CreateRemoteThread"},
       ThreatLevel::High, "Функции инъекции в чужой процесс",
       "Файл импортирует: WinExec, VirtualProtect, LoadLibraryW, IsDebuggerPresent, CryptEncrypt, "
       "WinExec"},
      {"case matters", {"getprocaddress", "LoadLibraryExA"}, ThreatLevel::Clean, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PeBuilder b;
    b.section(".text", kCode, "code").import("KERNEL32.dll", c.functions);
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.importCount, c.functions.size());
    const Finding* f = find(pe, "PE.INJECTION_APIS");
    ASSERT_EQ(f != nullptr, c.title != nullptr);
    if (!f) continue;
    EXPECT_EQ(f->level, c.level);
    EXPECT_EQ(f->title, c.title);
    EXPECT_EQ(f->detail, c.detail);
  }
}

TEST(PeAnalysisTest, ImportEntriesThatEndADllList) {
  const std::string longName(200, 'N');
  PeBuilder b;
  b.section(".text", kCode, "code")
      .import("A.dll", {"First", "#12", "AfterOrdinal"})
      .import("B.dll", {"Good", std::string("Bad\x7F", 4), "Never"})
      .import("C.dll", {std::string("Ctl\x1F", 4)})
      .import("D.dll", {"ViaAddressTable", longName}, false)
      .import("", {"Anonymous"});
  const PeAnalysis pe = analyze(b.build());
  EXPECT_EQ(pe.imports,
            (std::vector<std::string>{"A.dll!First", "B.dll!Good", "D.dll!ViaAddressTable",
                                      "D.dll!" + longName.substr(0, 127), "?!Anonymous"}));
}

TEST(PeAnalysisTest, ImportCaps) {
  {
    SCOPED_TRACE("256 descriptors");
    PeBuilder b;
    b.section(".text", kCode, "code");
    for (int i = 0; i < 300; ++i) b.import(numbered("d", i), {"F"});
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.importCount, 256u);
    EXPECT_EQ(pe.imports.back(), "d255.dll!F");
  }
  std::vector<std::string> many;
  for (int i = 0; i < 600; ++i) many.push_back("Fn" + std::to_string(i));
  {
    SCOPED_TRACE("512 per DLL");
    PeBuilder b;
    b.pe64().section(".text", kCode, "code").import("a.dll", many).import("b.dll", {"G"});
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.importCount, 513u);
    EXPECT_EQ(pe.imports[511], "a.dll!Fn511");
    EXPECT_EQ(pe.imports[512], "b.dll!G");
  }
  {
    SCOPED_TRACE("2000 in all");
    PeBuilder b;
    b.section(".text", kCode, "code");
    for (int i = 0; i < 5; ++i) b.import(numbered("m", i), many);
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.importCount, 2001u);
    EXPECT_EQ(pe.imports.back(), "m3.dll!Fn464");
  }
}

TEST(PeAnalysisTest, Overlay) {
  const struct {
    const char* what;
    size_t overlay;
    const char* detail;  // nullptr: no finding
  } cases[] = {
      {"none", 0, nullptr},
      {"one byte", 1, nullptr},
      {"exactly 1 MiB", 1048576, nullptr},
      {"1 MiB + 1", 1048577,
       "После PE осталось 1 МБ — типично для самораспаковывающихся установщиков и заражённых файлов"},
      {"3.5 MiB", 3670016,
       "После PE осталось 3 МБ — типично для самораспаковывающихся установщиков и заражённых файлов"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PeBuilder b = plainProgram();
    b.overlay(std::string(c.overlay, 'o'));
    const PeAnalysis pe = analyze(b.build());
    EXPECT_EQ(pe.hasOverlay, c.overlay > 0);
    EXPECT_EQ(pe.overlaySize, c.overlay);
    const Finding* f = find(pe, "PE.LARGE_OVERLAY");
    ASSERT_EQ(f != nullptr, c.detail != nullptr);
    if (f) {
      EXPECT_EQ(f->level, ThreatLevel::Low);
      EXPECT_EQ(f->title, "Большой блок данных в конце файла");
      EXPECT_EQ(f->detail, c.detail);
    }
  }
}

TEST(PeAnalysisTest, OverlayComesFromTheTrueFileSize) {
  const std::string image = plainProgram().build();
  const uint64_t trueSize = (64ull << 20) + 12345;
  const PeAnalysis pe = analyze(image, trueSize);
  EXPECT_TRUE(pe.hasOverlay);
  EXPECT_EQ(pe.overlaySize, trueSize - image.size());
  EXPECT_EQ(pe.entropy, hash::byteEntropy(image.data(), image.size()));
}

TEST(PeAnalysisTest, FutureTimestamp) {
  const struct {
    int64_t stamp;
    bool fires;
  } cases[] = {{kNow, false}, {kNow + 86400, false}, {kNow + 86401, true}, {0xFFFFFFFF, true},
               {0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stamp);
    PeBuilder b = plainProgram();
    b.timeStamp(static_cast<uint32_t>(c.stamp));
    const PeAnalysis pe = analyze(b.build());
    const Finding* f = find(pe, "PE.FUTURE_TIMESTAMP");
    ASSERT_EQ(f != nullptr, c.fires);
    if (f) {
      EXPECT_EQ(f->level, ThreatLevel::Low);
      EXPECT_EQ(f->title, "Дата сборки в будущем");
    }
  }
  PeAnalysis pe;
  pe.importCount = 1;
  pe.timeDateStamp = 0xFFFFFFFF;
  addPeFindings(pe, INT64_MAX);
  EXPECT_TRUE(pe.findings.empty());
  addPeFindings(pe, INT64_MIN);
  EXPECT_EQ(codes(pe), std::vector<std::string>{"PE.FUTURE_TIMESTAMP"});
}

TEST(PeAnalysisTest, RulesComeInTheirOrder) {
  PeBuilder b;
  b.timeStamp(0xF0000000)
      .section(".x", kRwx, std::string(64, '\0'))
      .section(".y", kData, test::randomBytes(8192, 4))
      .import("k.dll", {"CreateRemoteThread"})
      .overlay(std::string(2 << 20, 'z'));
  const PeAnalysis pe = analyze(b.build());
  EXPECT_EQ(codes(pe), (std::vector<std::string>{"PE.HIGH_ENTROPY", "PE.RWX_SECTION",
                                                  "PE.INJECTION_APIS", "PE.LARGE_OVERLAY",
                                                  "PE.FUTURE_TIMESTAMP"}));
}

TEST(PeAnalysisTest, HostileHeaderValuesStayInBounds) {
  const std::string good = plainProgram().build();
  PeBuilder b = plainProgram();
  const size_t table = b.sectionTableOffset();
  const size_t fh = PeBuilder::kPeOffset + 4;
  const struct {
    const char* what;
    size_t off;
    uint64_t value;
    int bytes;
  } cases[] = {
      {"65535 sections", fh + 2, 0xFFFF, 2},
      {"optional header size 0xFFFF", fh + 16, 0xFFFF, 2},
      {"raw pointer near 2^32", table + 20, 0xFFFFFFF0, 4},
      {"raw size near 2^32", table + 16, 0xFFFFFFFF, 4},
      {"virtual address near 2^32", table + 40 * 2 + 12, 0xFFFFFFF0, 4},
      {"virtual size near 2^32", table + 40 * 2 + 8, 0xFFFFFFFF, 4},
      {"import RVA near 2^32", b.optionalHeaderOffset() + 96 + 8, 0xFFFFFFF8, 4},
      {"import RVA 0", b.optionalHeaderOffset() + 96 + 8, 0, 4},
      {"directory count huge", b.optionalHeaderOffset() + 92, 0xFFFFFFFF, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string s = good;
    test::putLe(s, c.off, c.value, c.bytes);
    const PeAnalysis pe = analyze(s, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_TRUE(pe.isPe);
    EXPECT_LE(pe.sectionCount, 0xFFFFu);
  }
  // A section reaching past 2^32 ends the PE there: no 32-bit wrap into an overlay.
  std::string s = good;
  test::putLe(s, table + 20, 0xFFFFFFF0, 4);
  test::putLe(s, table + 16, 0x20, 4);
  const PeAnalysis pe = analyze(s, 0x100000000ull);
  EXPECT_FALSE(pe.hasOverlay);
}

TEST(PeAnalysisTest, ManySectionsOverTheSameDataGiveExactEntropies) {
  // Thousands of headers all covering the same large raw data: the analysis must stay linear and
  // still give each section the entropy of its own bytes.
  const std::string payload = test::randomBytes(1 << 20, 11) + std::string(300000, 'a');
  PeBuilder b;
  std::string image = b.build();  // headers only; the table goes right after them
  const int kSections = 1500;
  const size_t table = b.sectionTableOffset();
  const uint32_t rawPointer = static_cast<uint32_t>(table + 40 * kSections);
  image.resize(rawPointer, '\0');
  for (int i = 0; i < kSections; ++i) {
    const size_t h = table + 40 * static_cast<size_t>(i);
    image[h] = 's';
    test::putLe(image, h + 16, payload.size() - static_cast<size_t>(i) * 601, 4);
    test::putLe(image, h + 20, rawPointer + static_cast<uint32_t>(i) * 397, 4);
  }
  test::putLe(image, PeBuilder::kPeOffset + 4 + 2, kSections, 2);
  image += payload;
  const PeAnalysis pe = analyze(image);
  ASSERT_EQ(pe.sectionCount, static_cast<uint32_t>(kSections));
  for (int i = 0; i < kSections; i += 97) {
    SCOPED_TRACE(i);
    const size_t off = static_cast<size_t>(i) * 397, len = payload.size() - static_cast<size_t>(i) * 601;
    EXPECT_EQ(pe.sections[static_cast<size_t>(i)].entropy,
              hash::byteEntropy(image.data() + rawPointer + off, len));
  }
}

TEST(PeAnalysisTest, AnalysesFiles) {
  test::TempDir dir;
  PeBuilder b = plainProgram();
  b.overlay(std::string(3 << 20, 'x'));
  const std::string image = b.build();
  const std::wstring path = dir.file(L"prog.exe");
  test::writeFile(path, image);
  const PeAnalysis whole = analyzePeFile(path, kPeReadLimit, kNow);
  EXPECT_TRUE(whole.isPe);
  EXPECT_EQ(whole.importCount, 3u);
  EXPECT_EQ(whole.overlaySize, 3u << 20);
  // Reading only the headers and sections still sees the whole overlay.
  const PeAnalysis part = analyzePeFile(path, image.size() - (3u << 20), kNow);
  EXPECT_EQ(part.overlaySize, 3u << 20);
  EXPECT_EQ(part.imports, whole.imports);
  EXPECT_NE(part.entropy, whole.entropy);

  EXPECT_FALSE(analyzePeFile(dir.file(L"missing.exe"), kPeReadLimit, kNow).isPe);
  const std::wstring empty = dir.file(L"empty.exe");
  test::writeFile(empty, "");
  EXPECT_FALSE(analyzePeFile(empty, kPeReadLimit, kNow).isPe);
}

TEST(PeAnalysisTest, OurOwnWindowsProgram) {
  const std::wstring exe = test::sourcePath(L"build/win64/bin/sigutil.exe");
  if (!pathExists(exe)) GTEST_SKIP() << "no win64 build of sigutil.exe in this tree";
  const PeAnalysis pe = analyzePeFile(exe, kPeReadLimit, kNow);
  ASSERT_TRUE(pe.isPe);
  EXPECT_EQ(pe.machine, 0x8664);
  EXPECT_FALSE(pe.isDll);
  EXPECT_TRUE(pe.characteristics & 0x0002);  // executable image
  EXPECT_GE(pe.sectionCount, 4u);
  EXPECT_EQ(pe.sections[0].name, ".text");
  EXPECT_TRUE(pe.sections[0].executable);
  EXPECT_TRUE(pe.hasImportDirectory);
  EXPECT_GT(pe.importCount, 20u);
  bool kernel32 = false;
  for (const auto& imp : pe.imports) kernel32 |= imp.rfind("KERNEL32.dll!", 0) == 0;
  EXPECT_TRUE(kernel32);
  EXPECT_GT(pe.entropy, 4.0);
  EXPECT_LT(pe.maxSectionEntropy, 7.2);
  EXPECT_FALSE(pe.rwxLowEntropy);
  EXPECT_EQ(find(pe, "PE.PACKED"), nullptr);
  EXPECT_EQ(find(pe, "PE.NO_IMPORTS"), nullptr);
}

}  // namespace
}  // namespace zorvek
