// The web shield: the domain rule, the feed, the block it writes into a scratch hosts file and
// one pass as the engine's worker runs it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "common/Hosts.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "service/engine/EngineAccess.h"
#include "service/net/WebShield.h"

namespace zorvek::svc {
namespace {

constexpr char kBegin[] = "# ZORVEK WEB SHIELD BEGIN\n";
constexpr char kEnd[] = "# ZORVEK WEB SHIELD END\n";

std::string entry(const std::string& host) { return "127.0.0.1 " + host + " # zorvek-blocked\n"; }

TEST(WebShieldTest, DomainRule) {
  const struct {
    std::string candidate;
    bool valid;
  } cases[] = {
      {"example.com", true},
      {" \tExample.COM\r\n", true},
      {"a-b.c-", true},  // hyphens anywhere, labels and TLDs unchecked
      {"x1.y2", true},
      {"192.168.0.1", false},
      {"localhost", false},
      {"a..b", false},
      {".example.com", false},
      {"example.com.", false},
      {"ex_ample.com", false},
      {"пример.рф", false},
      {"ex\xC3\xA4mple.com", false},
      {"1.2-3", false},
      {"", false},
      {"   ", false},
      {".", false},
      {std::string(249, 'a') + ".com", true},   // 253
      {std::string(250, 'a') + ".com", false},  // 254
      {"a b.com", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.candidate);
    EXPECT_EQ(isValidDomain(c.candidate), c.valid);
  }
}

TEST(WebShieldTest, FeedParsing) {
  const struct {
    const char* what;
    std::string body;
    std::vector<std::string> domains;
  } cases[] = {
      {"comments, blanks, CRLF and junk",
       "# list\r\n\r\nbad.example\r\n192.0.2.1\nlocalhost\n  \n#good.example\nsecond.example", 
       {"bad.example", "second.example"}},
      {"case duplicates keep the first place",
       "B.example\na.example\nb.EXAMPLE\nA.Example\n", {"b.example", "a.example"}},
      {"blanks around a domain are not kept", "  www.Pad.example \t\n", {"www.pad.example"}},
      {"empty body", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parseBlockedDomains(c.body), c.domains);
  }
  std::string big;
  for (int i = 0; i < 40000; ++i) big.append("d").append(std::to_string(i)).append(".example\n");
  const auto domains = parseBlockedDomains(big);
  ASSERT_EQ(domains.size(), kMaxBlockedDomains);
  EXPECT_EQ(domains.back(), "d29999.example");
}

TEST(WebShieldTest, HostsTextWithTheBlock) {
  const std::string block = std::string("\n") + kBegin + entry("evil.example") +
                            entry("www.evil.example") + kEnd;
  const struct {
    const char* what;
    std::string hosts;
    std::string want;
  } cases[] = {
      {"missing file", "", block},
      {"CRLF lines without a block", "127.0.0.1 localhost\r\n::1 localhost\r\n",
       "127.0.0.1 localhost\n::1 localhost\n" + block},
      {"no LF at the end", "127.0.0.1 localhost", "127.0.0.1 localhost\n" + block},
      {"old block and trailing blank lines replaced",
       "a\n\n  \r\n" + std::string(kBegin) + entry("old.example") + kEnd + "\n\n",
       "a\n" + block},
      {"marker with leading blanks is a marker",
       "a\n \t# ZORVEK WEB SHIELD BEGIN\r\nold\n# ZORVEK WEB SHIELD END  \nb\n", "a\nb\n" + block},
      {"lower-case marker is a user's line",
       "# zorvek web shield begin\nold\n", "# zorvek web shield begin\nold\n" + block},
      {"begin without end drops the rest", "a\n" + std::string(kBegin) + "mine\n", "a\n" + block},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string once = buildWebShieldHosts(c.hosts, {"evil.example"});
    EXPECT_EQ(once, c.want);
    // A second pass over its own output changes nothing.
    EXPECT_EQ(buildWebShieldHosts(once, {"evil.example"}), once);
  }
}

TEST(WebShieldTest, BlockEntries) {
  const std::vector<std::string> domains = {"WWW.Upper.example", "plain.example", "bad_one",
                                            "www.lower.example"};
  EXPECT_EQ(buildWebShieldHosts("", domains),
            std::string("\n") + kBegin + entry("www.upper.example") + entry("plain.example") +
                entry("www.plain.example") + entry("www.lower.example") + kEnd);
  EXPECT_EQ(buildWebShieldHosts("", {}), std::string("\n") + kBegin + kEnd);

  std::string feed;
  for (int i = 0; i < 40000; ++i) feed.append("d").append(std::to_string(i)).append(".example\n");
  const std::string text = buildWebShieldHosts("", parseBlockedDomains(feed));
  EXPECT_EQ(countBlockEntries(text), 60000u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 60000 + 2);
  EXPECT_NE(text.find(entry("www.d29999.example") + kEnd), std::string::npos);
}

class FakeShieldEngine : public WebShieldAccess {
 public:
  ServiceConfig snapshotConfig() const override { return config; }
  bool stopping() const override { return false; }
  ServiceConfig config;
};

class WebShieldPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hosts_ = dir_.file(L"hosts");
    log_ = dir_.file(L"zorvek.log");
    Logger::instance().open(log_);
    engine_.config.updateServer = server_.url("//");
  }
  void TearDown() override { Logger::instance().close(); }
  std::string runPass() {
    WebShieldOptions options;
    options.hostsPath = hosts_;
    options.builtInFeed = server_.url("/v2/text");
    runWebShield(engine_, options);
    Logger::instance().close();
    std::string log = test::readFile(log_);
    Logger::instance().open(log_);
    return log;
  }

