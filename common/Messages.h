#pragma once
// The requests and replies of the pipe protocol: opcodes and one struct with an encode/decode
// pair per payload. These are plain wire types; the engine converts its own records to and from
// them. Every decoder reads the whole payload and returns the reader's ok flag, so a truncated
// payload is refused; trailing bytes are ignored.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Frame.h"
#include "common/Settings.h"

namespace zorvek::ipc {

// Opcodes. A successful reply carries the request's opcode, an error reply kOpError.
inline constexpr uint32_t kOpHello = 1;
inline constexpr uint32_t kOpPing = 2;
inline constexpr uint32_t kOpStartScan = 3;
inline constexpr uint32_t kOpProgress = 4;
inline constexpr uint32_t kOpCancelScan = 5;
inline constexpr uint32_t kOpScanDetections = 6;
inline constexpr uint32_t kOpThreatDecision = 7;
inline constexpr uint32_t kOpQuarantineList = 8;
inline constexpr uint32_t kOpQuarantineDelete = 9;
inline constexpr uint32_t kOpQuarantineRestore = 10;
inline constexpr uint32_t kOpGetConfig = 11;
inline constexpr uint32_t kOpSetConfig = 12;
inline constexpr uint32_t kOpUpdateSignatures = 13;
inline constexpr uint32_t kOpLiveUpdate = 14;
inline constexpr uint32_t kOpSelfUpdate = 15;
inline constexpr uint32_t kOpFirewallStatus = 16;
inline constexpr uint32_t kOpFirewallSetProfile = 17;
inline constexpr uint32_t kOpFirewallBlockInbound = 18;
inline constexpr uint32_t kOpFirewallAppRule = 19;
inline constexpr uint32_t kOpFirewallRemoveRules = 20;
inline constexpr uint32_t kOpShutdown = 21;
inline constexpr uint32_t kOpLast = kOpShutdown;
inline constexpr uint32_t kOpError = 0xFFFFFFFF;

// "Hello", "Ping", ... for opcodes 1..21, "Error" for kOpError, nullptr otherwise.
const char* opcodeName(uint32_t opcode);

// What a requested scan covers; any value above Memory means the listed paths.
enum class ScanScope : uint32_t { Quick = 0, Full = 1, Memory = 2, Paths = 3 };

// Actions of ThreatDecision; any other value leaves the file alone too.
enum class ThreatAction : uint32_t { Quarantine = 1, Delete = 2, Allow = 3 };

// Limits a client applies to the lists it receives; a longer list is a malformed reply.
inline constexpr uint32_t kMaxProgressDetections = 100000;
inline constexpr uint32_t kMaxQuarantineRecords = 1000000;

// --- Hello (1) -------------------------------------------------------------------------------
struct HelloReply {
  std::string version;
  uint64_t signatureCount = 0;
  std::string databaseVersion;
  bool protectionEnabled = false;
  bool realTimeEnabled = false;
  bool minifilter = false;
  bool scanRunning = false;
  bool liveUpdateRunning = false;
  std::string liveUpdateError;
  uint64_t lastLiveUpdateUtc = 0;
  bool selfUpdateRunning = false;
  std::string selfUpdateError;
  std::wstring installerPath;
  // Changes whenever the quarantine does, so a client refetches the list only then. Sent after
  // the fields above, where an older client ignores it; 0 from an older service, which never
  // reports one.
  uint64_t quarantineGeneration = 0;
  // How often real-time protection's change notifications overflowed since the service started:
  // each time, changes went by unjudged. Sent last, the same way; 0 from an older service.
  uint64_t notificationOverflows = 0;
  bool operator==(const HelloReply&) const = default;
};
std::string encodeHelloReply(const HelloReply& r);
[[nodiscard]] bool decodeHelloReply(std::string_view payload, HelloReply& r);

// --- A single u32 or u64 (Ping and LiveUpdate/SelfUpdate replies, quarantine ids) ------------
std::string encodeU32Payload(uint32_t value);
[[nodiscard]] bool decodeU32Payload(std::string_view payload, uint32_t& value);
// QuarantineDelete (9) and QuarantineRestore (10) carry the record id.
std::string encodeU64Payload(uint64_t value);
[[nodiscard]] bool decodeU64Payload(std::string_view payload, uint64_t& value);

// --- A single string (error reply, firewall requests 17-20) ---------------------------------
std::string encodeStringPayload(std::string_view text);
[[nodiscard]] bool decodeStringPayload(std::string_view payload, std::string& text);
// The text of an error reply, or "service reported an error" when it is empty or unreadable.
std::string errorReplyText(std::string_view payload);

// --- StartScan (3) ---------------------------------------------------------------------------
struct StartScanRequest {
  ScanScope scope = ScanScope::Quick;
  std::vector<std::wstring> paths;
  bool operator==(const StartScanRequest&) const = default;
};
// What one StartScan may ask for: more paths, or a longer one (in wide characters), is refused
// before anything is kept of them.
inline constexpr uint32_t kMaxScanPaths = 10000;
inline constexpr size_t kMaxScanPathChars = 32767;
std::string encodeStartScanRequest(const StartScanRequest& r);
// `error` gets "too many scan paths" beyond the limits above, else "malformed StartScan payload".
[[nodiscard]] bool decodeStartScanRequest(std::string_view payload, StartScanRequest& r,
                                          std::string* error = nullptr);

// --- Progress (4) ----------------------------------------------------------------------------
struct ScanProgress {
  uint64_t filesDone = 0;
  uint64_t filesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
  std::wstring currentFile;
  std::wstring phase;  // the engine's state text: "preparing", "scanning", "finished", ...
  bool operator==(const ScanProgress&) const = default;
};

struct ScanSummary {
  uint64_t filesScanned = 0;
  uint64_t threats = 0;
  uint64_t suspicious = 0;
  uint64_t bytesScanned = 0;
  uint64_t elapsedMs = 0;
  bool cancelled = false;
  bool operator==(const ScanSummary&) const = default;
};

// One real-time detection as the Progress reply carries it (and the desktop program sends it
// back in ThreatDecision).
struct ThreatRecord {
  std::wstring path;
  std::string threatName;
  std::string secondText;  // the verdict's second text, as the engine fills it
  uint32_t level = 0;      // ThreatLevel
  uint64_t size = 0;
  bool operator==(const ThreatRecord&) const = default;
};

struct ProgressReply {
  ScanProgress progress;
  bool scanRunning = false;
  ScanSummary summary;
  std::vector<ThreatRecord> detections;  // at most kMaxProgressDetections
  bool operator==(const ProgressReply&) const = default;
};
// The real-time detections hold as many records as fit in `maxBytes` with the rest of the reply;
// `sent`, when given, receives how many went in.
std::string encodeProgressReply(const ProgressReply& r, size_t* sent = nullptr,
                                size_t maxBytes = kMaxPayloadSize);
[[nodiscard]] bool decodeProgressReply(std::string_view payload, ProgressReply& r);

// --- ScanDetections (6) ----------------------------------------------------------------------
// One rule hit of a verdict.
struct Finding {
  uint32_t level = 0;  // ThreatLevel
  std::string code;    // "SIG.MATCH", "FS.DOUBLE_EXT", ...
  std::string title;
  std::string detail;
  bool operator==(const Finding&) const = default;
};

struct DetectionRecord {
  std::wstring path;
  std::string threatName;
  std::string secondText;
  uint32_t level = 0;
  uint64_t size = 0;
  std::string detail;
  std::vector<Finding> findings;     // on the wire: level, code, title, detail
  std::vector<std::string> reasons;  // the verdict's short headlines
  bool operator==(const DetectionRecord&) const = default;
};
// As many records, in order, as fit in `maxBytes`; `sent`, when given, receives how many.
std::string encodeDetectionList(const std::vector<DetectionRecord>& list, size_t* sent = nullptr,
                                size_t maxBytes = kMaxPayloadSize);
[[nodiscard]] bool decodeDetectionList(std::string_view payload, std::vector<DetectionRecord>& list);

// --- ThreatDecision (7) ----------------------------------------------------------------------
struct ThreatDecisionRequest {
  std::wstring path;
  uint32_t action = 0;  // ThreatAction
  std::string threatName;
  std::string secondText;
  uint32_t level = 0;
  uint64_t size = 0;
  std::string detail;
  bool operator==(const ThreatDecisionRequest&) const = default;
};
std::string encodeThreatDecisionRequest(const ThreatDecisionRequest& r);
[[nodiscard]] bool decodeThreatDecisionRequest(std::string_view payload, ThreatDecisionRequest& r);

// --- QuarantineList (8) ----------------------------------------------------------------------
// One quarantined file, fields in the order of the quarantine index.
struct QuarantineRecord {
  uint64_t id = 0;
  std::wstring originPath;
  std::wstring storedPath;
  std::wstring name;
  std::string sha256;
  std::string threat;
  std::string code;
  uint32_t severity = 0;  // ThreatLevel
  uint64_t size = 0;
  uint64_t time = 0;
  bool operator==(const QuarantineRecord&) const = default;
};
// As many records, in order, as fit in `maxBytes`; `sent`, when given, receives how many.
std::string encodeQuarantineList(const std::vector<QuarantineRecord>& list, size_t* sent = nullptr,
                                 size_t maxBytes = kMaxPayloadSize);
[[nodiscard]] bool decodeQuarantineList(std::string_view payload, std::vector<QuarantineRecord>& list);

// --- GetConfig (11) / SetConfig (12) ---------------------------------------------------------
// The settings of common/Settings.h that are marked for the wire, in table order (UpdateServer
// stays behind). The two paths have no default here: the service supplies them, and an empty
// path in SetConfig keeps the current one.
using ConfigPayload = Settings;
std::string encodeConfigPayload(const ConfigPayload& c);
// Decodes over the fields already in `c`, so those not on the wire keep their values; on failure
// `c` is left unchanged.
[[nodiscard]] bool decodeConfigPayload(std::string_view payload, ConfigPayload& c);

// --- Firewall replies (17-20) ----------------------------------------------------------------
struct FirewallReply {
  bool ok = false;
  std::string text;
  bool operator==(const FirewallReply&) const = default;
};
std::string encodeFirewallReply(const FirewallReply& r);
[[nodiscard]] bool decodeFirewallReply(std::string_view payload, FirewallReply& r);
// FirewallStatus (16) replies with the status text as the whole payload, without a length.

}  // namespace zorvek::ipc
