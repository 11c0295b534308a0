#pragma once
// What the engine has reported: the detections of the current scan, the real-time detections not
// yet delivered to a client, and those not yet decided. A decision may touch only a file listed
// here.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/ThreatLevel.h"
#include "service/FileVerdict.h"
#include "service/Finding.h"

namespace zorvek::svc {

// One detection as the engine reports it.
struct DetectionRecord {
  std::wstring path;
  std::string threatName;  // the signature name, or the headline of the deciding rule
  std::string secondText;  // the file's SHA-256 (empty when it was not hashed)
  ThreatLevel level = ThreatLevel::Clean;
  uint64_t size = 0;
  std::string detail;  // the deciding rule's explanation
  std::string code;    // the deciding rule's code, kept for the quarantine record
  std::vector<Finding> findings;
  std::vector<std::string> reasons;
};

DetectionRecord detectionFromVerdict(const FileVerdict& verdict);

// Decisions on a detection; any other value leaves the file alone.
inline constexpr uint32_t kActionQuarantine = 1;
inline constexpr uint32_t kActionDelete = 2;

// A user's decision on a detection, with the record's fields as the client received them.
struct ThreatDecision {
  std::wstring path;
  uint32_t action = 0;
  std::string threatName;
  std::string secondText;
  uint32_t level = 0;
  uint64_t size = 0;
  std::string detail;
};

// The detections a scan lists; further ones are only counted in its summary.
inline constexpr size_t kMaxScanDetections = 10000;
inline constexpr size_t kMaxRealTimeWaiting = 1000;
// Delivered but not yet decided; beyond this the oldest can no longer be decided.
inline constexpr size_t kMaxUndecided = 10000;

class DetectionStore {
 public:
  // A new scan starts with an empty list.
  void clearScan();
  // False once the list holds kMaxScanDetections; the first refusal of a scan is logged.
  bool addScan(DetectionRecord record);
  std::vector<DetectionRecord> scanDetections() const;

  // Each real-time detection goes to exactly one client (takeRealTime) but stays decidable until
  // decided; a file detected again replaces its earlier record. At most kMaxRealTimeWaiting
  // records wait for a client: a further path is dropped (false, logged) until one takes them.
  bool addRealTime(DetectionRecord record);
  std::vector<DetectionRecord> takeRealTime();
  // Records taken but not delivered (the reply had no room left) wait again, ahead of newer
  // ones; a path reported again meanwhile keeps its newer record.
  void returnRealTime(std::vector<DetectionRecord> records);

  // The record the engine reported at exactly this path (the scan's first, then the undecided
  // real-time ones); false with "no such detection" for any other path.
  bool reported(const std::wstring& path, DetectionRecord& record,
                std::string* error = nullptr) const;
  // The file was dealt with: its real-time record is no longer decidable. Scan records stay until
  // the next scan.
  void decided(const std::wstring& path);

 private:
  mutable std::mutex mutex_;
  std::vector<DetectionRecord> scan_;
  bool scanFull_ = false;  // the current scan's list is full and that was logged
  std::vector<DetectionRecord> realTime_;   // not yet delivered to a client
  std::vector<DetectionRecord> undecided_;  // delivered or not, not yet decided
};

}  // namespace zorvek::svc
