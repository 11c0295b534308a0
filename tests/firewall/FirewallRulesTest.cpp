#include "service/firewall/FirewallRules.h"

#include <gtest/gtest.h>

#include "common/FirewallStatus.h"

namespace zorvek::fw {
namespace {

TEST(FirewallRulesTest, ResultTexts) {
  EXPECT_EQ(resultText(0x80070005), "требуются права администратора (код 0x80070005)");
  EXPECT_EQ(resultText(0x80004001), "код 0x80004001");
  EXPECT_EQ(resultText(0x1), "код 0x00000001");
  EXPECT_EQ(failureText("не удалось добавить правило", 0x8000FFFF),
            "не удалось добавить правило: код 0x8000FFFF");
}

TEST(FirewallRulesTest, RecognisesTheSystemsRules) {
  const struct {
    const wchar_t* name;
    bool ours;
    bool blockAll;
  } cases[] = {
      {L"ZORVEK: app.exe", true, false},
      {L"zorvek:x", true, false},
      {L"ZoRvEk: Block All Inbound (public)", true, true},
      {L"ZORVEK: block all inbound", true, true},
      {L"ZORVEK app.exe", false, false},
      {L" ZORVEK: app.exe", false, false},
      {L"ZORVEK: block all", true, false},
      {L"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    EXPECT_EQ(isZorvekRule(c.name), c.ours);
    EXPECT_EQ(isBlockAllRule(c.name), c.blockAll);
  }
}

TEST(FirewallRulesTest, ProfileChanges) {
  const struct {
    const char* text;
    bool ok;
    size_t profile;
    bool enable;
    const char* error;
  } cases[] = {
      {"private,1", true, 1, true, ""},
      {"domain,0", true, 0, false, ""},
      {"public,1", true, 2, true, ""},
      {"Private,1", false, 0, false, "некорректный профиль брандмауэра в запросе"},
      {"office,1", false, 0, false, "некорректный профиль брандмауэра в запросе"},
      {"private", false, 0, false, "некорректный профиль брандмауэра в запросе"},
      {"", false, 0, false, "некорректный профиль брандмауэра в запросе"},
      {"private,2", false, 0, false, "некорректное значение включения профиля"},
      {"private,", false, 0, false, "некорректное значение включения профиля"},
      {"private,1,", false, 0, false, "некорректное значение включения профиля"},
      {"private, 1", false, 0, false, "некорректное значение включения профиля"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ProfileChange change;
    std::string error;
    EXPECT_EQ(parseProfileChange(c.text, change, &error), c.ok);
    EXPECT_EQ(error, c.error);
    if (!c.ok) continue;
    EXPECT_EQ(change.profile, c.profile);
    EXPECT_EQ(change.enable, c.enable);
  }
}

TEST(FirewallRulesTest, BlockAllInboundValues) {
  bool on = false;
  EXPECT_TRUE(parseBlockAllInbound("1", on, nullptr));
  EXPECT_TRUE(on);
  EXPECT_TRUE(parseBlockAllInbound("0", on, nullptr));
  EXPECT_FALSE(on);
  for (const char* bad : {"", "2", "on", "1 ", "01"}) {
    std::string error;
    EXPECT_FALSE(parseBlockAllInbound(bad, on, &error)) << bad;
    EXPECT_EQ(error, "некорректное значение блокирования входящих");
  }
}

TEST(FirewallRulesTest, BlockAllRules) {
  const ProgramRule r = blockAllRule(2);
  EXPECT_EQ(r.name, L"ZORVEK: block all inbound (public)");
  EXPECT_EQ(r.description, L"Входящие блокируются программой ZORVEK Antivirus.");
  EXPECT_EQ(r.application, L"");
  EXPECT_EQ(r.action, kActionBlock);
  EXPECT_EQ(r.direction, kDirectionIn);
  EXPECT_EQ(r.profiles, 4);
  EXPECT_EQ(blockAllRule(0).profiles, 1);
  EXPECT_EQ(blockAllRule(1).name, L"ZORVEK: block all inbound (private)");
}

TEST(FirewallRulesTest, ProgramRules) {
  const std::wstring description = L"Правило создано ZORVEK Antivirus.";
  std::vector<ProgramRule> rules;
  ASSERT_TRUE(parseProgramRule("block|both|C:\\Apps\\app.exe", rules, nullptr));
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[0], (ProgramRule{L"ZORVEK: app.exe (in)", description, L"C:\\Apps\\app.exe",
                                kActionBlock, kDirectionIn, kAllProfiles}));
  EXPECT_EQ(rules[1], (ProgramRule{L"ZORVEK: app.exe (out)", description, L"C:\\Apps\\app.exe",
                                kActionBlock, kDirectionOut, kAllProfiles}));

  const struct {
    const char* text;
    const wchar_t* name;
    int32_t action;
    int32_t direction;
  } good[] = {
      {"allow|in|C:\\Apps\\app.exe", L"ZORVEK: app.exe", kActionAllow, kDirectionIn},
      {"allow|out|C:/Apps/tool.exe", L"ZORVEK: tool.exe", kActionAllow, kDirectionOut},
      {"block|in|\\\\server\\share\\x.exe", L"ZORVEK: x.exe", kActionBlock, kDirectionIn},
      {"allow|in|D:\\Программы\\Почта.exe", L"ZORVEK: Почта.exe", kActionAllow, kDirectionIn},
      {"allow|in|C:\\Mixed/sep\\a b, c.exe", L"ZORVEK: a b, c.exe", kActionAllow, kDirectionIn},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.text);
    ASSERT_TRUE(parseProgramRule(c.text, rules, nullptr));
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].name, c.name);
    EXPECT_EQ(rules[0].action, c.action);
    EXPECT_EQ(rules[0].direction, c.direction);
    EXPECT_EQ(rules[0].description, description);
  }

