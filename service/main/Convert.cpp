#include "service/main/Convert.h"

namespace zorvek::svc {

ipc::ScanProgress toWire(const ScanProgressInfo& p) {
  return {p.filesDone, p.filesTotal, p.bytesDone, p.bytesTotal, p.currentFile, p.phase};
}

ipc::ScanSummary toWire(const ScanSummary& s) {
  return {s.filesScanned, s.threats, s.suspicious, s.bytesScanned, s.elapsedMs, s.cancelled};
}

ipc::ThreatRecord toThreatRecord(const DetectionRecord& d) {
  return {d.path, d.threatName, d.secondText, static_cast<uint32_t>(d.level), d.size};
}

ipc::DetectionRecord toWire(const DetectionRecord& d) {
  ipc::DetectionRecord out;
  out.path = d.path;
  out.threatName = d.threatName;
  out.secondText = d.secondText;
  out.level = static_cast<uint32_t>(d.level);
  out.size = d.size;
  out.detail = d.detail;
  for (const Finding& f : d.findings)
    out.findings.push_back({static_cast<uint32_t>(f.level), f.code, f.title, f.detail});
  out.reasons = d.reasons;
  return out;
}

ipc::QuarantineRecord toWire(const QuarantineRecord& r) {
  return {r.id,     r.originPath, r.storedPath, r.name, r.sha256, r.threat, r.code,
          static_cast<uint32_t>(r.severity), r.size, r.time};
}

ipc::ConfigPayload toWire(const ServiceConfig& c) { return c; }

ThreatDecision fromWire(const ipc::ThreatDecisionRequest& r) {
  return {r.path, r.action, r.threatName, r.secondText, r.level, r.size, r.detail};
}

ServiceConfig fromWire(const ipc::ConfigPayload& c, ServiceConfig base) {
  assignWireSettings(c, base);
  return base;
}

}  // namespace zorvek::svc
