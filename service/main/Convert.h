#pragma once
// The one place where the engine's records become the pipe's message structs and back.

#include <vector>

#include "common/Messages.h"
#include "common/ServiceConfig.h"
#include "service/FileScanner.h"
#include "service/QuarantineStore.h"
#include "service/engine/DetectionStore.h"

namespace zorvek::svc {

ipc::ScanProgress toWire(const ScanProgressInfo& p);
ipc::ScanSummary toWire(const ScanSummary& s);
ipc::ThreatRecord toThreatRecord(const DetectionRecord& d);
ipc::DetectionRecord toWire(const DetectionRecord& d);
ipc::QuarantineRecord toWire(const QuarantineRecord& r);
ipc::ConfigPayload toWire(const ServiceConfig& c);
ThreatDecision fromWire(const ipc::ThreatDecisionRequest& r);
// The payload's fields over `base`; UpdateServer, which the payload lacks, keeps base's value.
ServiceConfig fromWire(const ipc::ConfigPayload& c, ServiceConfig base);

}  // namespace zorvek::svc
