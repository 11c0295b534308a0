#include "service/realtime/ChangeRecords.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace zorvek::svc {
namespace {

// One FILE_NOTIFY_INFORMATION record; `nameBytes` overrides the name length field.
struct Record {
  uint32_t next;
  uint32_t action;
  std::u16string name;
  int64_t nameBytes = -1;
};

std::vector<uint8_t> build(const std::vector<Record>& records) {
  std::vector<uint8_t> out;
  for (const Record& r : records) {
    auto put32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put32(r.next);
    put32(r.action);
    put32(r.nameBytes < 0 ? static_cast<uint32_t>(r.name.size() * 2)
                          : static_cast<uint32_t>(r.nameBytes));
    for (char16_t c : r.name) {
      out.push_back(static_cast<uint8_t>(c & 0xFF));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
  }
  return out;
}

std::vector<std::wstring> names(const std::vector<ChangeRecord>& records) {
  std::vector<std::wstring> out;
  for (const auto& r : records) out.push_back(r.name);
  return out;
}

TEST(ChangeRecordsTest, WalksRecordsAndStopsAtTheFirstBadOne) {
  // 12-byte header + 10 bytes of name ("a.exe") = 22; the next record starts at 24 (aligned).
  const struct {
    const char* what;
    std::vector<Record> records;
    std::vector<std::wstring> expected;
  } cases[] = {
      {"one record", {{0, 1, u"a.exe"}}, {L"a.exe"}},
      {"two records", {{22, 1, u"a.exe"}, {0, 3, u"sub\\b.exe"}}, {L"a.exe", L"sub\\b.exe"}},
      {"empty name skipped", {{12, 2, u""}, {0, 1, u"c.exe"}}, {L"c.exe"}},
      {"odd name length stops", {{22, 1, u"a.exe", 9}, {0, 1, u"b.exe"}}, {}},
      {"name past the end stops", {{0, 1, u"a.exe", 12}}, {}},
      {"next offset past the end stops", {{1000, 1, u"a.exe"}}, {L"a.exe"}},
      {"next offset wraps", {{0xFFFFFFF0u, 1, u"a.exe"}}, {L"a.exe"}},
      {"NUL inside a name skipped",
       {{26, 1, std::u16string(u"x.exe\0.txt", 10).substr(0, 7)}, {0, 1, u"d.exe"}},
       {L"d.exe"}},
      {"Cyrillic", {{0, 1, u"Папка\\файл.exe"}}, {L"Папка\\файл.exe"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto bytes = build(c.records);
    EXPECT_EQ(names(parseChangeRecords(bytes)), c.expected);
  }
}

TEST(ChangeRecordsTest, ReadsOnlyTheFilledBytes) {
  auto bytes = build({{22, 1, u"a.exe"}, {0, 1, u"b.exe"}});
  // The read filled only the first record and a half: the second is cut off.
  const auto records = parseChangeRecords(std::span(bytes.data(), 30));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].action, 1u);
  EXPECT_TRUE(parseChangeRecords(std::span(bytes.data(), 11)).empty());
  EXPECT_TRUE(parseChangeRecords({}).empty());
}

}  // namespace
}  // namespace zorvek::svc
