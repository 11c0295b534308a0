#include "tools/zorvekctl/Zorvekctl.h"

#include <gtest/gtest.h>

#include "TestUtil.h"
#include "common/Json.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

TEST(ZorvekctlJsonTest, StringsAreEscapedAndStayUtf8) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\nnext\ttab\r", "\"line\\nnext\\ttab\\r\""},
      {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
      {"Угроза", "\"Угроза\""},
      {"bad\xff", "\"bad\xEF\xBF\xBD\""},
      {"C:\\Users\\x", "\"C:\\\\Users\\\\x\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(jsonString(c.in), c.out);
  }
}

class ZorvekctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = environmentVariable(L"ZORVEK_PIPE");
    // Nobody listens here.
    setEnvironmentVariable(L"ZORVEK_PIPE", pathSeparator() == L'\\'
                                                ? L"\\\\.\\pipe\\ZorvekNobody-" +
                                                      std::to_wstring(currentProcessId())
                                                : dir_.file(L"nobody.sock"));
  }
  void TearDown() override { setEnvironmentVariable(L"ZORVEK_PIPE", saved_); }

  struct Result {
    int code;
    std::string out, err;
  };
  Result run(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"zorvekctl");
    std::FILE* out = openStdioFile(dir_.file(L"out"), "w+b");
    std::FILE* err = openStdioFile(dir_.file(L"err"), "w+b");
    Result r{runZorvekctl(args, out, err, false), test::readStream(out), test::readStream(err)};
    std::fclose(out);
    std::fclose(err);
    return r;
  }

  test::TempDir dir_;
  std::optional<std::wstring> saved_;
};

TEST_F(ZorvekctlTest, UsageErrorsAndAnUnreachableServiceExit2) {
  const std::vector<std::vector<std::wstring>> cases = {
      {},
      {L"frobnicate"},
      {L"status", L"extra"},
      {L"scan"},
      {L"scan", L"--wait"},
      {L"decide", L"x"},
      {L"decide", L"x", L"burn"},
      {L"quarantine", L"restore", L"12ab"},
      {L"quarantine", L"restore", L"99999999999999999999999"},
      {L"quarantine"},
      {L"update", L"everything"},
      {L"firewall", L"open"},
      {L"config"},
      {L"status"},
      {L"shutdown"},
  };
  for (const auto& args : cases) {
    std::wstring joined;
    for (const auto& a : args) joined += a + L" ";
    SCOPED_TRACE(toUtf8(joined));
    const Result r = run(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_FALSE(r.err.empty());
  }
}

TEST_F(ZorvekctlTest, JsonModeReportsFailuresAsAnObject) {
  const Result r = run({L"--json", L"status"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out.rfind("{\"error\":\"", 0), 0u) << r.out;
  EXPECT_EQ(r.out.back(), '\n');
}

TEST_F(ZorvekctlTest, HelpGoesToStandardOutput) {
  const Result r = run({L"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("zorvekctl [--json] status"), std::string::npos);
}

}  // namespace
}  // namespace zorvek
