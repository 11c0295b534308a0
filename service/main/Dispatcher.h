#pragma once
// The service side of the pipe: the request dispatcher and the server loop that serves one
// client at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/Messages.h"
#include "common/platform/ClientIdentity.h"
#include "common/platform/Event.h"
#include "common/platform/Pipe.h"
#include "service/engine/ScanWorker.h"

namespace zorvek::svc {

// The firewall control, filled in by the firewall code; an empty function answers that the
// capability is not built yet.
struct FirewallControl {
  std::function<std::string()> status;
  std::function<ipc::FirewallReply(uint32_t opcode, const std::string& argument)> request;
};

struct DispatcherOptions {
  // Whether the engine was given a live-update and a self-update routine.
  bool liveUpdate = false;
  bool selfUpdate = false;
  FirewallControl firewall;
  // The minifilter field of Hello: the port client is connected or the driver is set to start.
  std::function<bool()> minifilterRegistered;
  // The real-time watcher's notification overflows since the start, for Hello.
  std::function<uint64_t()> notificationOverflows;
  // Shutdown: sets the stopping flag and signals the stop event.
  std::function<void()> requestStop;
};

// The most quarantine records one QuarantineList reply carries: the newest.
inline constexpr size_t kMaxQuarantineReply = 10000;

// Who sent a request. Both are asked only by the requests that need them (the pipe client's
// token or credentials are looked at lazily).
struct Caller {
  // LocalSystem or an elevated administrator; root or the service's own user.
  std::function<bool()> privileged;
  // Whom to act as on files for a client that is not privileged.
  std::function<ClientIdentity()> identity;
};

struct Reply {
  uint32_t opcode = 0;
  std::string payload;
  std::string error;      // empty: success
  bool endSession = false;
  // Shutdown was accepted: stop the service once the reply is written (a stop signalled earlier
  // would cut the write short).
  bool stopService = false;
};

class Dispatcher {
 public:
  Dispatcher(ScanWorker& engine, DispatcherOptions options);

  // Answers one request. A handler that throws gives "internal error: " + text.
  Reply handle(uint32_t opcode, std::string_view payload, const Caller& caller);
  // Sets the stopping flag and signals the stop event.
  void stopService();

 private:
  bool dispatch(uint32_t opcode, std::string_view payload, const Caller& caller,
                std::string& reply, std::string& error);

  // Logs once per list that a reply could not carry all of it.
  static void warnCut(bool& warned, const char* what, size_t sent, size_t total);

  ScanWorker& engine_;
  DispatcherOptions options_;
  bool cutDetections_ = false;
  bool cutQuarantine_ = false;
};

// How a session ended.
enum class SessionEnd {
  Ended,          // the client left, a transfer failed or ran out of time, or the service stops
  StoppedByUs,    // the session's own Shutdown stopped the service once its reply was written
};

// One session on a connected client: reads requests until the client leaves or stalls beyond
// `limits`, the request was Shutdown, a write fails or the service stops.
SessionEnd serveClient(ipc::PipeHandle& client, const Event& stop,
                       const std::atomic<bool>& stopping, Dispatcher& dispatcher,
                       const ipc::SessionLimits& limits = {});

// Accepts and serves clients one after another until the stopping flag is set.
void runPipeServer(ipc::PipeServer& server, Event& stop, const std::atomic<bool>& stopping,
                   Dispatcher& dispatcher, const ipc::SessionLimits& limits = {});

// "ZORVEK Antivirus: " + text at INF.
void logStatus(std::string_view text);

}  // namespace zorvek::svc
