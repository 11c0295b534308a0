// The COM calling code against the fake firewall; the real objects only where Wine provides
// them, since no test may change the firewall of a real machine.
#include <gtest/gtest.h>

#include <functional>

#include "FakeFirewall.h"
#include "TestUtil.h"
#include "common/FirewallStatus.h"
#include "service/firewall/Firewall.h"

namespace zorvek::fw::test {
namespace {

constexpr HRESULT kClassNotRegistered = REGDB_E_CLASSNOTREG;

FakeRule rule(std::wstring name, std::wstring program, bool enabled = true,
              NET_FW_ACTION action = NET_FW_ACTION_ALLOW,
              NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN) {
  FakeRule r;
  r.name = std::move(name);
  r.application = std::move(program);
  r.enabled = enabled;
  r.action = action;
  r.direction = direction;
  return r;
}

std::vector<std::wstring> names(const std::vector<FakeRule>& rules) {
  std::vector<std::wstring> out;
  for (const FakeRule& r : rules) out.push_back(r.name);
  return out;
}

class ComFirewallTest : public testing::Test {
 protected:
  // Every operation must leave no object referenced and release none twice.
  void TearDown() override { expectReleased(); }
  void expectReleased() {
    EXPECT_EQ(fake_.liveObjects(), 0);
    EXPECT_EQ(fake_.overReleases(), 0);
  }

