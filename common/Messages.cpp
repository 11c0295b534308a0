#include "common/Messages.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "common/Text.h"
#include "common/Wire.h"

namespace zorvek::ipc {
namespace {

// Smallest wire size of a list element, so a count can be checked against the payload left.
constexpr size_t kMinThreatRecord = 4 + 4 + 4 + 4 + 8;
constexpr size_t kMinFinding = 4 + 4 + 4 + 4;
constexpr size_t kMinDetectionRecord = kMinThreatRecord + 4 + 4 + 4;
constexpr size_t kMinQuarantineRecord = 8 + 6 * 4 + 4 + 8 + 8;
constexpr size_t kMinString = 4;
constexpr uint32_t kNoCap = 0xFFFFFFFF;
// Reserve no more than this ahead of parsing: the elements still have to be read.
constexpr uint32_t kMaxReserve = 4096;

template <typename V>
void reserveFor(V& v, uint32_t n) {
  v.reserve(std::min(n, kMaxReserve));
}

// Decodes into a fresh value and hands it over only when the whole payload read cleanly.
template <typename T, typename F>
bool decodeInto(std::string_view payload, T& out, T fresh, F read) {
  WireReader r(payload);
  read(r, fresh);
  if (!r.ok()) return false;
  out = std::move(fresh);
  return true;
}

// Writes the count and then as many records as keep the payload within `maxBytes`.
template <typename T, typename Write>
void writeListWithin(WireWriter& w, const std::vector<T>& list, size_t maxBytes, size_t* sent,
                     Write write) {
  const size_t countAt = w.size();
  w.u32(0);
  uint32_t n = 0;
  for (const T& item : list) {
    const size_t before = w.size();
    write(w, item);
    if (w.size() > maxBytes) {
      w.truncate(before);
      break;
    }
    ++n;
  }
  w.patchU32(countAt, n);
  if (sent) *sent = n;
}

void writeThreatRecord(WireWriter& w, const ThreatRecord& t) {
  w.wstring(t.path).string(t.threatName).string(t.secondText).u32(t.level).u64(t.size);
}

void readThreatRecord(WireReader& r, ThreatRecord& t) {
  t.path = r.wstring();
  t.threatName = r.string();
  t.secondText = r.string();
  t.level = r.u32();
  t.size = r.u64();
}

void writeDetection(WireWriter& w, const DetectionRecord& d) {
  w.wstring(d.path).string(d.threatName).string(d.secondText).u32(d.level).u64(d.size);
  w.string(d.detail);
  w.u32(static_cast<uint32_t>(d.findings.size()));
  for (const auto& f : d.findings) w.u32(f.level).string(f.code).string(f.title).string(f.detail);
  w.u32(static_cast<uint32_t>(d.reasons.size()));
  for (const auto& s : d.reasons) w.string(s);
}

void readDetection(WireReader& r, DetectionRecord& d) {
  d.path = r.wstring();
  d.threatName = r.string();
  d.secondText = r.string();
  d.level = r.u32();
  d.size = r.u64();
  d.detail = r.string();
  const uint32_t findings = r.count(kNoCap, kMinFinding);
  reserveFor(d.findings, findings);
  for (uint32_t i = 0; i < findings && r.ok(); ++i) {
    Finding f;
    f.level = r.u32();
    f.code = r.string();
    f.title = r.string();
    f.detail = r.string();
    d.findings.push_back(std::move(f));
  }
  const uint32_t reasons = r.count(kNoCap, kMinString);
  reserveFor(d.reasons, reasons);
  for (uint32_t i = 0; i < reasons && r.ok(); ++i) d.reasons.push_back(r.string());
}

void writeQuarantineRecord(WireWriter& w, const QuarantineRecord& q) {
  w.u64(q.id).wstring(q.originPath).wstring(q.storedPath).wstring(q.name);
  w.string(q.sha256).string(q.threat).string(q.code).u32(q.severity).u64(q.size).u64(q.time);
}

void readQuarantineRecord(WireReader& r, QuarantineRecord& q) {
  q.id = r.u64();
  q.originPath = r.wstring();
  q.storedPath = r.wstring();
  q.name = r.wstring();
  q.sha256 = r.string();
  q.threat = r.string();
  q.code = r.string();
  q.severity = r.u32();
  q.size = r.u64();
  q.time = r.u64();
}

// Settings by value type: a flag is a bool, the hour a u32, counts u64.
void put(WireWriter& w, bool v) { w.boolean(v); }
void put(WireWriter& w, uint32_t v) { w.u32(v); }
void put(WireWriter& w, uint64_t v) { w.u64(v); }
void put(WireWriter& w, const std::wstring& v) { w.wstring(v); }
void put(WireWriter& w, const std::string& v) { w.string(v); }
void get(WireReader& r, bool& v) { v = r.boolean(); }
void get(WireReader& r, uint32_t& v) { v = r.u32(); }
void get(WireReader& r, uint64_t& v) { v = r.u64(); }
void get(WireReader& r, std::wstring& v) { v = r.wstring(); }
void get(WireReader& r, std::string& v) { v = r.string(); }

}  // namespace

const char* opcodeName(uint32_t opcode) {
  static const char* const kNames[] = {
      "Hello", "Ping", "StartScan", "Progress", "CancelScan", "ScanDetections", "ThreatDecision",
      "QuarantineList", "QuarantineDelete", "QuarantineRestore", "GetConfig", "SetConfig",
      "UpdateSignatures", "LiveUpdate", "SelfUpdate", "FirewallStatus", "FirewallSetProfile",
      "FirewallBlockInbound", "FirewallAppRule", "FirewallRemoveRules", "Shutdown"};
  static_assert(std::size(kNames) == kOpLast);
  if (opcode == kOpError) return "Error";
  if (opcode == 0 || opcode > kOpLast) return nullptr;
  return kNames[opcode - 1];
}

std::string encodeHelloReply(const HelloReply& h) {
  WireWriter w;
  w.string(h.version).u64(h.signatureCount).string(h.databaseVersion);
  w.boolean(h.protectionEnabled).boolean(h.realTimeEnabled).boolean(h.minifilter);
  w.boolean(h.scanRunning).boolean(h.liveUpdateRunning).string(h.liveUpdateError);
  w.u64(h.lastLiveUpdateUtc).boolean(h.selfUpdateRunning).string(h.selfUpdateError);
  w.wstring(h.installerPath);
  w.u64(h.quarantineGeneration).u64(h.notificationOverflows);
  return w.take();
}

bool decodeHelloReply(std::string_view payload, HelloReply& out) {
  return decodeInto(payload, out, HelloReply{}, [](WireReader& r, HelloReply& h) {
    h.version = r.string();
    h.signatureCount = r.u64();
    h.databaseVersion = r.string();
    h.protectionEnabled = r.boolean();
    h.realTimeEnabled = r.boolean();
    h.minifilter = r.boolean();
    h.scanRunning = r.boolean();
    h.liveUpdateRunning = r.boolean();
    h.liveUpdateError = r.string();
    h.lastLiveUpdateUtc = r.u64();
    h.selfUpdateRunning = r.boolean();
    h.selfUpdateError = r.string();
    h.installerPath = r.wstring();
    if (r.remaining() != 0) h.quarantineGeneration = r.u64();
    if (r.remaining() != 0) h.notificationOverflows = r.u64();
  });
}

std::string encodeU32Payload(uint32_t value) { return WireWriter().u32(value).take(); }

bool decodeU32Payload(std::string_view payload, uint32_t& out) {
  return decodeInto(payload, out, uint32_t{0}, [](WireReader& r, uint32_t& v) { v = r.u32(); });
}

std::string encodeU64Payload(uint64_t value) { return WireWriter().u64(value).take(); }

bool decodeU64Payload(std::string_view payload, uint64_t& out) {
  return decodeInto(payload, out, uint64_t{0}, [](WireReader& r, uint64_t& v) { v = r.u64(); });
}

std::string encodeStringPayload(std::string_view text) { return WireWriter().string(text).take(); }

bool decodeStringPayload(std::string_view payload, std::string& out) {
  return decodeInto(payload, out, std::string(), [](WireReader& r, std::string& s) { s = r.string(); });
}

std::string errorReplyText(std::string_view payload) {
  std::string text;
  if (!decodeStringPayload(payload, text) || text.empty()) return "service reported an error";
  return text;
}

std::string encodeStartScanRequest(const StartScanRequest& s) {
  WireWriter w;
  w.u32(static_cast<uint32_t>(s.scope)).u32(static_cast<uint32_t>(s.paths.size()));
  for (const auto& p : s.paths) w.wstring(p);
  return w.take();
}

bool decodeStartScanRequest(std::string_view payload, StartScanRequest& out, std::string* error) {
  bool tooMany = false;
  const auto refuse = [&](WireReader& r) {
    tooMany = true;
    r.fail();
  };
  const bool ok = decodeInto(payload, out, StartScanRequest{}, [&](WireReader& r, StartScanRequest& s) {
    s.scope = static_cast<ScanScope>(r.u32());
    WireReader peek = r;
    if (peek.u32() > kMaxScanPaths && peek.ok()) return refuse(r);
    const uint32_t n = r.count(kMaxScanPaths, kMinString);
    reserveFor(s.paths, n);
    for (uint32_t i = 0; i < n && r.ok(); ++i) {
      const std::string utf8 = r.string();
      // No wide character takes more than four bytes of UTF-8: refuse before converting.
      if (utf8.size() > 4 * kMaxScanPathChars) return refuse(r);
      std::wstring path = utf8.empty() ? std::wstring() : toWide(utf8);
      if (path.size() > kMaxScanPathChars) return refuse(r);
      s.paths.push_back(std::move(path));
    }
  });
  if (!ok && error) *error = tooMany ? "too many scan paths" : "malformed StartScan payload";
  return ok;
}

std::string encodeProgressReply(const ProgressReply& p, size_t* sent, size_t maxBytes) {
  WireWriter w;
  const auto& g = p.progress;
  w.u64(g.filesDone).u64(g.filesTotal).u64(g.bytesDone).u64(g.bytesTotal);
  w.wstring(g.currentFile).wstring(g.phase);
  w.boolean(p.scanRunning);
  const auto& s = p.summary;
  w.u64(s.filesScanned).u64(s.threats).u64(s.suspicious).u64(s.bytesScanned).u64(s.elapsedMs);
  w.boolean(s.cancelled);
  writeListWithin(w, p.detections, maxBytes, sent, writeThreatRecord);
  return w.take();
}

bool decodeProgressReply(std::string_view payload, ProgressReply& out) {
  return decodeInto(payload, out, ProgressReply{}, [](WireReader& r, ProgressReply& p) {
    auto& g = p.progress;
    g.filesDone = r.u64();
    g.filesTotal = r.u64();
    g.bytesDone = r.u64();
    g.bytesTotal = r.u64();
    g.currentFile = r.wstring();
    g.phase = r.wstring();
    p.scanRunning = r.boolean();
    auto& s = p.summary;
    s.filesScanned = r.u64();
    s.threats = r.u64();
    s.suspicious = r.u64();
    s.bytesScanned = r.u64();
    s.elapsedMs = r.u64();
    s.cancelled = r.boolean();
    const uint32_t n = r.count(kMaxProgressDetections, kMinThreatRecord);
    reserveFor(p.detections, n);
    for (uint32_t i = 0; i < n && r.ok(); ++i) {
      ThreatRecord t;
      readThreatRecord(r, t);
      p.detections.push_back(std::move(t));
    }
  });
}

std::string encodeDetectionList(const std::vector<DetectionRecord>& list, size_t* sent,
                                size_t maxBytes) {
  WireWriter w;
  writeListWithin(w, list, maxBytes, sent, writeDetection);
  return w.take();
}

bool decodeDetectionList(std::string_view payload, std::vector<DetectionRecord>& out) {
  return decodeInto(payload, out, std::vector<DetectionRecord>{},
                    [](WireReader& r, std::vector<DetectionRecord>& list) {
                      const uint32_t n = r.count(kNoCap, kMinDetectionRecord);
                      reserveFor(list, n);
                      for (uint32_t i = 0; i < n && r.ok(); ++i) {
                        DetectionRecord d;
                        readDetection(r, d);
                        list.push_back(std::move(d));
                      }
                    });
}

std::string encodeThreatDecisionRequest(const ThreatDecisionRequest& t) {
  WireWriter w;
  w.wstring(t.path).u32(t.action).string(t.threatName).string(t.secondText).u32(t.level);
  w.u64(t.size).string(t.detail);
  return w.take();
}

bool decodeThreatDecisionRequest(std::string_view payload, ThreatDecisionRequest& out) {
  return decodeInto(payload, out, ThreatDecisionRequest{},
                    [](WireReader& r, ThreatDecisionRequest& t) {
                      t.path = r.wstring();
                      t.action = r.u32();
                      t.threatName = r.string();
                      t.secondText = r.string();
                      t.level = r.u32();
                      t.size = r.u64();
                      t.detail = r.string();
                    });
}

std::string encodeQuarantineList(const std::vector<QuarantineRecord>& list, size_t* sent,
                                 size_t maxBytes) {
  WireWriter w;
  writeListWithin(w, list, maxBytes, sent, writeQuarantineRecord);
  return w.take();
}

bool decodeQuarantineList(std::string_view payload, std::vector<QuarantineRecord>& out) {
  return decodeInto(payload, out, std::vector<QuarantineRecord>{},
                    [](WireReader& r, std::vector<QuarantineRecord>& list) {
                      const uint32_t n = r.count(kMaxQuarantineRecords, kMinQuarantineRecord);
                      reserveFor(list, n);
                      for (uint32_t i = 0; i < n && r.ok(); ++i) {
                        QuarantineRecord q;
                        readQuarantineRecord(r, q);
                        list.push_back(std::move(q));
                      }
                    });
}

std::string encodeConfigPayload(const ConfigPayload& c) {
  WireWriter w;
  forEachSetting([&](const auto& field) {
    if (field.onWire) put(w, c.*field.member);
  });
  return w.take();
}

bool decodeConfigPayload(std::string_view payload, ConfigPayload& out) {
  return decodeInto(payload, out, out, [](WireReader& r, ConfigPayload& c) {
    forEachSetting([&](const auto& field) {
      if (field.onWire) get(r, c.*field.member);
    });
  });
}

std::string encodeFirewallReply(const FirewallReply& f) {
  return WireWriter().boolean(f.ok).string(f.text).take();
}

bool decodeFirewallReply(std::string_view payload, FirewallReply& out) {
  return decodeInto(payload, out, FirewallReply{}, [](WireReader& r, FirewallReply& f) {
    f.ok = r.boolean();
    f.text = r.string();
  });
}

}  // namespace zorvek::ipc
