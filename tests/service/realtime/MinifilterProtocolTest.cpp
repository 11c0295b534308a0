#include "service/realtime/MinifilterProtocol.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "common/Text.h"
#include "service/realtime/DriverMessages.h"

namespace zorvek::svc {
namespace {

using test::DriverMessage;

DriverMessage with(void (*change)(DriverMessage&)) {
  DriverMessage m;
  change(m);
  return m;
}

TEST(MinifilterProtocolTest, AcceptsOnlyWhatTheRulesAllow) {
  const struct {
    const char* what;
    DriverMessage message;
    bool accepted;
  } cases[] = {
      {"file check", DriverMessage{}, true},
      {"file check of the second type", with([](DriverMessage& m) { m.type = 2; }), true},
      {"probe", test::probe(), true},
      {"probe in 32 bytes", with([](DriverMessage& m) { m = test::probe(); m.bytes = 32; }), true},
      {"probe in 31 bytes", with([](DriverMessage& m) { m = test::probe(); m.bytes = 31; }), false},
      {"header length 1061", with([](DriverMessage& m) { m.headerLength = 1061; }), false},
      {"header length wraps", with([](DriverMessage& m) { m.headerLength = 0xFFFFFFFF; }), false},
      {"file check with header length 1056",
       with([](DriverMessage& m) { m.headerLength = 1056; m.bodySize = 1056; }), true},
      {"file check with header length 1055",
       with([](DriverMessage& m) { m.headerLength = 1055; m.bodySize = 16; }), false},
      {"magic ZRVX", with([](DriverMessage& m) { m.magic = "ZRVX"; }), false},
      {"magic in lower case", with([](DriverMessage& m) { m.magic = "zrvk"; }), false},
      {"version 2", with([](DriverMessage& m) { m.version = 2; }), false},
      {"version 0", with([](DriverMessage& m) { m.version = 0; }), false},
      {"body size 15", with([](DriverMessage& m) { m.bodySize = 15; }), false},
      {"body size 16", with([](DriverMessage& m) { m.bodySize = 16; }), true},
      {"body size equal to the header length", with([](DriverMessage& m) { m.bodySize = 1060; }),
       true},
      {"body size above the header length",
       with([](DriverMessage& m) { m.headerLength = 1058; m.bodySize = 1059; }), false},
      {"unknown type 0", with([](DriverMessage& m) { m.type = 0; }), false},
      {"unknown type 4", with([](DriverMessage& m) { m.type = 4; }), false},
      {"answer type sent back", with([](DriverMessage& m) { m.type = 10; }), false},
      {"file check one byte short of its path",
       with([](DriverMessage& m) { m.bytes = 16 + 28 + 1024 - 1; }), false},
      {"file check exactly holding its path", with([](DriverMessage& m) { m.bytes = 16 + 28 + 1024; }),
       true},
      {"empty buffer", with([](DriverMessage& m) { m.bytes = 0; }), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> bytes = c.message.build();
    DriverRequest request;
    request.messageId = 99;
    EXPECT_EQ(parseDriverRequest(bytes, request), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(request.messageId, c.message.messageId);
      EXPECT_EQ(request.kind,
                c.message.type == 3 ? DriverRequestKind::Probe : DriverRequestKind::FileCheck);
    } else {
      EXPECT_EQ(request.messageId, 99u) << "an ignored message leaves the request alone";
    }
  }
}

TEST(MinifilterProtocolTest, PathEndsAtItsFirstNulOrAfter512Units) {
  std::u16string full(512, u'a');
  full.replace(0, 3, u"C:\\");
  std::wstring fullWide(512, L'a');
  fullWide.replace(0, 3, L"C:\\");
  const struct {
    const char* what;
    std::u16string path;
    std::wstring expected;
  } cases[] = {
      {"ordinary", u"C:\\Users\\bob\\app.exe", L"C:\\Users\\bob\\app.exe"},
      {"all 512 units without a NUL", full, fullWide},
      {"NUL in the middle", std::u16string(u"C:\\good.exe\0C:\\evil.exe", 24), L"C:\\good.exe"},
      {"empty", u"", L""},
      {"Cyrillic", u"C:\\Папка\\файл.exe", L"C:\\Папка\\файл.exe"},
      {"beyond the basic plane", u"C:\\\U0001F600.exe", L"C:\\\U0001F600.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DriverMessage m;
    m.path = c.path;
    DriverRequest request;
    ASSERT_TRUE(parseDriverRequest(m.build(), request));
    EXPECT_EQ(request.path, c.expected);
  }

  // Bytes after the 512 units (the buffer's last 8) never become part of the path.
  DriverMessage m;
  m.path = full;
  std::vector<uint8_t> bytes = m.build();
  for (size_t i = 16 + 28 + 1024; i < bytes.size(); ++i) bytes[i] = 'x';
  DriverRequest request;
  ASSERT_TRUE(parseDriverRequest(bytes, request));
  EXPECT_EQ(request.path, fullWide);
}

TEST(MinifilterProtocolTest, AnswerBytes) {
  const uint8_t allow[40] = {0, 0, 0, 0, 0, 0, 0, 0,                      // zero
                             0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // message id
                             'Z', 'R', 'V', 'K', 1, 0, 0, 0,              // magic, version
                             10, 0, 0, 0, 40, 0, 0, 0,                    // type, size
                             0, 0, 0, 0, 0, 0, 0, 0};                     // verdict, zero
  const DriverAnswer a = buildDriverAnswer(0x0102030405060708ull, false);
  EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.end()), std::vector<uint8_t>(allow, allow + 40));
  const DriverAnswer b = buildDriverAnswer(0x0102030405060708ull, true);
  std::vector<uint8_t> block(allow, allow + 40);
  block[32] = 1;
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.end()), block);
}

