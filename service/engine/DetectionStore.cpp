#include "service/engine/DetectionStore.h"

#include <algorithm>
#include <iterator>

#include "common/Logger.h"

namespace zorvek::svc {
namespace {

const DetectionRecord* findByPath(const std::vector<DetectionRecord>& list,
                                  const std::wstring& path) {
  for (const auto& r : list) {
    if (r.path == path) return &r;
  }
  return nullptr;
}

void eraseByPath(std::vector<DetectionRecord>& list, const std::wstring& path) {
  std::erase_if(list, [&](const DetectionRecord& r) { return r.path == path; });
}

}  // namespace

DetectionRecord detectionFromVerdict(const FileVerdict& verdict) {
  DetectionRecord r;
  r.path = verdict.path;
  r.secondText = verdict.sha256;
  r.level = verdict.level;
  r.size = verdict.size;
  r.findings = verdict.findings;
  r.reasons = verdict.reasons;
  // The deciding rule: the first finding at the verdict's level (a signature match comes first).
  const Finding* deciding = nullptr;
  for (const auto& f : verdict.findings) {
    if (f.level == verdict.level) {
      deciding = &f;
      break;
    }
  }
  if (!deciding && !verdict.findings.empty()) deciding = &verdict.findings.front();
  if (deciding) {
    r.detail = deciding->detail;
    r.code = deciding->code;
  }
  if (verdict.inDatabase && !verdict.signatureName.empty()) {
    r.threatName = verdict.signatureName;
  } else if (deciding) {
    r.threatName = deciding->title;
  } else if (!verdict.reasons.empty()) {
    r.threatName = verdict.reasons.front();
  }
  return r;
}

void DetectionStore::clearScan() {
  std::lock_guard lock(mutex_);
  scan_.clear();
  scanFull_ = false;
}

bool DetectionStore::addScan(DetectionRecord record) {
  {
    std::lock_guard lock(mutex_);
    if (scan_.size() < kMaxScanDetections) {
      scan_.push_back(std::move(record));
      return true;
    }
    if (scanFull_) return false;
    scanFull_ = true;
  }
  logWarning("scan detections list full");
  return false;
}

std::vector<DetectionRecord> DetectionStore::scanDetections() const {
  std::lock_guard lock(mutex_);
  return scan_;
}

void DetectionStore::addRealTime(DetectionRecord record) {
  bool warn = false;
  {
    std::lock_guard lock(mutex_);
    realTime_.push_back(record);
    eraseByPath(undecided_, record.path);
    undecided_.push_back(std::move(record));
    // With no client asking, the oldest go first: the newest detections matter most.
    if (realTime_.size() > kMaxRealTimeDetections) {
      realTime_.erase(realTime_.begin());
      warn = !realTimeFull_;
      realTimeFull_ = true;
    }
    if (undecided_.size() > kMaxRealTimeDetections) undecided_.erase(undecided_.begin());
  }
  if (warn) logWarning("real-time detections list full");
}

std::vector<DetectionRecord> DetectionStore::takeRealTime() {
  std::lock_guard lock(mutex_);
  std::vector<DetectionRecord> out;
  out.swap(realTime_);
  realTimeFull_ = false;
  return out;
}

void DetectionStore::returnRealTime(std::vector<DetectionRecord> records) {
  std::lock_guard lock(mutex_);
  std::erase_if(records, [&](const DetectionRecord& r) {
    return findByPath(realTime_, r.path) != nullptr;
  });
  realTime_.insert(realTime_.begin(), std::make_move_iterator(records.begin()),
                   std::make_move_iterator(records.end()));
  if (realTime_.size() > kMaxRealTimeDetections) {
    realTime_.erase(realTime_.begin(), realTime_.end() - static_cast<std::ptrdiff_t>(
                                                             kMaxRealTimeDetections));
  }
}

bool DetectionStore::reported(const std::wstring& path, DetectionRecord& record,
                              std::string* error) const {
  std::lock_guard lock(mutex_);
  const DetectionRecord* found = findByPath(scan_, path);
  if (!found) found = findByPath(undecided_, path);
  if (!found) {
    if (error) *error = "no such detection";
    return false;
  }
  record = *found;
  return true;
}

void DetectionStore::decided(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  eraseByPath(undecided_, path);
}

}  // namespace zorvek::svc
