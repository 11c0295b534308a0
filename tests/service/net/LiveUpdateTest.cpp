// The live signature update: feed parsing, the merged file, its failure texts and what a failed
// or concurrent run leaves on disk.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Process.h"
#include "service/net/LiveUpdate.h"
#include "tests/helper/HelperContent.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace zorvek::svc {
namespace {

constexpr uint64_t kMarch1At0030 = 1740789000;  // 2025-03-01 00:30:00 UTC

// A distinct, well-spread 64-digit digest per number (lower case).
std::string digest(uint32_t i) {
  char part[9];
  std::string out;
  for (uint32_t k = 0; k < 8; ++k) {
    std::snprintf(part, sizeof part, "%08x", (i + k * 0x9e3779b9u) * 2654435761u);
    out += part;
  }
  return out;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
  return s;
}

// The file the writer must produce for these digests at kMarch1At0030.
std::string expectedFile(const std::set<std::string>& digests, const char* version = "live-20250301",
                         uint64_t generated = kMarch1At0030) {
  std::string out = "# ZORVEK live signature database (auto-updated, do not edit)\nZORVEKDB/1\n";
  out += std::string("VERSION ") + version + "\nGENERATED " + std::to_string(generated) +
         "\nSIZE " + std::to_string(digests.size()) + "\n";
  for (const auto& d : digests) out += d + "\n";
  return out;
}

TEST(LiveFeedTest, ParsesOneLine) {
  const std::string d = digest(1);
  const struct {
    std::string line;
    bool ok;
  } cases[] = {
      {d, true},
      {" \t" + upper(d) + " Win.Trojan.Agent extra words", true},
      {d + "\tname", true},
      {d + "\r", true},
      {"\t" + d + "  \r\n", true},
      {d + "\r \t", true},
      {d + "\rX", false},                   // the token runs on past the CR
      {d.substr(1), false},                 // 63 characters
      {d + "0", false},                     // 65
      {d.substr(0, 63) + "g", false},       // not hex
      {"#" + d, false},                     // comment
      {"  # " + d, false},
      {d + ":Win.Trojan.Named", false},     // the token runs to a blank, so it is 65+ long
      {"", false},
      {" \t\r", false},
      {d.substr(0, 32) + " " + d.substr(32), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Sha256Digest parsed{};
    ASSERT_EQ(parseFeedLine(c.line, parsed), c.ok);
    if (!c.ok) continue;
    std::string hex;
    appendHex(hex, parsed.bytes, 32);
    EXPECT_EQ(hex, d);
  }
}

TEST(LiveFeedTest, VersionIsTheUtcDate) {
  const struct {
    uint64_t when;
    const char* version;
  } cases[] = {{kMarch1At0030, "live-20250301"},
               {1709251199, "live-20240229"},
               {946684800, "live-20000101"},
               {1767225599, "live-20251231"}};
  for (const auto& c : cases) EXPECT_EQ(liveDatabaseVersion(c.when), c.version) << c.when;
}

class LiveUpdateTest : public ::testing::Test {
 protected:
  struct Feed {
    bool ok;
    std::string bodyOrError;
  };

  LiveUpdateOptions options() {
    LiveUpdateOptions o;
    o.livePath = live_;
    o.builtInFeeds = {"https://feeds.test/part1.txt", "https://feeds.test/part2.txt",
                      "https://feeds.test/part3.txt"};
    o.fetch = [this](const std::string& url, std::string* body, std::string* error) {
      std::lock_guard<std::mutex> lock(mutex_);
      fetched_.push_back(url);
      const auto it = feeds_.find(url);
      if (it == feeds_.end()) return *error = "http status 404", false;
      if (!it->second.ok) return *error = it->second.bodyOrError, false;
      *body = it->second.bodyOrError;
      return true;
    };
    o.unixSeconds = [] { return kMarch1At0030; };
    return o;
  }
  void builtIn(int part, bool ok, std::string text) {
    feeds_["https://feeds.test/part" + std::to_string(part) + ".txt"] = {ok, std::move(text)};
  }
  bool run(const std::string& server = "", const LiveUpdateOptions* with = nullptr) {
    error_ = "stale";
    count_ = 0;
    return fetchLiveSignatures(server, &count_, &error_, with ? *with : options());
  }
  // No temporary is ever left behind, whatever the outcome.
  void TearDown() override { EXPECT_FALSE(pathExists(live_ + L".tmp")); }

  test::TempDir dir_;
  std::wstring live_ = dir_.file(L"signatures.live.txt");
  std::mutex mutex_;
  std::map<std::string, Feed> feeds_;
  std::vector<std::string> fetched_;
  std::string error_;
  uint64_t count_ = 0;
};

TEST_F(LiveUpdateTest, MergesFeedsIntoOneSortedFileOfDistinctDigests) {
  const std::string a = digest(10), b = digest(20), c = digest(30), d = digest(40);
  builtIn(1, true, "# list of the day\n  " + upper(a) + " Win.Trojan.X\n" + b + "\n" + b + "\n" +
                       "#" + c + "\nnot a digest\n\n");
  builtIn(2, true, b + "\r\n" + d + "\r\n");
  builtIn(3, true, a);  // no LF after the last line
  ASSERT_TRUE(run()) << error_;
  EXPECT_EQ(error_, "");
  EXPECT_EQ(count_, 3u);
  EXPECT_EQ(test::readFile(live_), expectedFile({a, b, d}));
}

TEST_F(LiveUpdateTest, FeedListFollowsTheServerSetting) {
  const struct {
    std::string server;
    std::vector<std::string> fetched;
  } cases[] = {
      {"", {"https://feeds.test/part1.txt", "https://feeds.test/part2.txt", "https://feeds.test/part3.txt"}},
      {"http://updates.test", {"http://updates.test/api/v1/signatures"}},
      {"http://updates.test///", {"http://updates.test/api/v1/signatures"}},
      {"https://updates.test/zorvek/", {"https://updates.test/zorvek/api/v1/signatures"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    fetched_.clear();
    run(c.server);
    EXPECT_EQ(fetched_, c.fetched);
  }
}

TEST_F(LiveUpdateTest, FailuresWriteNothingAndSayWhy) {
  const std::string good = digest(1) + "\n" + digest(2) + "\n";
  const struct {
    const char* what;
    std::string server;
    std::vector<Feed> feeds;  // the built-in parts, or the server's one answer
    const char* error;        // empty: success
  } cases[] = {
      {"two built-in feeds fail, one delivers", "",
       {{false, "http status 500"}, {true, good}, {false, "curl error 7: refused"}}, ""},
      {"every built-in feed fails", "",
       {{false, "http status 500"}, {false, "http status 502"}, {false, "curl error 7: refused"}},
       "all feeds unavailable"},
      {"the update server fails", "http://srv.test/", {{false, "http status 503"}}, "http status 503"},
      {"the update server sends an empty body", "http://srv.test", {{true, ""}},
       "feeds returned no hashes"},
      {"feeds hold no digest", "", {{true, "# nothing\n"}, {false, "x"}, {true, "abc\n"}},
       "feeds returned no hashes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    feeds_.clear();
    test::writeFile(live_, "previous database\n");
    if (c.server.empty()) {
      for (size_t i = 0; i < 3; ++i) builtIn(int(i) + 1, c.feeds[i].ok, c.feeds[i].bodyOrError);
    } else {
      feeds_["http://srv.test/api/v1/signatures"] = c.feeds[0];
    }
    const bool ok = run(c.server);
    EXPECT_EQ(ok, *c.error == 0);
    EXPECT_EQ(error_, c.error);
    if (ok) {
      EXPECT_EQ(test::readFile(live_), expectedFile({digest(1), digest(2)}));
    } else {
      EXPECT_EQ(test::readFile(live_), "previous database\n");
    }
  }
}

TEST_F(LiveUpdateTest, MoreDistinctDigestsThanTheBoundAbortTheRun) {
  LiveUpdateOptions o = options();
  o.maxDigests = 4;
  test::writeFile(live_, "previous database\n");
  // Duplicates do not count: four distinct digests are within the bound.
  builtIn(1, true, digest(1) + "\n" + digest(2) + "\n" + digest(1) + "\n");
  builtIn(2, true, digest(3) + "\n" + digest(4) + "\n" + digest(2) + "\n");
  builtIn(3, true, upper(digest(4)) + "\n");
  ASSERT_TRUE(run("", &o)) << error_;
  EXPECT_EQ(count_, 4u);

  builtIn(2, true, digest(3) + "\n" + digest(5) + "\n" + digest(4) + "\n");
  fetched_.clear();
  test::writeFile(live_, "previous database\n");
  EXPECT_FALSE(run("", &o));
  EXPECT_EQ(error_, "feed exceeds sane size, aborting");
  EXPECT_EQ(test::readFile(live_), "previous database\n");
  EXPECT_EQ(fetched_.size(), 2u) << "the run stops at the feed that crossed the bound";
}

TEST_F(LiveUpdateTest, WrittenFileReadsBackAsBareDigests) {
  std::set<std::string> digests;
  std::string body;
  for (uint32_t i = 0; i < 500; ++i) {
    digests.insert(digest(i));
    body += (i % 3 ? digest(i) : upper(digest(i))) + "\n";
  }
  feeds_["http://srv.test/api/v1/signatures"] = {true, body};
  ASSERT_TRUE(run("http://srv.test")) << error_;
  SignatureDatabase db;
  ASSERT_TRUE(db.load(live_));
  const SignatureDbInfo info = db.info();
  EXPECT_EQ(info.count, 500u);
  EXPECT_EQ(info.version, "live-20250301");
  EXPECT_EQ(info.generated, kMarch1At0030);
  for (const std::string& d : digests) {
    SignatureMatch match;
    ASSERT_TRUE(db.lookup("", "", d, &match)) << d;
    EXPECT_EQ(match.name, kGenericSignatureName);
    EXPECT_EQ(match.level, ThreatLevel::High);
  }
  EXPECT_FALSE(db.lookup("", "", digest(501)));
}

TEST_F(LiveUpdateTest, AFailedWriteKeepsTheOldDatabase) {
  std::string body;
  for (uint32_t i = 0; i < 20000; ++i) body += digest(i) + "\n";  // more than one write
  feeds_["http://srv.test/api/v1/signatures"] = {true, body};
  const std::string expectedError = "cannot write " + toUtf8(live_) + ".tmp";
  for (const uint64_t failAt : {uint64_t(0), uint64_t(1) << 20}) {
    SCOPED_TRACE(failAt);
    test::writeFile(live_, "previous database\n");
    LiveUpdateOptions o = options();
    bool failed = false;
    o.writeFault = [&](uint64_t offset) {
      failed = failed || offset >= failAt;
      return !failed;
    };
    EXPECT_FALSE(run("http://srv.test", &o));
    EXPECT_TRUE(failed);
    EXPECT_EQ(error_, expectedError);
    EXPECT_EQ(test::readFile(live_), "previous database\n");
  }
}

#ifndef _WIN32
// A real write failure: the file-size limit makes write(2) fail with EFBIG as a full disk fails
// with ENOSPC, after the temporary was created.
TEST_F(LiveUpdateTest, AWriteTheSystemRefusesKeepsTheOldDatabase) {
  std::string body;
  for (uint32_t i = 0; i < 2000; ++i) body += digest(i) + "\n";
  feeds_["http://srv.test/api/v1/signatures"] = {true, body};
  test::writeFile(live_, "previous database\n");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = run("http://srv.test");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error_, "cannot write " + toUtf8(live_) + ".tmp");
  EXPECT_EQ(test::readFile(live_), "previous database\n");
}
#endif

TEST_F(LiveUpdateTest, FileSystemRefusalsHaveTheirTexts) {
  feeds_["http://srv.test/api/v1/signatures"] = {true, digest(7) + "\n"};
  LiveUpdateOptions o = options();
  o.livePath = dir_.file(L"missing-folder") + pathSeparator() + L"signatures.live.txt";
  EXPECT_FALSE(run("http://srv.test", &o));
  EXPECT_EQ(error_, "cannot write " + toUtf8(o.livePath) + ".tmp");

  // A folder in the live database's place (with something in it) cannot be replaced by a file.
  o.livePath = dir_.file(L"occupied");
  ASSERT_TRUE(createDirectories(o.livePath + pathSeparator() + L"inside"));
  EXPECT_FALSE(run("http://srv.test", &o));
  EXPECT_EQ(error_.rfind("cannot replace live database, win32=", 0), 0u) << error_;
  EXPECT_NE(error_, "cannot replace live database, win32=0");
  EXPECT_FALSE(pathExists(o.livePath + L".tmp"));
}

TEST_F(LiveUpdateTest, ConcurrentRunsTakeTurnsAndLeaveOneCompleteFile) {
  std::string bodyA, bodyB;
  std::set<std::string> setA, setB;
  for (uint32_t i = 0; i < 30000; ++i) {
    bodyA += digest(i) + "\n";
    setA.insert(digest(i));
    bodyB += digest(i + 1000000) + "\n";
    setB.insert(digest(i + 1000000));
  }
  std::atomic<int> inside{0}, most{0};
  auto optionsFor = [&](const std::string& body) {
    LiveUpdateOptions o = options();
    o.fetch = [&, body](const std::string&, std::string* out, std::string*) {
      const int now = ++inside;
      most = std::max(most.load(), now);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      --inside;
      *out = body;
      return true;
    };
    return o;
  };
  const LiveUpdateOptions a = optionsFor(bodyA), b = optionsFor(bodyB);
  for (int round = 0; round < 3; ++round) {
    std::string errorA, errorB;
    std::thread first([&] { EXPECT_TRUE(fetchLiveSignatures("http://a.test", nullptr, &errorA, a)) << errorA; });
    std::thread second([&] { EXPECT_TRUE(fetchLiveSignatures("http://b.test", nullptr, &errorB, b)) << errorB; });
    first.join();
    second.join();
    const std::string text = test::readFile(live_);
    EXPECT_TRUE(text == expectedFile(setA) || text == expectedFile(setB));
  }
  EXPECT_EQ(most.load(), 1);
}

TEST_F(LiveUpdateTest, CancelKeepsTheOldDatabase) {
  builtIn(1, true, digest(1) + "\n");
  builtIn(2, true, digest(2) + "\n");
  builtIn(3, true, digest(3) + "\n");
  test::writeFile(live_, "previous database\n");
  LiveUpdateOptions o = options();
  o.cancelled = [this] { return fetched_.size() >= 2; };
  EXPECT_FALSE(run("", &o));
  EXPECT_EQ(error_, "live update cancelled");
  EXPECT_EQ(test::readFile(live_), "previous database\n");
}

TEST_F(LiveUpdateTest, FetchesTheUpdateServerOverHttp) {
  const std::string body = "# served\n" + digest(3) + "\n" + upper(digest(4)) + " Name\n";
  test::TestHttpServer server([&](const std::string& target) {
    return target == "/api/v1/signatures" ? test::HttpReply{200, body} : test::HttpReply{404, ""};
  });
  LiveUpdateOptions o = options();
  o.fetch = nullptr;  // the real client
  ASSERT_TRUE(run(server.url("//"), &o)) << error_;
  EXPECT_EQ(count_, 2u);
  EXPECT_EQ(test::readFile(live_), expectedFile({digest(3), digest(4)}));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].rfind("GET /api/v1/signatures HTTP/1.1\r\n", 0), 0u);
}

// A kill at any instant of a run leaves the previous complete database or the new one.
TEST_F(LiveUpdateTest, AKilledRunLeavesACompleteDatabase) {
  std::string versions[2];
  for (unsigned long which = 0; which < 2; ++which) {
    feeds_["http://helper.test/api/v1/signatures"] = {true, test::helperLiveFeed(which)};
    ASSERT_TRUE(run("http://helper.test")) << error_;
    versions[which] = test::readFile(live_);
  }
  removeFile(live_);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    ChildProcess child;
    ASSERT_TRUE(child.start({test::helperProgram(), L"live-update", live_, L"0"}));
    for (int i = 0; i < 2000 && !pathExists(live_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + (round * 11) % 60));
    child.kill();
    ASSERT_TRUE(child.wait());
    const std::string text = test::readFile(live_);
    EXPECT_TRUE(text == versions[0] || text == versions[1]) << "size " << text.size();
    // The next run starts over whatever the killed one left behind.
    feeds_["http://helper.test/api/v1/signatures"] = {true, test::helperLiveFeed(0)};
    ASSERT_TRUE(run("http://helper.test")) << error_;
    EXPECT_EQ(test::readFile(live_), versions[0]);
  }
}

}  // namespace
}  // namespace zorvek::svc