TEST(MinifilterProtocolTest, AnswerForEachKindOfMessage) {
  const auto throwing = [](const std::wstring&) -> bool { throw std::runtime_error("scan failed"); };
  const struct {
    const char* what;
    DriverMessage message;
    std::function<bool(const std::wstring&)> allow;
    bool answered, asked, block;
  } cases[] = {
      {"probe: allowed without asking", test::probe(),
       [](const std::wstring&) { return false; }, true, false, false},
      {"clean file", DriverMessage{}, [](const std::wstring&) { return true; }, true, true, false},
      {"threat", DriverMessage{}, [](const std::wstring&) { return false; }, true, true, true},
      {"check that throws: allowed", DriverMessage{}, throwing, true, true, false},
      {"no check: allowed", DriverMessage{}, {}, true, false, false},
      {"ignored: no answer, no check", with([](DriverMessage& m) { m.version = 2; }),
       [](const std::wstring&) { return false; }, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    bool asked = false;
    std::wstring askedPath;
    const auto allow = [&](const std::wstring& path) {
      asked = true;
      askedPath = path;
      return c.allow(path);
    };
    bool fileCheck = true;
    const auto answer =
        answerDriverRequest(c.message.build(), c.allow ? allow : decltype(c.allow){}, &fileCheck);
    ASSERT_EQ(answer.has_value(), c.answered);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(fileCheck, c.answered && c.message.type != 3);
    if (asked) {
      EXPECT_EQ(askedPath, L"C:\\Users\\bob\\app.exe");
    }
    if (answer) {
      EXPECT_EQ(*answer, buildDriverAnswer(c.message.messageId, c.block));
    }
  }
}

TEST(MinifilterProtocolTest, UnavailableText) {
  EXPECT_EQ(filterUnavailableText(0x80004001u), "фильтр-драйвер недоступен (hr=0x80004001)");
  EXPECT_EQ(filterUnavailableText(0x1Fu), "фильтр-драйвер недоступен (hr=0x0000001F)");
}

}  // namespace
}  // namespace zorvek::svc
