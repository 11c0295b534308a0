#include "service/engine/DetectionStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "common/Logger.h"
#include "common/Text.h"

namespace zorvek::svc {
namespace {

Finding finding(ThreatLevel level, const char* code) {
  return {level, code, std::string(code) + " title", std::string(code) + " detail"};
}

DetectionRecord record(const std::wstring& path, const std::string& name = "T") {
  DetectionRecord r;
  r.path = path;
  r.threatName = name;
  r.level = ThreatLevel::High;
  return r;
}

TEST(DetectionStoreTest, RecordNamesTheDecidingRule) {
  const struct {
    const char* what;
    bool inDatabase;
    std::string signatureName;
    std::vector<Finding> findings;
    std::vector<std::string> reasons;
    ThreatLevel level;
    std::string name, code;
  } cases[] = {
      {"signature name wins", true, "Sig.A", {finding(ThreatLevel::High, "SIG.MATCH")}, {},
       ThreatLevel::High, "Sig.A", "SIG.MATCH"},
      {"unnamed match: the rule's title", true, "", {finding(ThreatLevel::High, "SIG.MATCH")}, {},
       ThreatLevel::High, "SIG.MATCH title", "SIG.MATCH"},
      {"first finding at the verdict's level",
       false,
       "",
       {finding(ThreatLevel::Low, "PE.A"), finding(ThreatLevel::Medium, "PE.B"),
        finding(ThreatLevel::Medium, "PE.C")},
       {},
       ThreatLevel::Medium,
       "PE.B title",
       "PE.B"},
      {"none at the level: the first", false, "", {finding(ThreatLevel::Low, "PE.A")}, {},
       ThreatLevel::High, "PE.A title", "PE.A"},
      {"no finding: the first reason", false, "", {}, {"reason one", "reason two"},
       ThreatLevel::Medium, "reason one", ""},
      {"nothing at all", false, "", {}, {}, ThreatLevel::Clean, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileVerdict v;
    v.path = L"/x/файл.exe";
    v.sha256 = "ab";
    v.size = 42;
    v.inDatabase = c.inDatabase;
    v.signatureName = c.signatureName;
    v.findings = c.findings;
    v.reasons = c.reasons;
    v.level = c.level;
    const DetectionRecord r = detectionFromVerdict(v);
    EXPECT_EQ(r.threatName, c.name);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.detail, c.code.empty() ? "" : c.code + " detail");
    EXPECT_EQ(r.path, v.path);
    EXPECT_EQ(r.secondText, "ab");
    EXPECT_EQ(r.size, 42u);
    EXPECT_EQ(r.level, c.level);
  }
}

TEST(DetectionStoreTest, OnlyReportedPathsAreDecidable) {
  DetectionStore store;
  store.addScan(record(L"/a/scan.exe", "from scan"));
  store.addRealTime(record(L"/a/rt.exe"));
  // The same path in both lists: the scan's record answers.
  store.addRealTime(record(L"/a/scan.exe", "from real time"));

  const struct {
    std::wstring path;
    bool found;
    std::string name;
  } cases[] = {
      {L"/a/scan.exe", true, "from scan"}, {L"/a/rt.exe", true, "T"},
      {L"/a/scan.ex", false, ""},          {L"/a/scan.exe ", false, ""},
      {L"/A/SCAN.EXE", false, ""},         {L"", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(toUtf8(c.path));
    DetectionRecord r;
    std::string error;
    EXPECT_EQ(store.reported(c.path, r, &error), c.found);
    EXPECT_EQ(r.threatName, c.name);
    EXPECT_EQ(error, c.found ? "" : "no such detection");
  }

  // A decided real-time record is gone; scan records stay until the next scan.
  store.decided(L"/a/rt.exe");
  store.decided(L"/a/scan.exe");
  DetectionRecord r;
  EXPECT_FALSE(store.reported(L"/a/rt.exe", r));
  EXPECT_TRUE(store.reported(L"/a/scan.exe", r));
  store.clearScan();
  EXPECT_FALSE(store.reported(L"/a/scan.exe", r));
  EXPECT_TRUE(store.scanDetections().empty());
}

TEST(DetectionStoreTest, RealTimeDetectionsAreDeliveredOnceAndRedetectionReplacesTheRecord) {
  DetectionStore store;
  store.addRealTime(record(L"/a/x.exe", "first"));
  store.addRealTime(record(L"/a/y.exe"));
  // Reported again while waiting for a client: refreshed in place, not queued twice.
  store.addRealTime(record(L"/a/x.exe", "second"));
  const auto delivered = store.takeRealTime();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].path, L"/a/x.exe");
  EXPECT_EQ(delivered[0].threatName, "second");
  EXPECT_TRUE(store.takeRealTime().empty());
  // Delivered but undecided: still decidable, with the newest record only.
  DetectionRecord r;
  ASSERT_TRUE(store.reported(L"/a/x.exe", r));
  EXPECT_EQ(r.threatName, "second");
  // Detected again after delivery: a client hears of it once more.
  store.addRealTime(record(L"/a/x.exe", "third"));
  ASSERT_EQ(store.takeRealTime().size(), 1u);
  store.decided(L"/a/x.exe");
  EXPECT_FALSE(store.reported(L"/a/x.exe", r));
}

TEST(DetectionStoreTest, ScanListStopsAtItsLimitAndSaysSoOnce) {
  test::TempDir dir;
  const std::wstring log = dir.file(L"zorvek.log");
  Logger::instance().open(log);
  DetectionStore store;
  for (int scan = 0; scan < 2; ++scan) {
    store.clearScan();
    size_t kept = 0;
    for (size_t i = 0; i < kMaxScanDetections + 20; ++i)
      kept += store.addScan(record(L"/f/" + std::to_wstring(i)));
    EXPECT_EQ(kept, kMaxScanDetections);
    const auto list = store.scanDetections();
    ASSERT_EQ(list.size(), kMaxScanDetections);
    EXPECT_EQ(list.back().path, L"/f/" + std::to_wstring(kMaxScanDetections - 1));
  }
  Logger::instance().close();
  const std::string text = test::readFile(log);
  size_t warnings = 0;
  for (size_t at = text.find("[WRN] scan detections list full\n"); at != std::string::npos;
       at = text.find("[WRN] scan detections list full\n", at + 1))
    ++warnings;
  EXPECT_EQ(warnings, 2u);  // once per scan
}

TEST(DetectionStoreTest, UndeliveredRealTimeDetectionsWaitAheadOfNewerOnes) {
  DetectionStore store;
  for (const wchar_t* p : {L"/a", L"/b", L"/c"}) store.addRealTime(record(p));
  std::vector<DetectionRecord> taken = store.takeRealTime();
  ASSERT_EQ(taken.size(), 3u);
  store.addRealTime(record(L"/c", "again"));
  store.addRealTime(record(L"/d"));
  taken.erase(taken.begin());  // /a went out; /b and /c did not fit
  store.returnRealTime(std::move(taken));
  std::vector<std::wstring> paths;
  std::vector<std::string> names;
  for (const auto& r : store.takeRealTime()) {
    paths.push_back(r.path);
    names.push_back(r.threatName);
  }
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"/b", L"/c", L"/d"}));
  EXPECT_EQ(names, (std::vector<std::string>{"T", "again", "T"}));
  EXPECT_TRUE(store.takeRealTime().empty());
}

