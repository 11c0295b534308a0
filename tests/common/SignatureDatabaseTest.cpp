#include "common/SignatureDatabase.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Text.h"

namespace zorvek {
namespace {

const std::string kSha256(64, 'a');
const std::string kSha1(40, 'b');
const std::string kMd5(32, 'c');

SignatureMatch find(const SignatureDatabase& db, const std::string& digest) {
  SignatureMatch m;
  EXPECT_TRUE(db.lookup("", "", digest, &m)) << digest;
  return m;
}

TEST(SignatureDatabaseTest, BareDigestsGetTheGenericRecord) {
  SignatureDatabase db;
  db.parse(kSha256 + "\n" + kSha1 + "\r\n" + kMd5, "src");
  EXPECT_EQ(db.info().count, 3u);
  for (const auto& d : {kSha256, kSha1, kMd5}) {
    const auto m = find(db, d);
    EXPECT_EQ(m.name, "Win.Trojan.Generic");
    EXPECT_EQ(m.family, "Win.Trojan.Generic");
    EXPECT_EQ(m.level, ThreatLevel::High);
    EXPECT_EQ(m.reference, "");
    EXPECT_EQ(m.hash, d);
  }
}

TEST(SignatureDatabaseTest, DigestsAreCaseInsensitive) {
  SignatureDatabase db;
  db.parse(std::string(64, 'A') + ":Up\n", "");
  SignatureMatch m;
  ASSERT_TRUE(db.lookup("", "", std::string(64, 'a'), &m));
  EXPECT_EQ(m.hash, std::string(64, 'a'));
  EXPECT_TRUE(db.lookup("", "", std::string(64, 'A'), nullptr));
}

TEST(SignatureDatabaseTest, InvalidDigestLinesAreSkipped) {
  SignatureDatabase db;
  db.parse(std::string(31, 'a') + "\n" + std::string(33, 'a') + "\n" + kSha256 + " :x\n" +
               std::string(63, 'a') + "g\n" + "VERSION\n" + "nonsense\n" + " " + kMd5 + "\n",
           "");
  EXPECT_EQ(db.info().count, 0u);
}

TEST(SignatureDatabaseTest, EveryHexDigitDecodesAndEveryOtherByteIsRefused) {
  // Digests are decoded 16 characters at a time: every position of every length matters.
  const std::string digits = "0123456789abcdefABCDEF";
  for (const size_t len : {size_t(32), size_t(40), size_t(64)}) {
    std::string digest;
    for (size_t i = 0; i < len; ++i) digest += digits[(i * 7 + len) % digits.size()];
    SignatureDatabase db;
    db.parse(digest + ":N\n", "");
    SignatureMatch m;
    ASSERT_TRUE(db.lookup(digest, digest, digest, &m)) << digest;
    EXPECT_EQ(m.hash, asciiLower(digest));
    for (const char bad : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\x80', '\xC6', '\xE6'}) {
      for (size_t pos = 0; pos < len; ++pos) {
        std::string wrong = digest;
        wrong[pos] = bad;
        if (bad != ':') {  // a ":" ends the digest field instead
          SignatureDatabase other;
          other.parse(std::string(wrong) + "\n", "");
          ASSERT_EQ(other.info().count, 0u) << len << " " << pos << " " << int(bad);
        }
        ASSERT_FALSE(db.lookup("", "", wrong, nullptr)) << len << " " << pos << " " << int(bad);
      }
    }
  }
}

TEST(SignatureDatabaseTest, FieldFormsFollowTheFieldCount) {
  struct Case {
    const char* what;
    std::string line;
    const char* name;
    const char* family;
    ThreatLevel level;
    const char* reference;
  } cases[] = {
      {"md5 name SIGNATURE", kMd5 + ":Name:SIGNATURE", "Name", "Name", ThreatLevel::High, ""},
      {"md5 name", kMd5 + ":Name", "Name", "Name", ThreatLevel::High, ""},
      {"md5 name empty family", kMd5 + ":Name::x", "Name", "", ThreatLevel::High, ""},
      {"empty name", kSha1 + "::Fam", "", "Fam", ThreatLevel::High, ""},
      {"trailing separator", kSha1 + ":N:", "N", "N", ThreatLevel::High, ""},
      {"digest and separator", kSha1 + ":", "Win.Trojan.Generic", "Win.Trojan.Generic", ThreatLevel::High, ""},
      {"five fields", kSha256 + ":x:Fam:critical:Name", "x", "Fam", ThreatLevel::High, ""},
      {"long form", kSha256 + ":x:Fam:critical:Name:ref", "Name", "Fam", ThreatLevel::Critical, "ref"},
      {"long form sha1", kSha1 + ":x:Fam:LOW:Name:ref", "Name", "Fam", ThreatLevel::Low, "ref"},
      {"unknown level word", kSha256 + ":x:Fam:Severe:Name:ref", "Name", "Fam", ThreatLevel::Clean, "ref"},
      {"long form after md5", kMd5 + ":x:Fam:critical:Name:ref", "x", "Fam", ThreatLevel::High, ""},
      {"reference keeps its colons", kSha256 + ":x:F:medium:N:https://example.org/a:b",
       "N", "F", ThreatLevel::Medium, "https://example.org/a:b"},
      {"one trailing colon of a reference dropped", kSha256 + ":x:F:high:N:https://e.org/::",
       "N", "F", ThreatLevel::High, "https://e.org/:"},
      {"empty sixth field", kSha256 + ":x:F:high:N::", "N", "F", ThreatLevel::High, ""},
      {"spaces are text", kSha256 + ": x : F : high : N : r", " N ", " F ", ThreatLevel::Clean, " r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SignatureDatabase db;
    db.parse(c.line + "\n", "");
    const std::string digest = c.line.substr(0, c.line.find(':'));
    const auto m = find(db, digest);
    EXPECT_EQ(m.name, c.name);
    EXPECT_EQ(m.family, c.family);
    EXPECT_EQ(m.level, c.level);
    EXPECT_EQ(m.reference, c.reference);
  }
}

TEST(SignatureDatabaseTest, HeaderLines) {
  SignatureDatabase db;
  db.parse("ZORVEKDB/7 anything\n# c\nVERSION 1 2 3\nVERSION last one\nGENERATED  42abc\nSIZE 99\n" +
               kMd5 + "\n",
           "first");
  auto info = db.info();
  EXPECT_EQ(info.count, 1u);
  EXPECT_EQ(info.version, "last one");
  EXPECT_EQ(info.generated, 42u);
  EXPECT_EQ(info.source, "first");

  // An empty version, a generated value without digits and an empty source change nothing.
  db.parse("VERSION \nGENERATED letters\n", "");
  info = db.info();
  EXPECT_EQ(info.version, "last one");
  EXPECT_EQ(info.generated, 42u);
  EXPECT_EQ(info.source, "first");

  db.parse("GENERATED 99999999999999999999999\n", "");
  EXPECT_EQ(db.info().generated, UINT64_MAX);
}

TEST(SignatureDatabaseTest, FirstLineWinsWithinOneText) {
  SignatureDatabase db;
  db.parse(kSha256 + ":First\n" + kSha256 + ":x:Fam:low:Second:ref\n", "");
  EXPECT_EQ(db.info().count, 1u);
  EXPECT_EQ(find(db, kSha256).name, "First");
}

TEST(SignatureDatabaseTest, LaterTextsReplaceOnlyByTheMergeRules) {
  struct Case {
    const char* what;
    std::string first, second;
    const char* expectName;
  } cases[] = {
      {"generic name upgraded", kSha256, kSha256 + ":Named", "Named"},
      {"named entry kept", kSha256 + ":Named:Fam", kSha256 + ":Other:Fam2", "Named"},
      {"missing reference supplied", kSha256 + ":Named:Fam", kSha256 + ":x:Fam:low:Other:ref", "Other"},
      {"missing family supplied", kSha256 + ":Named:", kSha256 + ":Other:Fam", "Named"},
      {"empty family supplied", kSha256 + ":Named::z", kSha256 + ":Other:Fam", "Other"},
      {"generic never replaces generic", kSha256 + ":x:F:low:Win.Trojan.Generic:r", kSha256 + ":x:G:high:Win.Trojan.Generic:s",
       "Win.Trojan.Generic"},
  };
  // Padding makes either text the larger one: the smaller table is merged into the larger.
  std::string padding;
  for (int i = 0; i < 300; ++i) {
    char digest[65];
    std::snprintf(digest, sizeof digest, "%064x", i + 1);
    padding += std::string(digest) + ":Pad\n";
  }
  for (const auto& c : cases) {
    for (int larger = 0; larger < 3; ++larger) {
      SCOPED_TRACE(std::string(c.what) + (larger == 1 ? ", first larger" : larger == 2 ? ", second larger" : ""));
      SignatureDatabase db;
      db.parse(c.first + "\n" + (larger == 1 ? padding : ""), "a");
      db.parse(c.second + "\n" + kSha1 + "\n" + (larger == 2 ? padding : ""), "b");
      EXPECT_EQ(db.info().count, larger ? 302u : 2u);
      EXPECT_EQ(find(db, kSha256).name, c.expectName);
      EXPECT_EQ(find(db, kSha1).name, kGenericSignatureName);
      if (larger) {
        EXPECT_EQ(find(db, std::string(63, '0') + "1").name, "Pad");
      }
    }
  }
  // The replacing entry brings all its fields, level included.
  SignatureDatabase db;
  db.parse(kSha256 + "\n", "");
  db.parse(kSha256 + ":x:Fam:low:Name:ref\n", "");
  const auto m = find(db, kSha256);
  EXPECT_EQ(m.level, ThreatLevel::Low);
  EXPECT_EQ(m.reference, "ref");
}

TEST(SignatureDatabaseTest, MergingSmallAndLargeTextsKeepsEveryDigest) {
  auto digest = [](int n) {
    const auto i = static_cast<unsigned>(n);
    char text[65];
    std::snprintf(text, sizeof text, "%016x%016x%016x%016x", i * 2654435761u, i, i * 40503u, ~i);
    return std::string(text);
  };
  std::string large, small;
  for (int i = 0; i < 5000; ++i) large += digest(i) + "\n";
  for (int i = 5000; i < 5040; ++i) small += digest(i) + ":New\n";
  small += digest(7) + ":Named\n";  // already held: the merge rules decide
  for (int order = 0; order < 2; ++order) {
    SCOPED_TRACE(order == 0 ? "small after large" : "large after small");
    SignatureDatabase db;
    db.parse(order == 0 ? large : small, "");
    db.parse(order == 0 ? small : large, "");
    EXPECT_EQ(db.info().count, 5040u);
    for (int i = 0; i < 5040; ++i) {
      ASSERT_TRUE(db.lookup("", "", digest(i))) << i;
    }
    EXPECT_EQ(find(db, digest(7)).name, "Named");
    EXPECT_EQ(find(db, digest(5001)).name, "New");
    for (int i = 5040; i < 6000; ++i) EXPECT_FALSE(db.lookup("", "", digest(i))) << i;
  }
}

TEST(SignatureDatabaseTest, LookupOrderAndEmptiedMatch) {
  SignatureDatabase db;
  SignatureMatch m;
  m.name = "stale";
  m.level = ThreatLevel::Low;
  EXPECT_FALSE(db.lookup(kMd5, kSha1, kSha256, &m));
  EXPECT_EQ(m.name, "");
  EXPECT_EQ(m.level, ThreatLevel::High);

  db.parse(kMd5 + ":M\n" + kSha1 + ":S1\n" + kSha256 + ":S256\n", "");
  EXPECT_TRUE(db.lookup(kMd5, kSha1, kSha256, &m));
  EXPECT_EQ(m.name, "S256");
  EXPECT_TRUE(db.lookup(kMd5, kSha1, "", &m));
  EXPECT_EQ(m.name, "S1");
  EXPECT_TRUE(db.lookup(kMd5, std::string(40, 'f'), std::string(64, 'f'), &m));
  EXPECT_EQ(m.name, "M");
  m.name = "stale";
  EXPECT_FALSE(db.lookup("", "", "", &m));
  EXPECT_EQ(m.name, "");
  // Slots are not checked against the digest kind.
  EXPECT_TRUE(db.lookup("", "", kMd5, &m));
  EXPECT_EQ(m.name, "M");
  EXPECT_FALSE(db.lookup("", "", kMd5 + "0", &m));
}

TEST(SignatureDatabaseTest, SerializeSortsAndWritesTheShortForm) {
  SignatureDatabase empty;
  EXPECT_EQ(empty.serialize(),
            "# Zorvek Antivirus signature database\nZORVEKDB/1\nVERSION 0\nGENERATED 0\nSIZE 0\n");

  SignatureDatabase db;
  const std::string sha256 = "0" + std::string(63, 'f');
  const std::string md5 = std::string(32, '0');
  const std::string sha1 = "0" + std::string(39, '0');  // same prefix as md5: the shorter first
  db.parse("VERSION v9\nGENERATED 7\n" + kSha256 + ":x:Fam:low:Name:ref\n" + sha256 + ":N::\n" +
               sha1 + "\n" + md5 + ":M:SIGNATURE\n",
           "");
  EXPECT_EQ(db.serialize(),
            "# Zorvek Antivirus signature database\nZORVEKDB/1\nVERSION v9\nGENERATED 7\nSIZE 4\n" +
                md5 + ":M:M\n" + sha1 + ":Win.Trojan.Generic:Win.Trojan.Generic\n" + sha256 + ":N:N\n" +
                kSha256 + ":Name:Fam\n");
}

TEST(SignatureDatabaseTest, SerializedTextReadsBackToTheSameDatabase) {
  SignatureDatabase db;
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    char buf[65];
    std::snprintf(buf, sizeof buf, "%064x", i * 7919);
    text += std::string(buf) + ":N" + std::to_string(i % 5) + ":F\n";
    text += std::string(buf).substr(24) + "\n";
  }
  db.parse(text, "");
  EXPECT_EQ(db.info().count, 6000u);
  SignatureDatabase again;
  again.parse(db.serialize(), "");
  EXPECT_EQ(again.serialize(), db.serialize());
}

TEST(SignatureDatabaseTest, LoadMatchesParseAcrossChunkBoundaries) {
  test::TempDir dir;
  // Lines straddle the loader's read chunks, one line is longer than several chunks, and the
  // last line has no LF. The file is large enough to be parsed by two threads and its table
  // large enough to be faulted in by a third.
  std::string text = "VERSION big\n";
  const std::string longReference = "https://" + std::string(3 << 20, 'r');
  for (int i = 0; i < 40000; ++i) {
    char buf[65];
    std::snprintf(buf, sizeof buf, "%064x", i);
    text += std::string(buf) + (i % 3 ? ":x:F:low:Name" + std::to_string(i) + ":r\r\n" : "\n");
    if (i == 20000) text += kSha256 + ":x:F:low:Long:" + longReference + "\n";
  }
  // Large files are read in two halves at once: the second half repeats digests of the first
  // (the first line still wins) and holds the last VERSION and GENERATED lines.
  text += "VERSION second\nGENERATED 77\n";
  text += std::string(63, '0') + "1:Dup\n" + std::string(63, '0') + "0:Dup\n";
  text += kMd5;
  const std::wstring path = dir.file(L"база.txt");
  test::writeFile(path, text);
  SignatureDatabase loaded, parsed;
  std::string error;
  ASSERT_TRUE(loaded.load(path, &error)) << error;
  parsed.parse(text, "");
  EXPECT_EQ(loaded.info().count, 40002u);
  EXPECT_EQ(loaded.serialize(), parsed.serialize());
  EXPECT_EQ(loaded.info().version, "second");
  EXPECT_EQ(loaded.info().generated, 77u);
  SignatureMatch first;
  ASSERT_TRUE(loaded.lookup("", "", std::string(63, '0') + "1", &first));
  EXPECT_EQ(first.name, "Name1");
  EXPECT_EQ(loaded.info().source, toUtf8(path));
  EXPECT_TRUE(loaded.lookup(kMd5, "", "", nullptr));
  SignatureMatch m;
  ASSERT_TRUE(loaded.lookup("", "", kSha256, &m));
  EXPECT_EQ(m.reference, longReference);
}

TEST(SignatureDatabaseTest, LoadFailures) {
  test::TempDir dir;
  SignatureDatabase db;
  std::string error;
  const std::wstring missing = dir.file(L"нет.txt");
  EXPECT_FALSE(db.load(missing, &error));
  EXPECT_EQ(error, "cannot open: " + toUtf8(missing));
  EXPECT_FALSE(db.load(pathToWide(dir.path()), &error)) << "a folder is not a database";
  EXPECT_EQ(db.info().source, "");
}

TEST(SignatureDatabaseTest, ServiceAssembly) {
  test::TempDir dir;
  const std::wstring mainDb = dir.file(L"main.txt"), live = dir.file(L"signatures.live.txt");
  std::wstring error;

  EXPECT_EQ(assembleServiceDatabase(mainDb, live, &error), nullptr);
  EXPECT_EQ(error, L"cannot open: " + toWide(toUtf8(mainDb)));

  test::writeFile(mainDb, "# nothing\n");
  EXPECT_EQ(assembleServiceDatabase(mainDb, live, &error), nullptr);
  EXPECT_EQ(error, L"database is empty");

  test::writeFile(live, kSha256 + "\n");
  auto db = assembleServiceDatabase(mainDb, live, &error);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(error, L"");
  EXPECT_EQ(db->info().source, toUtf8(live));

  // The seed's named entry stays; the live file only adds.
  test::writeFile(mainDb, kSha256 + ":Named:Fam\n");
  test::writeFile(live, kSha256 + "\n" + kSha1 + "\n");
  db = assembleServiceDatabase(mainDb, live, &error);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->info().count, 2u);
  EXPECT_EQ(find(*db, kSha256).name, "Named");
}

TEST(SignatureDatabaseTest, SeedDatabaseHoldsTheEicarForms) {
  SignatureDatabase db;
  std::string error;
  ASSERT_TRUE(db.load(test::sourcePath(L"data/signatures.seed.txt"), &error)) << error;
  EXPECT_EQ(db.info().count, 9u);
  SignatureMatch m;
  ASSERT_TRUE(db.lookup("", "", "275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f", &m));
  EXPECT_EQ(m.name, "EICAR-Test-File");
  EXPECT_EQ(m.family, "EICAR");
  EXPECT_EQ(m.level, ThreatLevel::High);
  EXPECT_EQ(m.reference, "https://www.eicar.org/download-anti-malware-testfile/");
}

}  // namespace
}  // namespace zorvek
