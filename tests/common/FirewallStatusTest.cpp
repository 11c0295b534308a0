#include "common/FirewallStatus.h"

#include <gtest/gtest.h>

namespace zorvek::fw {
namespace {

StatusRule rule(bool on, std::string action, std::string direction, std::string name,
                std::string program) {
  return {on, std::move(action), std::move(direction), std::move(name), std::move(program)};
}

TEST(FirewallStatusTest, ParsesEveryKindOfLine) {
  const FirewallStatus s = parseFirewallStatus(
      "prof,domain,on\n"
      "prof,private,off\n"
      "prof,public,on\n"
      "rule,on,allow,in,ZORVEK: app.exe,C:\\Apps\\app.exe\n"
      "rule,off,block,both,Acme\\, Inc. sync,D:\\Acme\\, Inc\\sync.exe\n"
      "error,не удалось прочитать профиль public: код 0x80004005\n"
      "blockin,on\n");
  EXPECT_EQ(s.profiles[0], true);
  EXPECT_EQ(s.profiles[1], false);
  EXPECT_EQ(s.profiles[2], true);
  EXPECT_EQ(s.blockInbound, true);
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[0], rule(true, "allow", "in", "ZORVEK: app.exe", "C:\\Apps\\app.exe"));
  EXPECT_EQ(s.rules[1], rule(false, "block", "both", "Acme, Inc. sync", "D:\\Acme, Inc\\sync.exe"));
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(s.firstError(), "не удалось прочитать профиль public: код 0x80004005");
  EXPECT_FALSE(s.allProfilesOn());
}

TEST(FirewallStatusTest, MissingAndOddLines) {
  const struct {
    const char* what;
    const char* text;
    std::array<std::optional<bool>, kProfileCount> profiles;
    std::optional<bool> blockInbound;
    size_t rules;
    std::vector<std::string> errors;
  } cases[] = {
      {"empty", "", {}, std::nullopt, 0, {}},
      {"two profiles on, the third missing", "prof,domain,on\nprof,public,on\n",
       {true, std::nullopt, true}, std::nullopt, 0, {}},
      {"only exactly 'on' is on", "prof,domain,ON\nprof,private,on \nprof,public,1\n",
       {false, false, false}, std::nullopt, 0, {}},
      {"unknown profile and short line", "prof,office,on\nprof,domain\n", {}, std::nullopt, 0, {}},
      {"blockin without value", "blockin\n", {}, false, 0, {}},
      {"CR LF line ends", "prof,private,on\r\nblockin,on\r\n", {std::nullopt, true, std::nullopt},
       true, 0, {}},
      {"last line without LF", "blockin,on", {}, true, 0, {}},
      {"rule too short", "rule,on,allow,in\nrule,on,allow,in,name\n", {}, std::nullopt, 0, {}},
      {"unknown kinds", "Prof,domain,on\nwarning,x\n,,,\n\n", {}, std::nullopt, 0, {}},
      {"error texts joined again", "error,a,b\\,c\nerror\nerror,\n", {}, std::nullopt, 0,
       {"a,b,c", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FirewallStatus s = parseFirewallStatus(c.text);
    EXPECT_EQ(s.profiles, c.profiles);
    EXPECT_EQ(s.blockInbound, c.blockInbound);
    EXPECT_EQ(s.rules.size(), c.rules);
    EXPECT_EQ(s.errors, c.errors);
  }
}

TEST(FirewallStatusTest, FirstErrorSkipsEmptyTexts) {
  EXPECT_EQ(parseFirewallStatus("error,\nerror,второй\nerror,третий\n").firstError(), "второй");
  EXPECT_EQ(parseFirewallStatus("prof,domain,on\n").firstError(), "");
}

TEST(FirewallStatusTest, AllProfilesOnNeedsThreeLines) {
  EXPECT_TRUE(parseFirewallStatus("prof,domain,on\nprof,private,on\nprof,public,on\n")
                  .allProfilesOn());
  EXPECT_FALSE(parseFirewallStatus("prof,domain,on\nprof,private,on\n").allProfilesOn());
}

// What the writer puts out, the reader gets back, whatever the names and paths hold.
TEST(FirewallStatusTest, RuleLinesRoundTrip) {
  const struct {
    StatusRule written;
    StatusRule read;
  } cases[] = {
      {rule(true, "allow", "in", "plain", "C:\\a.exe"), rule(true, "allow", "in", "plain", "C:\\a.exe")},
      {rule(false, "block", "out", "a,b,,c", "C:\\x,y\\z.exe"),
       rule(false, "block", "out", "a,b,,c", "C:\\x,y\\z.exe")},
      {rule(true, "allow", "both", "line\r\nbreak", "C:\\p\n.exe"),
       rule(true, "allow", "both", "line  break", "C:\\p .exe")},
      {rule(true, "allow", "in", "ends in a backslash\\", "C:\\p.exe"),
       rule(true, "allow", "in", "ends in a backslash\\", "C:\\p.exe")},
      {rule(true, "allow", "in", "x\\,y\\", "C:\\p.exe"), rule(true, "allow", "in", "x\\,y\\", "C:\\p.exe")},
      {rule(true, "allow", "in", "", "C:\\dir\\"), rule(true, "allow", "in", "", "C:\\dir\\")},
      {rule(true, "allow", "in", "Имя, с запятой", "C:\\Программы\\я.exe"),
       rule(true, "allow", "in", "Имя, с запятой", "C:\\Программы\\я.exe")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written.name);
    const std::string line = statusRuleLine(c.written);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const FirewallStatus s = parseFirewallStatus(line);
    ASSERT_EQ(s.rules.size(), 1u) << line;
    EXPECT_EQ(s.rules[0], c.read);
  }
}

TEST(FirewallStatusTest, WritesTheLines) {
  EXPECT_EQ(statusProfileLine("private", true), "prof,private,on\n");
  EXPECT_EQ(statusProfileLine("public", false), "prof,public,off\n");
  EXPECT_EQ(statusBlockInboundLine(true), "blockin,on\n");
  EXPECT_EQ(statusBlockInboundLine(false), "blockin,off\n");
  EXPECT_EQ(statusErrorLine("a\nprof,domain,off"), "error,a prof,domain,off\n");
  EXPECT_EQ(statusRuleLine(rule(true, "allow", "in", "n,1", "C:\\a.exe")),
            "rule,on,allow,in,n\\,1,C:\\a.exe\n");
}

}  // namespace
}  // namespace zorvek::fw
