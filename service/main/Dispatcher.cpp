#include "service/main/Dispatcher.h"

#include <chrono>
#include <exception>
#include <thread>

#include "common/Logger.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "service/firewall/FirewallRules.h"
#include "service/main/Convert.h"

namespace zorvek::svc {
namespace {

bool fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

uint32_t tickCount32() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

// Who a client without an identity of its own is taken for: a user with no rights to speak of.
constexpr uint32_t kNobody = 65534;

// A path the caller asks to change to, when it differs from the current one.
bool changesPath(const std::wstring& requested, const std::wstring& current) {
  return !requested.empty() && requested != current;
}

}  // namespace

void Dispatcher::warnCut(bool& warned, const char* what, size_t sent, size_t total) {
  if (sent == total || warned) return;
  warned = true;
  logWarning(std::string(what) + " reply full: " + std::to_string(sent) + " of " +
             std::to_string(total) + " records sent");
}

void logStatus(std::string_view text) { logInfo("ZORVEK Antivirus: " + std::string(text)); }

Dispatcher::Dispatcher(ScanWorker& engine, DispatcherOptions options)
    : engine_(engine), options_(std::move(options)) {}

Reply Dispatcher::handle(uint32_t opcode, std::string_view payload, const Caller& caller) {
  Reply reply;
  reply.opcode = opcode;
  try {
    if (!dispatch(opcode, payload, caller, reply.payload, reply.error) && reply.error.empty())
      reply.error = "request failed";
  } catch (const std::exception& e) {
    reply.error = std::string("internal error: ") + e.what();
  } catch (...) {
    reply.error = "internal error: unknown exception";
  }
  if (!reply.error.empty()) {
    reply.opcode = ipc::kOpError;
    reply.payload = ipc::encodeStringPayload(reply.error);
  }
  // A refused Shutdown is an ordinary failed request: the session goes on.
  reply.endSession = reply.stopService = opcode == ipc::kOpShutdown && reply.error.empty();
  return reply;
}

void Dispatcher::stopService() {
  if (options_.requestStop) options_.requestStop();
}

bool Dispatcher::dispatch(uint32_t opcode, std::string_view payload, const Caller& caller,
                          std::string& reply, std::string& error) {
  const auto privileged = [&caller] { return caller.privileged && caller.privileged(); };
  // A privileged client acts with the service's rights; any other with its own.
  const auto actingAs = [&]() -> ClientIdentity {
    if (privileged()) return {};
    return caller.identity ? caller.identity() : ClientIdentity::ofUser(kNobody, kNobody, {});
  };
  switch (opcode) {
    case ipc::kOpHello: {
      ipc::HelloReply r;
      r.version = kServiceVersion;
      if (const auto db = engine_.database()) {
        const SignatureDbInfo info = db->info();
        r.signatureCount = info.count;
        r.databaseVersion = info.version;
      }
      const ServiceConfig config = engine_.snapshotConfig();
      r.protectionEnabled = config.protectionEnabled;
      r.realTimeEnabled = config.realTimeEnabled;
      r.minifilter = options_.minifilterRegistered && options_.minifilterRegistered();
      r.scanRunning = engine_.scanRunning();
      r.liveUpdateRunning = engine_.liveUpdateRunning();
      r.liveUpdateError = engine_.lastLiveUpdateError();
      r.lastLiveUpdateUtc = config.lastLiveUpdateUtc;
      r.selfUpdateRunning = engine_.selfUpdateRunning();
      r.selfUpdateError = engine_.lastSelfUpdateError();
      r.installerPath = engine_.downloadedInstaller();
      r.quarantineGeneration = engine_.quarantineGeneration();
      if (options_.notificationOverflows) r.notificationOverflows = options_.notificationOverflows();
      reply = ipc::encodeHelloReply(r);
      return true;
    }
    case ipc::kOpPing:
      reply = ipc::encodeU32Payload(tickCount32());
      return true;
    case ipc::kOpStartScan: {
      ipc::StartScanRequest r;
      if (!ipc::decodeStartScanRequest(payload, r, &error)) return false;
      return engine_.requestScan(static_cast<uint32_t>(r.scope), std::move(r.paths), &error,
                                 actingAs());
    }
    case ipc::kOpProgress: {
      ipc::ProgressReply r;
      r.progress = toWire(engine_.progress());
      r.scanRunning = engine_.scanRunning();
      r.summary = toWire(engine_.lastSummary());
      std::vector<DetectionRecord> taken = engine_.takeRealTimeDetections();
      for (const DetectionRecord& d : taken) r.detections.push_back(toThreatRecord(d));
      size_t sent = 0;
      reply = ipc::encodeProgressReply(r, &sent);
      if (sent < taken.size()) {
        taken.erase(taken.begin(), taken.begin() + static_cast<std::ptrdiff_t>(sent));
        engine_.returnRealTimeDetections(std::move(taken));
      }
      return true;
    }
    case ipc::kOpCancelScan:
      engine_.cancelScan();
      return true;
    case ipc::kOpScanDetections: {
      std::vector<ipc::DetectionRecord> list;
      for (const DetectionRecord& d : engine_.detections()) list.push_back(toWire(d));
      size_t sent = 0;
      reply = ipc::encodeDetectionList(list, &sent);
      warnCut(cutDetections_, "scan detections", sent, list.size());
      return true;
    }
    case ipc::kOpThreatDecision: {
      ipc::ThreatDecisionRequest r;
      if (!ipc::decodeThreatDecisionRequest(payload, r))
        return fail(error, "malformed ThreatDecision payload");
      return engine_.decideThreat(fromWire(r), &error, actingAs());
    }
    case ipc::kOpQuarantineList: {
      const std::vector<QuarantineRecord> all = engine_.quarantineList();
      // The newest records, in the store's order.
      const size_t skip = all.size() > kMaxQuarantineReply ? all.size() - kMaxQuarantineReply : 0;
      std::vector<ipc::QuarantineRecord> list;
      list.reserve(all.size() - skip);
      for (size_t i = skip; i < all.size(); ++i) list.push_back(toWire(all[i]));
      size_t sent = 0;
      reply = ipc::encodeQuarantineList(list, &sent);
      warnCut(cutQuarantine_, "quarantine list", sent, all.size());
      return true;
    }
    case ipc::kOpQuarantineDelete:
    case ipc::kOpQuarantineRestore: {
      uint64_t id = 0;
      if (!ipc::decodeU64Payload(payload, id)) return fail(error, "malformed quarantine id");
      // Putting a file back or destroying it for good is an administrator's decision: any user
      // could otherwise undo what an administrator quarantined.
      if (!privileged()) return fail(error, "access denied");
      return opcode == ipc::kOpQuarantineDelete ? engine_.quarantineDelete(id, &error)
                                                : engine_.quarantineRestore(id, &error);
    }
    case ipc::kOpGetConfig:
      reply = ipc::encodeConfigPayload(toWire(engine_.snapshotConfig()));
      return true;
    case ipc::kOpSetConfig: {
      ipc::ConfigPayload c;
      if (!ipc::decodeConfigPayload(payload, c)) return fail(error, "malformed SetConfig payload");
      c.scheduledHour %= 24;
      const ServiceConfig current = engine_.snapshotConfig();
      // A service with full rights that takes these paths from anyone could be made to read or
      // move files anywhere.
      if ((changesPath(c.signatureDb, current.signatureDb) ||
           changesPath(c.quarantineDir, current.quarantineDir)) &&
          !privileged())
        return fail(error, "access denied");
      return engine_.applyConfig(fromWire(c, current), &error);
    }
    case ipc::kOpUpdateSignatures:
      return engine_.reloadSignatures(&error);
    case ipc::kOpLiveUpdate:
    case ipc::kOpSelfUpdate: {
      const bool live = opcode == ipc::kOpLiveUpdate;
      if (!(live ? options_.liveUpdate : options_.selfUpdate))
        return fail(error, live ? "live update is not built yet" : "self-update is not built yet");
      if (!(live ? engine_.startLiveUpdate(&error) : engine_.startSelfUpdate(&error))) return false;
      reply = ipc::encodeU32Payload(1);
      return true;
    }
    case ipc::kOpFirewallStatus:
      if (!options_.firewall.status) return fail(error, "firewall control is not built yet");
      reply = options_.firewall.status();
      return true;
    case ipc::kOpFirewallSetProfile:
    case ipc::kOpFirewallBlockInbound:
    case ipc::kOpFirewallAppRule:
    case ipc::kOpFirewallRemoveRules: {
      std::string argument;
      // Exactly one string: trailing bytes mean a client that speaks another format.
      if (opcode != ipc::kOpFirewallRemoveRules && !payload.empty() &&
          (!ipc::decodeStringPayload(payload, argument) ||
           payload.size() != sizeof(uint32_t) + argument.size()))
        return fail(error, "malformed firewall payload");
      if (!options_.firewall.request) return fail(error, "firewall control is not built yet");
      // The firewall acts with the service's rights: only a client that has them may change it.
      if (!privileged()) {
        logWarning("firewall change refused: the client is not privileged");
        reply = ipc::encodeFirewallReply({false, fw::resultText(fw::kAccessDenied)});
        return true;
      }
      reply = ipc::encodeFirewallReply(options_.firewall.request(opcode, argument));
      return true;
    }
    case ipc::kOpShutdown:
      // Any local user could otherwise switch the protection off.
      if (!privileged()) return fail(error, "access denied");
      return true;
    default:
      return fail(error, "unsupported opcode " + std::to_string(opcode));
  }
}

SessionEnd serveClient(ipc::PipeHandle& client, const Event& stop,
                       const std::atomic<bool>& stopping, Dispatcher& dispatcher,
                       const ipc::SessionLimits& limits) {
  uint32_t opcode = 0;
  std::string payload;
  const Caller caller{[&client] { return ipc::clientIsPrivileged(client); },
                      [&client] { return ClientIdentity::ofPipeClient(client); }};
  while (!stopping.load()) {
    std::string error;
    payload.clear();
    if (!ipc::readFrame(client, stop, opcode, payload, &error, limits)) {
      if (!ipc::isQuietEnd(error) && !stopping.load()) logStatus("request read failed: " + error);
      return SessionEnd::Ended;
    }
    const Reply reply = dispatcher.handle(opcode, payload, caller);
    if (!reply.error.empty()) logWarning("request failed: " + reply.error);
    const bool written = ipc::writeFrame(client, stop, reply.opcode, reply.payload, &error, limits);
    if (!written && !stopping.load() && error != "stopping")
      logStatus("reply write failed: " + error);
    if (reply.stopService) {
      dispatcher.stopService();
      return SessionEnd::StoppedByUs;
    }
    if (!written || reply.endSession) return SessionEnd::Ended;
  }
  return SessionEnd::Ended;
}

void runPipeServer(ipc::PipeServer& server, Event& stop, const std::atomic<bool>& stopping,
                   Dispatcher& dispatcher, const ipc::SessionLimits& limits) {
  while (!stopping.load()) {
    ipc::PipeHandle client;
    std::string error;
    switch (server.accept(stop, client, &error)) {
      case ipc::PipeServer::Accept::Stopped:
        return;
      case ipc::PipeServer::Accept::CreateFailed:
        logError(error);
        stop.wait(1000);
        continue;
      case ipc::PipeServer::Accept::Failed:
        if (!error.empty()) logError(error);
        continue;
      case ipc::PipeServer::Accept::Connected:
        break;
    }
    logStatus("client connected");
    const SessionEnd end = serveClient(client, stop, stopping, dispatcher, limits);
    // The stop this session asked for must not cut short the client's reading of its reply.
    server.finish(client, end == SessionEnd::StoppedByUs ? nullptr : &stop);
    logStatus("client disconnected");
  }
}

}  // namespace zorvek::svc
