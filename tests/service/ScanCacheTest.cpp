#include "service/ScanCache.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/platform/File.h"

namespace zorvek::svc {
namespace {

TEST(ScanCacheTest, RecordingUpdatesByExactPathAndKeepsTheLevel) {
  ScanCache cache;
  cache.parse("C:\\a.exe|1|2|high\n");
  cache.record(L"C:\\a.exe", 10, 20);
  cache.record(L"C:\\A.EXE", 30, 40);  // another path: the comparison is case-sensitive
  cache.record(L"C:\\папка\\b.dll", 50, 60);
  EXPECT_EQ(cache.entries(),
            (std::vector<ScanCacheEntry>{{L"C:\\a.exe", 10, 20, ThreatLevel::High},
                                         {L"C:\\A.EXE", 30, 40, ThreatLevel::Clean},
                                         {L"C:\\папка\\b.dll", 50, 60, ThreatLevel::Clean}}));
  EXPECT_EQ(cache.serialize(),
            "C:\\a.exe|10|20|high\nC:\\A.EXE|30|40|clean\nC:\\папка\\b.dll|50|60|clean\n");
}

TEST(ScanCacheTest, ReadsLinesAtTheirFirstThreePipes) {
  const struct {
    const char* line;
    bool kept;
    ScanCacheEntry entry;
  } cases[] = {
      {"/x/a.exe|123|456|medium", true, {L"/x/a.exe", 123, 456, ThreatLevel::Medium}},
      {"a|b|c|d|e", true, {L"a", 0, 0, ThreatLevel::Clean}},
      {"a||7x|CRITICAL", true, {L"a", 0, 7, ThreatLevel::Critical}},
      {"|1|2|", true, {L"", 1, 2, ThreatLevel::Clean}},
      {"a|18446744073709551615|99999999999999999999|low", true,
       {L"a", 18446744073709551615ull, 18446744073709551615ull, ThreatLevel::Low}},
      {"a|1|2", false, {}},
      {"no pipes at all", false, {}},
      {"", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ScanCache cache;
    cache.parse(std::string(c.line) + "\n");
    if (!c.kept) {
      EXPECT_TRUE(cache.entries().empty());
      continue;
    }
    ASSERT_EQ(cache.entries().size(), 1u);
    EXPECT_EQ(cache.entries()[0], c.entry);
  }
}

TEST(ScanCacheTest, DuplicateLinesSurviveAndRecordingUpdatesTheFirst) {
  ScanCache cache;
  cache.parse("a|1|1|low\nbad line\na|2|2|high\nlast|3|3|clean");  // no final LF
  cache.record(L"a", 9, 9);
  EXPECT_EQ(cache.serialize(), "a|9|9|low\na|2|2|high\nlast|3|3|clean\n");
}

TEST(ScanCacheTest, LineBreaksInPathsCannotForgeEntries) {
  ScanCache cache;
  cache.record(L"/tmp/evil\nC:\\Windows\\x.exe|1|2|critical", 5, 6);
  ScanCache again;
  again.parse(cache.serialize());
  ASSERT_EQ(again.entries().size(), 1u);
}

TEST(ScanCacheTest, SavesAndLoadsTheFile) {
  zorvek::test::TempDir dir;
  const std::wstring path = dir.file(L"scan.cache");
  ScanCache cache;
  EXPECT_FALSE(cache.load(path));  // missing: empty
  EXPECT_TRUE(cache.entries().empty());
  cache.record(L"C:\\Загрузки\\setup.exe", 1024, 133000000000000000ull);
  ASSERT_TRUE(cache.save(path));
  EXPECT_EQ(zorvek::test::readFile(path), "C:\\Загрузки\\setup.exe|1024|133000000000000000|clean\n");
  ScanCache loaded;
  ASSERT_TRUE(loaded.load(path));
  EXPECT_EQ(loaded.entries(), cache.entries());
  // Rewritten whole: a smaller cache leaves nothing of the longer file behind.
  ScanCache empty;
  ASSERT_TRUE(empty.save(path));
  EXPECT_EQ(zorvek::test::readFile(path), "");
}

}  // namespace
}  // namespace zorvek::svc