  FakeFirewall fake_;
};

TEST_F(ComFirewallTest, StatusOfARealisticRuleSet) {
  fake_.profiles[1] = false;
  fake_.strayItems = true;
  fake_.rules = {
      rule(L"ZORVEK: app.exe (in)", L"C:\\Apps\\app.exe"),
      rule(L"ZORVEK: block all inbound (domain)", L"", true, NET_FW_ACTION_BLOCK),
      rule(L"Core Networking", L"C:\\WINDOWS\\system32\\svchost.exe"),
      rule(L"Remote Assistance", L"%SystemRoot%\\system32\\msra.exe"),
      rule(L"zorvek: old tool", L"c:\\windows\\tool.exe", false, NET_FW_ACTION_BLOCK,
           NET_FW_RULE_DIR_OUT),
      rule(L"Acme, Inc. sync", L"D:\\Acme\\sync.exe", true, NET_FW_ACTION_BLOCK,
           NET_FW_RULE_DIR_MAX),
      rule(L"Две\r\nстроки", L"C:\\Программы\\чат.exe"),
      rule(L"File and Printer Sharing", L""),
  };
  EXPECT_EQ(fake_.firewall().status(),
            "prof,domain,on\n"
            "prof,private,off\n"
            "prof,public,on\n"
            "rule,on,allow,in,ZORVEK: app.exe (in),C:\\Apps\\app.exe\n"
            "rule,off,block,out,zorvek: old tool,c:\\windows\\tool.exe\n"
            "rule,on,block,both,Acme\\, Inc. sync,D:\\Acme\\sync.exe\n"
            "rule,on,allow,in,Две  строки,C:\\Программы\\чат.exe\n"
            "blockin,on\n");
  EXPECT_EQ(fake_.calls().front(), "create NetFwPolicy2");
}

TEST_F(ComFirewallTest, StatusCapsRuleLinesAt400) {
  for (int i = 0; i < 410; ++i) fake_.rules.push_back(rule(L"r" + std::to_wstring(i), L"D:\\x.exe"));
  const FirewallStatus s = parseFirewallStatus(fake_.firewall().status());
  EXPECT_EQ(s.rules.size(), 400u);
  EXPECT_EQ(s.blockInbound, false);
}

TEST_F(ComFirewallTest, StatusPutsErrorLinesInPlaceOfWhatCannotBeRead) {
  const std::string rules = "rule,on,allow,in,a,D:\\a.exe\nrule,on,allow,in,b,D:\\b.exe\n";
  const struct {
    const char* what;
    std::function<void(FakeFirewall&)> arrange;
    std::string text;
  } cases[] = {
      {"a profile", [](FakeFirewall& f) { f.failOn("get_FirewallEnabled 2", E_FAIL); },
       "prof,domain,on\nerror,не удалось прочитать профиль private: код 0x80004005\n"
       "prof,public,on\n" + rules + "blockin,off\n"},
      {"the rule set", [](FakeFirewall& f) { f.failOn("get_Rules", E_ACCESSDENIED); },
       "prof,domain,on\nprof,private,on\nprof,public,on\n"
       "error,не удалось перечислить правила: требуются права администратора (код 0x80070005)\n"
       "blockin,off\n"},
      {"the enumerator", [](FakeFirewall& f) { f.failOn("get__NewEnum", E_NOTIMPL); },
       "prof,domain,on\nprof,private,on\nprof,public,on\n"
       "error,не удалось перечислить правила: код 0x80004001\nblockin,off\n"},
      {"the enumeration half way", [](FakeFirewall& f) { f.failOn("Next", E_OUTOFMEMORY, 1); },
       "prof,domain,on\nprof,private,on\nprof,public,on\nrule,on,allow,in,a,D:\\a.exe\n"
       "error,не удалось перечислить правила: код 0x8007000E\nblockin,off\n"},
      {"rules, once however many",
       [](FakeFirewall& f) {
         f.failOn("get_Direction", E_FAIL, 1);
         f.rules.push_back(rule(L"c", L"D:\\c.exe"));
       },
       "prof,domain,on\nprof,private,on\nprof,public,on\nrule,on,allow,in,a,D:\\a.exe\n"
       "error,не удалось прочитать правило: код 0x80004005\nblockin,off\n"},
      {"no firewall", [](FakeFirewall& f) { f.failOn("create NetFwPolicy2", kClassNotRegistered); },
       "error,брандмауэр недоступен: код 0x80040154\n"},
      {"objects missing", [](FakeFirewall& f) { f.nullObjects = true; },
       "error,брандмауэр недоступен: код 0x80004003\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFirewall fake;
    fake.rules = {rule(L"a", L"D:\\a.exe"), rule(L"b", L"D:\\b.exe")};
    c.arrange(fake);
    EXPECT_EQ(fake.firewall().status(), c.text);
    EXPECT_EQ(fake.liveObjects(), 0);
  }
}

TEST_F(ComFirewallTest, SetProfileChangesOnlyTheNamedProfile) {
  fake_.profiles[0] = fake_.profiles[1] = fake_.profiles[2] = false;
  std::string error;
  ASSERT_TRUE(fake_.firewall().setProfile("private,1", &error)) << error;
  EXPECT_FALSE(fake_.profiles[0]);
  EXPECT_TRUE(fake_.profiles[1]);
  EXPECT_FALSE(fake_.profiles[2]);
  ASSERT_TRUE(fake_.firewall().setProfile("private,0", &error));
  EXPECT_FALSE(fake_.profiles[1]);
  ASSERT_TRUE(fake_.firewall().setProfile("public,1", &error));
  EXPECT_TRUE(fake_.profiles[2]);

  for (const char* bad : {"Private,1", "private,2", "", "private"}) {
    SCOPED_TRACE(bad);
    fake_.clearCalls();
    EXPECT_FALSE(fake_.firewall().setProfile(bad, &error));
    EXPECT_EQ(fake_.calls(), std::vector<std::string>{"create NetFwPolicy2"});
  }
}

TEST_F(ComFirewallTest, BlockAllInboundMakesOneRulePerProfile) {
  fake_.rules = {rule(L"ZORVEK: app.exe", L"C:\\a.exe"), rule(L"Other", L"D:\\o.exe")};
  const ComFirewall fw = fake_.firewall();
  std::string error;
  ASSERT_TRUE(fw.setBlockAllInbound("1", &error)) << error;
  ASSERT_TRUE(fw.setBlockAllInbound("1", &error)) << error;
  const std::vector<std::wstring> expected = {
      L"ZORVEK: app.exe", L"Other", L"ZORVEK: block all inbound (domain)",
      L"ZORVEK: block all inbound (private)", L"ZORVEK: block all inbound (public)"};
  EXPECT_EQ(names(fake_.rules), expected);
  const long profileTypes[] = {1, 2, 4};
  for (size_t i = 0; i < 3; ++i) {
    const FakeRule& r = fake_.rules[2 + i];
    EXPECT_EQ(r.description, L"Входящие блокируются программой ZORVEK Antivirus.");
    EXPECT_EQ(r.application, L"");
    EXPECT_EQ(r.action, NET_FW_ACTION_BLOCK);
    EXPECT_EQ(r.direction, NET_FW_RULE_DIR_IN);
    EXPECT_EQ(r.protocol, 256);
    EXPECT_TRUE(r.enabled);
    EXPECT_EQ(r.profiles, profileTypes[i]);
  }
  EXPECT_EQ(parseFirewallStatus(fw.status()).blockInbound, true);

  ASSERT_TRUE(fw.setBlockAllInbound("0", &error)) << error;
  EXPECT_EQ(names(fake_.rules), (std::vector<std::wstring>{L"ZORVEK: app.exe", L"Other"}));
  EXPECT_FALSE(fw.setBlockAllInbound("yes", &error));
  EXPECT_EQ(error, "некорректное значение блокирования входящих");
}

TEST_F(ComFirewallTest, RuleIsBuiltInOrder) {
  std::string error;
  ASSERT_TRUE(fake_.firewall().addProgramRule("block|out|C:\\Apps\\app.exe", &error)) << error;
  const std::vector<std::string> calls(fake_.calls().begin() + 2, fake_.calls().begin() + 12);
  EXPECT_EQ(calls, (std::vector<std::string>{"create NetFwRule", "put_Name", "put_Description",
                                             "put_ApplicationName", "put_Action", "put_Direction",
                                             "put_Protocol", "put_Enabled", "put_Profiles",
                                             "Add"}));
  ASSERT_EQ(fake_.rules.size(), 1u);
  FakeRule expected;
  expected.name = L"ZORVEK: app.exe";
  expected.description = L"Правило создано ZORVEK Antivirus.";
  expected.application = L"C:\\Apps\\app.exe";
  expected.protocol = 256;
  expected.profiles = 0x7FFFFFFF;
  expected.enabled = true;
  expected.action = NET_FW_ACTION_BLOCK;
  expected.direction = NET_FW_RULE_DIR_OUT;
  EXPECT_EQ(fake_.rules[0], expected);
}

TEST_F(ComFirewallTest, ProgramRulesForBothDirectionsOrOne) {
  std::string error;
  ASSERT_TRUE(fake_.firewall().addProgramRule("block|both|C:\\Apps\\app.exe", &error)) << error;
  ASSERT_TRUE(fake_.firewall().addProgramRule("allow|in|D:\\Игры\\game.exe", &error)) << error;
  EXPECT_EQ(names(fake_.rules),
            (std::vector<std::wstring>{L"ZORVEK: app.exe (in)", L"ZORVEK: app.exe (out)",
                                       L"ZORVEK: game.exe"}));
  EXPECT_EQ(fake_.rules[1].direction, NET_FW_RULE_DIR_OUT);
  EXPECT_EQ(fake_.rules[2].action, NET_FW_ACTION_ALLOW);
  EXPECT_EQ(fake_.rules[2].application, L"D:\\Игры\\game.exe");

  for (const char* bad : {"allow|in|C:\\a|b.exe", "allow|in|a.exe", "allow|sideways|C:\\a.exe"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(fake_.firewall().addProgramRule(bad, &error));
    EXPECT_EQ(error, "некорректное описание правила приложения");
  }
  EXPECT_EQ(fake_.rules.size(), 3u);
}

TEST_F(ComFirewallTest, RemoveTakesOnlyTheSystemsRules) {
  fake_.rules = {rule(L"ZORVEK: a.exe", L"C:\\a.exe"), rule(L"Other", L"D:\\o.exe"),
                 rule(L"zorvek: block all inbound (public)", L""),
                 rule(L"ZORVEK: a.exe", L"C:\\a.exe"), rule(L"Not ZORVEK: x", L"C:\\x.exe")};
  std::string error;
  ASSERT_TRUE(fake_.firewall().removeZorvekRules(&error)) << error;
  EXPECT_EQ(names(fake_.rules), (std::vector<std::wstring>{L"Other", L"Not ZORVEK: x"}));
}

// Each failing call, the text it gives, and what the operation leaves behind.
TEST_F(ComFirewallTest, FailureTexts) {
  const struct {
    const char* fail;
    HRESULT hr;
    int after;
    std::function<bool(const ComFirewall&, std::string*)> op;
    const char* text;
    size_t rulesLeft;
  } cases[] = {
      {"create NetFwPolicy2", kClassNotRegistered, 0,
       [](const ComFirewall& f, std::string* e) { return f.removeZorvekRules(e); },
       "брандмауэр недоступен: код 0x80040154", 2},
      {"put_FirewallEnabled 4", E_ACCESSDENIED, 0,
       [](const ComFirewall& f, std::string* e) { return f.setProfile("public,0", e); },
       "не удалось изменить состояние профиля: требуются права администратора (код 0x80070005)",
       2},
      {"get_Rules", E_ACCESSDENIED, 0,
       [](const ComFirewall& f, std::string* e) { return f.removeZorvekRules(e); },
       "не удалось получить набор правил: требуются права администратора (код 0x80070005)", 2},
      {"get__NewEnum", E_NOTIMPL, 0,
       [](const ComFirewall& f, std::string* e) { return f.setBlockAllInbound("1", e); },
       "не удалось перечислить правила: код 0x80004001", 2},
      {"Remove", E_ACCESSDENIED, 0,
       [](const ComFirewall& f, std::string* e) { return f.removeZorvekRules(e); },
       "не удалось удалить правило ZORVEK: a.exe: требуются права администратора (код 0x80070005)",
       2},
      {"get_Rules", E_FAIL, 1,
       [](const ComFirewall& f, std::string* e) { return f.setBlockAllInbound("1", e); },
       "не удалось получить набор правил: код 0x80004005", 2},
      {"create NetFwRule", kClassNotRegistered, 0,
       [](const ComFirewall& f, std::string* e) { return f.addProgramRule("allow|in|C:\\b.exe", e); },
       "не удалось собрать правило: код 0x80040154", 2},
      {"put_Profiles", E_INVALIDARG, 0,
       [](const ComFirewall& f, std::string* e) { return f.addProgramRule("allow|in|C:\\b.exe", e); },
       "не удалось собрать правило: код 0x80070057", 2},
      {"put_ApplicationName", E_ACCESSDENIED, 0,
       [](const ComFirewall& f, std::string* e) { return f.addProgramRule("allow|in|C:\\b.exe", e); },
       "не удалось собрать правило: требуются права администратора (код 0x80070005)", 2},
      {"Add", E_ACCESSDENIED, 1,
       [](const ComFirewall& f, std::string* e) { return f.addProgramRule("block|both|C:\\b.exe", e); },
       "не удалось добавить правило: требуются права администратора (код 0x80070005)", 3},
      {"Add", E_FAIL, 2,
       [](const ComFirewall& f, std::string* e) { return f.setBlockAllInbound("1", e); },
       "не удалось добавить правило: код 0x80004005", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fail) + " -> " + c.text);
    FakeFirewall fake;
    fake.rules = {rule(L"ZORVEK: a.exe", L"C:\\a.exe"), rule(L"Other", L"D:\\o.exe")};
    fake.failOn(c.fail, c.hr, c.after);
    std::string error;
    EXPECT_FALSE(c.op(fake.firewall(), &error));
    EXPECT_EQ(error, c.text);
    EXPECT_EQ(fake.rules.size(), c.rulesLeft);
    EXPECT_EQ(fake.liveObjects(), 0);
    EXPECT_EQ(fake.overReleases(), 0);
  }
}

TEST_F(ComFirewallTest, UnexpectedExceptionsBecomeOneText) {
  const ComFirewall fw([](REFCLSID, REFIID, void**) -> HRESULT { throw std::bad_alloc(); },
                       L"C:\\Windows");
  EXPECT_EQ(fw.status(), "error,внутренняя ошибка брандмауэра\n");
  std::string error;
  EXPECT_FALSE(fw.setProfile("private,1", &error));
  EXPECT_EQ(error, "внутренняя ошибка брандмауэра");
  error.clear();
  EXPECT_FALSE(fw.removeZorvekRules(&error));
  EXPECT_EQ(error, "внутренняя ошибка брандмауэра");
}

// --- Wine's own firewall objects ----------------------------------------------------------------

TEST(WineFirewallTest, AnswersWithClearTexts) {
  if (!zorvek::test::runningUnderWine()) GTEST_SKIP() << "changes the firewall of a real machine";
  const std::string text = status();
  const FirewallStatus s = parseFirewallStatus(text);
  // Every profile is either reported or replaced by an error line naming it.
  for (size_t i = 0; i < kProfileCount; ++i) {
    const std::string name(kProfileNames[i]);
    if (s.profiles[i].has_value()) continue;
    EXPECT_NE(text.find("error,не удалось прочитать профиль " + name + ": код 0x"),
              std::string::npos)
        << text;
  }
  for (const std::string& e : s.errors) EXPECT_NE(e.find("код 0x"), std::string::npos) << e;
  EXPECT_TRUE(s.blockInbound.has_value()) << text;

  const struct {
    uint32_t opcode;
    const char* argument;
  } requests[] = {{ipc::kOpFirewallSetProfile, "private,1"},
                  {ipc::kOpFirewallBlockInbound, "1"},
                  {ipc::kOpFirewallAppRule, "allow|in|C:\\zorvek-test\\app.exe"},
                  {ipc::kOpFirewallRemoveRules, ""}};
  for (const auto& r : requests) {
    SCOPED_TRACE(r.argument);
    const ipc::FirewallReply reply = request(r.opcode, r.argument);
    if (!reply.ok) {
      EXPECT_NE(reply.text.find("код 0x80004001"), std::string::npos) << reply.text;
    }
  }
  // Refusals of bad requests come before anything is asked of the firewall's rules.
  EXPECT_EQ(request(ipc::kOpFirewallSetProfile, "Private,1"),
            (ipc::FirewallReply{false, "некорректный профиль брандмауэра в запросе"}));
  EXPECT_EQ(request(ipc::kOpFirewallAppRule, "allow|in|a|b.exe"),
            (ipc::FirewallReply{false, "некорректное описание правила приложения"}));
}

}  // namespace
}  // namespace zorvek::fw::test