  for (const char* bad : {
           "", "allow", "allow|in", "allow|in|", "Allow|in|C:\\a.exe", "permit|in|C:\\a.exe",
           "allow|IN|C:\\a.exe", "allow|inbound|C:\\a.exe", "allow||C:\\a.exe",
           "allow|in|C:\\a|b.exe",  // a "|" in the path
           "allow|in|app.exe", "allow|in|Apps\\app.exe", "allow|in|\\Apps\\app.exe",
           "allow|in|C:app.exe", "allow|in|%ProgramFiles%\\a.exe", "allow|in|1:\\a.exe",
           "allow|in|C:\\Apps\\", "allow|in|C:\\a\nb.exe", "allow|in|\\\\\\x.exe",
       }) {
    SCOPED_TRACE(testing::PrintToString(std::string(bad)));
    std::string error;
    EXPECT_FALSE(parseProgramRule(bad, rules, &error));
    EXPECT_EQ(error, "некорректное описание правила приложения");
  }
  const char withNul[] = "allow|in|C:\\a\0b.exe";
  EXPECT_FALSE(parseProgramRule(std::string_view(withNul, sizeof withNul - 1), rules, nullptr));
}

RuleFacts facts(std::wstring name, std::wstring program, bool enabled = true,
                int32_t action = kActionAllow, int32_t direction = kDirectionIn) {
  RuleFacts f;
  f.name = std::move(name);
  f.program = std::move(program);
  f.enabled = enabled;
  f.action = action;
  f.direction = direction;
  return f;
}

TEST(FirewallRulesTest, StatusListsProgramRulesOutsideTheWindowsFolder) {
  StatusWriter out(L"C:\\Windows");
  out.profile(0, true);
  out.error("не удалось прочитать профиль private: код 0x80004005");
  out.profile(2, false);
  out.rule(facts(L"ZORVEK: app.exe", L"C:\\Apps\\app.exe"));
  out.rule(facts(L"Core Networking", L"C:\\WINDOWS\\system32\\svchost.exe"));
  out.rule(facts(L"zorvek: tool", L"c:\\windows\\tool.exe", false, kActionBlock, kDirectionOut));
  out.rule(facts(L"Sibling folder", L"C:\\WindowsApps\\x.exe", true, kActionAllow, 3));
  out.rule(facts(L"No program", L""));
  out.rule(facts(L"ZORVEK: block all inbound (domain)", L""));
  RuleFacts env = facts(L"Env", L"%SystemRoot%\\x.exe");
  env.expandedProgram = L"C:\\Windows\\x.exe";
  out.rule(env);
  out.rule(facts(L"Acme, Inc.\r\nsync", L"D:\\Acme\\sync.exe", true, kActionBlock, 2));
  EXPECT_EQ(out.finish(),
            "prof,domain,on\n"
            "error,не удалось прочитать профиль private: код 0x80004005\n"
            "prof,public,off\n"
            "rule,on,allow,in,ZORVEK: app.exe,C:\\Apps\\app.exe\n"
            "rule,off,block,out,zorvek: tool,c:\\windows\\tool.exe\n"
            "rule,on,allow,both,Sibling folder,C:\\WindowsApps\\x.exe\n"
            "rule,on,block,out,Acme\\, Inc.  sync,D:\\Acme\\sync.exe\n"
            "blockin,on\n");
}

TEST(FirewallRulesTest, StatusCapsRuleLinesButStillSeesBlockAll) {
  StatusWriter out(L"C:\\Windows\\");
  for (int i = 0; i < 450; ++i) out.rule(facts(L"r" + std::to_wstring(i), L"D:\\p.exe"));
  out.rule(facts(L"ZORVEK: block all inbound (public)", L""));
  const std::string text = out.finish();
  const FirewallStatus s = parseFirewallStatus(text);
  EXPECT_EQ(s.rules.size(), kMaxRuleLines);
  EXPECT_EQ(s.rules.back().name, "r399");
  EXPECT_EQ(s.blockInbound, true);
  EXPECT_EQ(StatusWriter(L"C:\\Windows").finish(), "blockin,off\n");
}

}  // namespace
}  // namespace zorvek::fw