TEST(DetectionStoreTest, WaitingListHoldsAThousandAndDropsTheRest) {
  test::LogCapture log;
  DetectionStore store;
  for (size_t i = 0; i < kMaxRealTimeWaiting; ++i)
    ASSERT_TRUE(store.addRealTime(record(L"/f/" + std::to_wstring(i) + L".exe")));
  // Full: a new path is dropped and logged, but one already waiting is still refreshed.
  EXPECT_FALSE(store.addRealTime(record(L"/f/new.exe")));
  EXPECT_TRUE(store.addRealTime(record(L"/f/7.exe", "again")));
  EXPECT_TRUE(log.contains("[WRN] real-time: detection list full, dropped /f/new.exe"));
  DetectionRecord r;
  EXPECT_FALSE(store.reported(L"/f/new.exe", r));  // the user never heard of it

  auto delivered = store.takeRealTime();
  ASSERT_EQ(delivered.size(), kMaxRealTimeWaiting);
  EXPECT_EQ(delivered[7].threatName, "again");
  // Once a client took them, there is room again.
  EXPECT_TRUE(store.addRealTime(record(L"/f/new.exe")));
  EXPECT_EQ(store.takeRealTime().size(), 1u);
}

TEST(DetectionStoreTest, ConcurrentReportersAndClientsLoseNothing) {
  DetectionStore store;
  // Within the waiting list's bound, so nothing may be dropped whatever the timing.
  constexpr int kReporters = 4, kEach = 250;
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kReporters; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::wstring path = L"/rt/" + std::to_wstring(t) + L"/" + std::to_wstring(i);
        store.addRealTime(record(path));
        store.addScan(record(path));
      }
      ++done;
    });
  }
  size_t delivered = 0;
  DetectionRecord r;
  while (done.load() < kReporters) {
    delivered += store.takeRealTime().size();
    store.reported(L"/rt/0/0", r);
    store.scanDetections();
  }
  for (auto& t : threads) t.join();
  delivered += store.takeRealTime().size();
  EXPECT_EQ(delivered, size_t{kReporters} * kEach);
  EXPECT_EQ(store.scanDetections().size(), size_t{kReporters} * kEach);
}

}  // namespace
}  // namespace zorvek::svc
