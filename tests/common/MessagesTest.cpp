#include "common/Messages.h"

#include <gtest/gtest.h>

#include <functional>

#include "common/Wire.h"

namespace zorvek::ipc {
namespace {

HelloReply sampleHello() {
  HelloReply h;
  h.version = "1.2.0";
  h.signatureCount = 0x100000001;
  h.databaseVersion = "2026.12.08";
  h.protectionEnabled = true;
  h.realTimeEnabled = false;
  h.minifilter = true;
  h.scanRunning = true;
  h.liveUpdateRunning = false;
  h.liveUpdateError = "HTTP 503";
  h.lastLiveUpdateUtc = 1765000000;
  h.selfUpdateRunning = true;
  h.selfUpdateError = "обновление уже выполняется";
  h.installerPath = L"C:\\ProgramData\\ZORVEK Antivirus\\updates\\ZorvekSetup.exe";
  h.quarantineGeneration = 0x0102030405060708;
  h.notificationOverflows = 0x1112131415161718;
  return h;
}

ProgressReply sampleProgress() {
  ProgressReply p;
  p.progress = {1, 2, 3, 4, L"C:\\Users\\Анна\\file.txt", L"scanning"};
  p.scanRunning = true;
  p.summary = {10, 2, 1, 4096, 1234, true};
  p.detections = {{L"C:\\a.exe", "Win.Trojan.Generic", "SIG.MATCH", 3, 77},
                  {L"/tmp/b", "", "", 0, 0}};
  return p;
}

std::vector<DetectionRecord> sampleDetections() {
  DetectionRecord d;
  d.path = L"C:\\Downloads\\report.pdf.exe";
  d.threatName = "Двойное расширение";
  d.secondText = "FS.DOUBLE_EXT";
  d.level = 3;
  d.size = 123456;
  d.detail = "sha256 0123";
  d.findings = {{3, "FS.DOUBLE_EXT", "Двойное расширение", "Имя report.pdf.exe ..."},
                {2, "FS.DOWNLOADED_EXE", "Исполняемый файл из папки загрузок", ""}};
  d.reasons = {"Двойное расширение", "Исполняемый файл из папки загрузок"};
  DetectionRecord empty;
  return {d, empty};
}

ThreatDecisionRequest sampleDecision() {
  return {L"C:\\x\\svchost.exe", 2, "Маскируется под системный процесс", "FS.IMPERSONATE", 3,
          999, ""};
}

std::vector<QuarantineRecord> sampleQuarantine() {
  QuarantineRecord q{1765000000123, L"C:\\Users\\Анна\\setup.exe",
                     L"C:\\ProgramData\\ZORVEK Antivirus\\Quarantine\\1765000000_0123456789abcdef_setup.exe",
                     L"setup.exe", std::string(64, 'a'), "Win.Trojan.Generic", "SIG.MATCH", 4,
                     5000, 1765000000};
  return {q, QuarantineRecord{}};
}

ConfigPayload sampleConfig() {
  ConfigPayload c;
  c.protectionEnabled = false;
  c.realTimeEnabled = false;
  c.scanArchives = true;
  c.scanRemovable = true;
  c.showThreatModal = false;
  c.quarantineOnDetect = true;
  c.scheduledScan = false;
  c.scheduledHour = 30;
  c.lastScanUtc = 1;
  c.lastThreatCount = 2;
  c.signatureDb = L"D:\\db\\сигнатуры.txt";
  c.quarantineDir = L"D:\\q";
  c.liveUpdates = false;
  c.lastLiveUpdateUtc = 3;
  c.webShield = false;
  return c;
}

// For one payload type: the encoded sample, and a decode that reports success and whether the
// decoded value equals the sample.
struct Codec {
  const char* name;
  std::string encoded;
  std::function<bool(std::string_view, bool&)> decode;
};

template <typename T, typename Dec>
Codec codec(const char* name, const T& sample, std::string encoded, Dec dec) {
  return {name, std::move(encoded), [sample, dec](std::string_view payload, bool& equal) {
            T value{};
            const bool ok = dec(payload, value);
            equal = value == sample;
            return ok;
          }};
}

std::vector<Codec> allCodecs() {
  return {
      codec("HelloReply", sampleHello(), encodeHelloReply(sampleHello()), decodeHelloReply),
      codec("Ping reply", uint32_t{0xDEADBEEF}, encodeU32Payload(0xDEADBEEF), decodeU32Payload),
      codec("quarantine id", uint64_t{1765000000123}, encodeU64Payload(1765000000123),
            decodeU64Payload),
      codec("string", std::string("domain,1"), encodeStringPayload("domain,1"),
            decodeStringPayload),
      codec("StartScan", StartScanRequest{ScanScope::Paths, {L"C:\\a", L"D:\\б"}},
            encodeStartScanRequest({ScanScope::Paths, {L"C:\\a", L"D:\\б"}}),
            [](std::string_view p, StartScanRequest& r) { return decodeStartScanRequest(p, r); }),
      codec("ProgressReply", sampleProgress(), encodeProgressReply(sampleProgress()),
            decodeProgressReply),
      codec("DetectionList", sampleDetections(), encodeDetectionList(sampleDetections()),
            decodeDetectionList),
      codec("ThreatDecision", sampleDecision(), encodeThreatDecisionRequest(sampleDecision()),
            decodeThreatDecisionRequest),
      codec("QuarantineList", sampleQuarantine(), encodeQuarantineList(sampleQuarantine()),
            decodeQuarantineList),
      codec("ConfigPayload", sampleConfig(), encodeConfigPayload(sampleConfig()),
            [](std::string_view p, ConfigPayload& c) { return decodeConfigPayload(p, c); }),
      codec("FirewallReply", FirewallReply{true, "правило добавлено"},
            encodeFirewallReply({true, "правило добавлено"}), decodeFirewallReply),
  };
}

TEST(MessagesTest, EveryPayloadRoundTripsAndIgnoresTrailingBytes) {
  for (const auto& c : allCodecs()) {
    SCOPED_TRACE(c.name);
    for (const std::string& payload : {c.encoded, c.encoded + std::string("\x01\x02\x03", 3)}) {
      bool equal = false;
      EXPECT_TRUE(c.decode(payload, equal));
      EXPECT_TRUE(equal);
    }
  }
}

TEST(MessagesTest, EveryTruncatedPayloadIsRejected) {
  for (const auto& c : allCodecs()) {
    SCOPED_TRACE(c.name);
    // An older service's Hello ends before the quarantine generation or the overflow count (see
    // below).
    const bool hello = c.name == std::string_view("HelloReply");
    for (size_t keep = 0; keep < c.encoded.size(); ++keep) {
      if (hello && (keep == c.encoded.size() - 8 || keep == c.encoded.size() - 16)) continue;
      bool equal = false;
      EXPECT_FALSE(c.decode(std::string_view(c.encoded).substr(0, keep), equal)) << keep;
    }
  }
}

TEST(MessagesTest, HelloOfAnOlderServiceLacksTheLaterFields) {
  HelloReply h = sampleHello();
  const std::string full = encodeHelloReply(h);
  HelloReply older;
  older.quarantineGeneration = older.notificationOverflows = 99;
  ASSERT_TRUE(decodeHelloReply(std::string_view(full).substr(0, full.size() - 8), older));
  EXPECT_EQ(older.quarantineGeneration, h.quarantineGeneration);
  EXPECT_EQ(older.notificationOverflows, 0u);
  ASSERT_TRUE(decodeHelloReply(std::string_view(full).substr(0, full.size() - 16), older));
  h.quarantineGeneration = h.notificationOverflows = 0;
  EXPECT_EQ(older, h);
  // A newer service's fields beyond these are left for a newer client.
  ASSERT_TRUE(decodeHelloReply(full + std::string(8, '\x7f'), older));
  EXPECT_EQ(older, sampleHello());
}

TEST(MessagesTest, WireOrderOfConfigPayload) {
  ConfigPayload c;
  c.scheduledHour = 7;
  c.signatureDb = L"db";
  const std::string payload = encodeConfigPayload(c);
  WireReader r(payload);
  for (int i = 0; i < 7; ++i) r.boolean();
  EXPECT_EQ(r.u32(), 7u);
  r.u64();
  r.u64();
  EXPECT_EQ(r.string(), "db");
  EXPECT_EQ(r.string(), "");
  EXPECT_TRUE(r.boolean());  // LiveUpdates
  EXPECT_EQ(r.u64(), 0u);
  EXPECT_TRUE(r.boolean());  // WebShield
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(MessagesTest, DetectionFindingsTravelAsLevelCodeTitleDetailThenReasons) {
  DetectionRecord d;
  d.findings = {{2, "C", "T", "D"}};
  d.reasons = {"R"};
  const std::string payload = encodeDetectionList({d});
  WireReader r(payload);
  EXPECT_EQ(r.u32(), 1u);
  r.wstring();
  r.string();
  r.string();
  r.u32();
  r.u64();
  r.string();
  EXPECT_EQ(r.u32(), 1u);
  EXPECT_EQ(r.u32(), 2u);
  EXPECT_EQ(r.string(), "C");
  EXPECT_EQ(r.string(), "T");
  EXPECT_EQ(r.string(), "D");
  EXPECT_EQ(r.u32(), 1u);
  EXPECT_EQ(r.string(), "R");
  EXPECT_TRUE(r.ok());
}

TEST(MessagesTest, ConfigDecodeFailureLeavesTheRecordAlone) {
  ConfigPayload c = sampleConfig();
  const std::string payload = encodeConfigPayload(ConfigPayload{});
  EXPECT_FALSE(decodeConfigPayload(std::string_view(payload).substr(0, 40), c));
  EXPECT_EQ(c, sampleConfig());
}

TEST(MessagesTest, ListCountsAboveTheClientLimitsAreMalformed) {
  // Counts the client refuses, even though the payload would otherwise be readable.
  ProgressReply p;
  p.detections.resize(kMaxProgressDetections + 1);
  ProgressReply decoded;
  EXPECT_FALSE(decodeProgressReply(encodeProgressReply(p), decoded));
  p.detections.resize(kMaxProgressDetections);
  EXPECT_TRUE(decodeProgressReply(encodeProgressReply(p), decoded));
  EXPECT_EQ(decoded.detections.size(), kMaxProgressDetections);

  std::vector<QuarantineRecord> list;
  const std::string tooMany = WireWriter().u32(kMaxQuarantineRecords + 1).take() +
                              std::string(64 * (kMaxQuarantineRecords + 1), '\0');
  EXPECT_FALSE(decodeQuarantineList(tooMany, list));
}

TEST(MessagesTest, HostileCountsFailFast) {
  const std::string huge = WireWriter().u32(0).u32(0xFFFFFFFF).take();
  StartScanRequest s;
  EXPECT_FALSE(decodeStartScanRequest(huge, s));
  std::vector<DetectionRecord> d;
  EXPECT_FALSE(decodeDetectionList(WireWriter().u32(0xFFFFFFFF).take(), d));
}

TEST(MessagesTest, StartScanPathsAreBounded) {
  const auto paths = [](size_t count, size_t chars) {
    return StartScanRequest{ScanScope::Paths, std::vector<std::wstring>(count, std::wstring(chars, L'я'))};
  };
  const struct {
    const char* what;
    std::string payload;
    const char* error;  // nullptr: accepted
  } cases[] = {
      {"the most paths", encodeStartScanRequest(paths(kMaxScanPaths, 1)), nullptr},
      {"one path too many", encodeStartScanRequest(paths(kMaxScanPaths + 1, 1)), "too many scan paths"},
      {"the longest path", encodeStartScanRequest(paths(2, kMaxScanPathChars)), nullptr},
      {"a path too long", encodeStartScanRequest(paths(2, kMaxScanPathChars + 1)), "too many scan paths"},
      // The whole frame as empty paths: refused on the count, before any path is read.
      {"a frame of empty paths", WireWriter().u32(3).u32((kMaxPayloadSize - 8) / 4).take() +
                                     std::string(kMaxPayloadSize - 8, '\0'),
       "too many scan paths"},
      {"a count past the payload", WireWriter().u32(3).u32(5).u32(0).take(), "malformed StartScan payload"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartScanRequest r;
    std::string error;
    EXPECT_EQ(decodeStartScanRequest(c.payload, r, &error), c.error == nullptr);
    EXPECT_EQ(error, c.error ? c.error : "");
  }
}

TEST(MessagesTest, ListRepliesHoldWhatFitsTheirBudget) {
  std::vector<QuarantineRecord> list(5);
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].id = i + 1;
    list[i].originPath = std::wstring(100, L'a');
  }
  const std::string whole = encodeQuarantineList(list);
  const size_t each = (whole.size() - 4) / list.size();
  for (const size_t budget : {whole.size(), whole.size() - 1, 4 + 2 * each, 4 + 2 * each + 1, size_t{4}}) {
    SCOPED_TRACE(budget);
    size_t sent = 99;
    const std::string payload = encodeQuarantineList(list, &sent, budget);
    EXPECT_LE(payload.size(), budget);
    EXPECT_EQ(sent, std::min(list.size(), (budget - 4) / each));
    std::vector<QuarantineRecord> decoded;
    ASSERT_TRUE(decodeQuarantineList(payload, decoded));
    EXPECT_EQ(decoded, std::vector<QuarantineRecord>(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(sent)));
  }
  // The progress reply keeps its fixed fields and cuts only the detections.
  ProgressReply p = sampleProgress();
  p.detections.assign(3, p.detections[0]);
  const std::string full = encodeProgressReply(p);
  size_t sent = 0;
  ProgressReply decoded;
  ASSERT_TRUE(decodeProgressReply(encodeProgressReply(p, &sent, full.size() - 1), decoded));
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(decoded.detections.size(), 2u);
  EXPECT_EQ(decoded.summary, p.summary);
}

TEST(MessagesTest, ErrorReplyText) {
  EXPECT_EQ(errorReplyText(encodeStringPayload("record not found")), "record not found");
  EXPECT_EQ(errorReplyText(encodeStringPayload("")), "service reported an error");
  EXPECT_EQ(errorReplyText(""), "service reported an error");
  EXPECT_EQ(errorReplyText(std::string("\x05\0\0\0ab", 6)), "service reported an error");
}

TEST(MessagesTest, OpcodeNames) {
  EXPECT_STREQ(opcodeName(kOpHello), "Hello");
  EXPECT_STREQ(opcodeName(kOpShutdown), "Shutdown");
  EXPECT_STREQ(opcodeName(kOpFirewallRemoveRules), "FirewallRemoveRules");
  EXPECT_STREQ(opcodeName(kOpError), "Error");
  EXPECT_EQ(opcodeName(0), nullptr);
  EXPECT_EQ(opcodeName(22), nullptr);
}

}  // namespace
}  // namespace zorvek::ipc