  test::TempDir dir_;
  std::wstring hosts_, log_;
  int status_ = 200;
  std::string feed_ = "evil.example\nwww.phish.example\n";
  std::vector<std::string> targets_;
  test::TestHttpServer server_{[this](const std::string& target) {
    targets_.push_back(target);
    return test::HttpReply{status_, feed_};
  }};
  FakeShieldEngine engine_;
};

TEST_F(WebShieldPassTest, WritesTheBlockFromTheUpdateServerOrTheBuiltInFeed) {
  test::writeFile(hosts_, "127.0.0.1 localhost\r\n");
  EXPECT_NE(runPass().find("[INF] web shield: blocked 2 domains (3 hosts entries)\n"),
            std::string::npos);
  EXPECT_EQ(test::readFile(hosts_), std::string("127.0.0.1 localhost\n\n") + kBegin +
                                        entry("evil.example") + entry("www.evil.example") +
                                        entry("www.phish.example") + kEnd);
  engine_.config.updateServer.clear();
  feed_ = "other.example\n";
  runPass();
  EXPECT_EQ(countBlockEntries(test::readFile(hosts_)), 2u);
  EXPECT_EQ(targets_, (std::vector<std::string>{"/api/v1/blocklist", "/v2/text"}));
}

TEST_F(WebShieldPassTest, SwitchedOffRemovesOnlyABlockWithEntries) {
  engine_.config.webShield = false;
  // Empty markers and CRLF: a rewrite would show as LF line ends.
  const std::string empty = "a\r\n# ZORVEK WEB SHIELD BEGIN\r\n# ZORVEK WEB SHIELD END\r\n";
  test::writeFile(hosts_, empty);
  runPass();
  EXPECT_EQ(test::readFile(hosts_), empty);

  test::writeFile(hosts_, "a\r\n" + std::string(kBegin) + entry("x.example") + kEnd + "b\r\n");
  runPass();
  EXPECT_EQ(test::readFile(hosts_), "a\nb\n");
  EXPECT_TRUE(targets_.empty());
}

TEST_F(WebShieldPassTest, FailuresLeaveTheHostsFileAlone) {
  const std::string before = "mine\r\n" + std::string(kBegin) + entry("old.example") + kEnd;
  test::writeFile(hosts_, before);
  status_ = 503;
  EXPECT_NE(runPass().find("[WRN] web shield: domain feed failed: http status 503\n"),
            std::string::npos);
  EXPECT_EQ(test::readFile(hosts_), before);

  // A hosts file that exists but cannot be read (here: a folder by that name) is not rewritten
  // from nothing.
  status_ = 200;
  const std::wstring folder = dir_.file(L"hosts.d");
  ASSERT_TRUE(createDirectories(folder));
  WebShieldOptions options;
  options.hostsPath = folder;
  options.builtInFeed = server_.url("/v2/text");
  runWebShield(engine_, options);
  Logger::instance().close();
  std::string log = test::readFile(log_);
  EXPECT_NE(log.find("[ERR] web shield: hosts update failed: cannot read hosts: "), std::string::npos)
      << log;
  EXPECT_TRUE(std::filesystem::is_directory(toPath(folder)));

  // Switched off, the removal step says the same at its own level.
  Logger::instance().open(log_);
  engine_.config.webShield = false;
  runWebShield(engine_, options);
  Logger::instance().close();
  log = test::readFile(log_);
  EXPECT_NE(log.find("[WRN] web shield: cannot clean hosts: cannot read hosts: "), std::string::npos)
      << log;
  EXPECT_TRUE(std::filesystem::is_directory(toPath(folder)));
}

}  // namespace
}  // namespace zorvek::svc
