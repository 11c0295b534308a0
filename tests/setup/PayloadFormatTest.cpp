#include "setup/PayloadFormat.h"

#include <gtest/gtest.h>

#include "PayloadBuilder.h"
#include "common/Text.h"
#include "setup/EntryName.h"

namespace setup {
namespace {

using test::container;
using test::installer;

std::string dataOf(ByteSource& source, const PayloadEntry& e) {
  std::string out(e.size, '\0');
  EXPECT_TRUE(source.readAt(e.offset, out.data(), out.size()));
  return out;
}

TEST(PayloadFormatTest, RoundTrip) {
  const test::Files files = {{"ZorvekService.exe", "MZ service"},
                             {"data/signatures.seed.txt", "ZORVEKDB/1\n"},
                             {"empty", ""},
                             {std::string(kMaxEntryName, 'n'), "longest name"}};
  const std::string bytes = installer("MZ image bytes", files);
  MemorySource source(bytes);
  const PayloadIndex index = indexPayload(source);
  ASSERT_EQ(index.state, PayloadState::Present) << index.status;
  EXPECT_EQ(index.status, "хвост прочитан: " + std::to_string(container(files).size()));
  ASSERT_EQ(index.entries.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(index.entries[i].name, files[i].first);
    EXPECT_EQ(dataOf(source, index.entries[i]), files[i].second);
  }
  EXPECT_EQ(index.totalBytes(), 10u + 11u + 0u + 12u);
}

TEST(PayloadFormatTest, OrdinaryBuildHasNoPayload) {
  for (const std::string& image : {std::string(32, 'M'), std::string(4096, '\0')}) {
    MemorySource source(image);
    const PayloadIndex index = indexPayload(source);
    EXPECT_EQ(index.state, PayloadState::Absent);
    EXPECT_EQ(index.status, "завершающего блока нет: это обычная сборка без нагрузки");
    EXPECT_TRUE(index.entries.empty());
  }
}

TEST(PayloadFormatTest, TrailerFaults) {
  const std::string image = "MZ image";
  const std::string box = container({{"a", "1"}});
  const uint64_t total = image.size() + box.size() + kTrailerSize;
  std::string badTrailerSize = installer(image, box);
  badTrailerSize[badTrailerSize.size() - 8] = 33;
  const struct {
    const char* what;
    std::string bytes;
    std::string status;
  } cases[] = {
      {"shorter than a trailer", std::string(31, 'x'), "файл меньше завершающего блока"},
      {"trailer size field", badTrailerSize, "размер завершающего блока неверный"},
      {"offset one too far", image + box + makeTrailer(image.size() + 1, box.size()),
       "границы не сходятся: " + std::to_string(image.size() + 1) + "+" +
           std::to_string(box.size()) + "+32 != " + std::to_string(total)},
      {"size one short", image + box + makeTrailer(image.size(), box.size() - 1),
       "границы не сходятся: " + std::to_string(image.size()) + "+" +
           std::to_string(box.size() - 1) + "+32 != " + std::to_string(total)},
      // offset + size wraps to exactly the right sum in 64 bits.
      {"wrapping sum", image + box + makeTrailer(~uint64_t{0}, image.size() + box.size() + 1),
       "границы не сходятся: 18446744073709551615+" + std::to_string(image.size() + box.size() + 1) +
           "+32 != " + std::to_string(total)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySource source(c.bytes);
    const PayloadIndex index = indexPayload(source);
    EXPECT_EQ(index.state, PayloadState::Damaged);
    EXPECT_EQ(index.status, c.status);
    EXPECT_TRUE(index.entries.empty());
  }
}

TEST(PayloadFormatTest, DamagedContainersYieldNoEntries) {
  const test::Files two = {{"a", "first"}, {"b", "second"}};
  std::string badMagic = container(two);
  badMagic[0] = 'X';
  std::string countTooHigh = container(two);
  countTooHigh[8] = 3;
  std::string hugeCount = container(two);
  hugeCount.replace(8, 4, "\xFF\xFF\xFF\xFF");
  std::string nameTooLong = container({{"a", "1"}});
  nameTooLong.replace(12, 4, std::string("\x01\x10\x00\x00", 4));  // 4097
  std::string sizeRunsPast = container(two);
  sizeRunsPast.replace(sizeRunsPast.size() - 6 - 8, 8, std::string("\x07\0\0\0\0\0\0\0", 8));
  std::string hugeSize = container(two);
  hugeSize.replace(hugeSize.size() - 6 - 8, 8, std::string(8, '\xFF'));
  const struct {
    const char* what;
    std::string box;
    const char* reason;
  } cases[] = {
      {"header cut short", "ZRVK\x01", "контейнер обрезан: заголовок"},
      {"magic", badMagic, "неверная сигнатура контейнера"},
      {"version 2", container(two, 2), "версия контейнера 2 не поддерживается"},
      {"version 0", container(two, 0), "версия контейнера 0 не поддерживается"},
      {"count above the entries", countTooHigh, "контейнер обрезан: запись 3"},
      {"count above the cap", hugeCount, "слишком много записей: 4294967295"},
      {"empty name", container({{"", "x"}}), "запись 1: длина имени 0 вне 1..4096"},
      {"name too long", nameTooLong, "запись 1: длина имени 4097 вне 1..4096"},
      {"second entry runs past the end", sizeRunsPast, "контейнер обрезан: запись 2"},
      {"size near 2^64", hugeSize, "контейнер обрезан: запись 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = installer("MZ", c.box);
    MemorySource source(bytes);
    const PayloadIndex index = indexPayload(source);
    EXPECT_EQ(index.state, PayloadState::Damaged);
    EXPECT_EQ(index.status,
              "хвост прочитан: " + std::to_string(c.box.size()) + ", но " + c.reason);
    EXPECT_TRUE(index.entries.empty()) << "no partial list, even when the first entry was whole";
  }
}

TEST(PayloadFormatTest, ReadFailures) {
  // A source that knows its size but cannot read the bytes [lo, hi).
  struct Failing : MemorySource {
    Failing(std::string_view b, uint64_t l, uint64_t h) : MemorySource(b), lo(l), hi(h) {}
    bool readAt(uint64_t offset, void* buffer, size_t count) override {
      return (offset + count <= lo || offset >= hi) && MemorySource::readAt(offset, buffer, count);
    }
    uint64_t lo, hi;
  };
  const std::string bytes = installer("MZ", {{"a", "1"}});
  Failing noTrailer(bytes, bytes.size() - 1, bytes.size());
  EXPECT_EQ(indexPayload(noTrailer).status, "не прочитан завершающий блок");
  Failing noContainer(bytes, 2, 3);
  const PayloadIndex index = indexPayload(noContainer);
  EXPECT_EQ(index.state, PayloadState::Damaged);
  EXPECT_EQ(index.status, "контейнер не прочитан");
}

TEST(EntryNameTest, AcceptedNamesLandInsideTheFolder) {
  const std::wstring folder = L"base";
  const wchar_t sep = sizeof(wchar_t) == 2 ? L'\\' : L'/';  // the platform's own separator
  const struct {
    std::string name;
    std::wstring relative;
  } cases[] = {
      {"ZorvekService.exe", L"ZorvekService.exe"},
      {"data/signatures.seed.txt", std::wstring(L"data") + sep + L"signatures.seed.txt"},
      {"data/", L"data"},
      {"данные/файл.txt", std::wstring(L"данные") + sep + L"файл.txt"},
      {"console.exe", L"console.exe"},
      {"com10", L"com10"},
      {"x.nul", L"x.nul"},
      {"a.b.c", L"a.b.c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring target;
    ASSERT_TRUE(entryTargetPath(folder, c.name, target));
    EXPECT_EQ(target, folder + sep + c.relative);
    EXPECT_TRUE(entryNameAllowed(c.name));
  }
}

TEST(EntryNameTest, RefusedNames) {
  const std::string refused[] = {
      "..", "../x", "a/../b", "a..b", "data/..", "a\\b", "\\x", "/etc/passwd", "/",
      // A drive letter or an alternate data stream would leave the folder once joined.
      "C:evil.exe", "C:/x", "data/a:stream", "a:", std::string("a\0b", 3), std::string(1, '\0'),
      // Device names open devices in any folder.
      "CON", "con.txt", "data/nul.txt", "Aux", "LPT1", "com9.log", "prn ", "CONOUT$",
      ".", "./", "./.", ""};
  for (const auto& name : refused) {
    SCOPED_TRACE(name);
    std::wstring target = L"untouched";
    EXPECT_FALSE(entryTargetPath(L"base", name, target));
    EXPECT_TRUE(target.empty());
  }
}

TEST(EntryNameTest, SuspiciousNameTextShowsNoControlCharacters) {
  EXPECT_EQ(suspiciousNameText("../x"), "подозрительное имя файла в нагрузке: ../x");
  EXPECT_EQ(suspiciousNameText(std::string("a\r\n00:00:00 forged\0", 19)),
            "подозрительное имя файла в нагрузке: a??00:00:00 forged?");
}

}  // namespace
}  // namespace setup
