#pragma once
// The service program's client modes, which talk to a service that is already running: --ping,
// --update-check and --fw. Lines go out through `print` and pauses through `sleep`, so tests can
// run them against a scripted pipe without waiting out the seconds.

#include <chrono>
#include <functional>
#include <string>

#include "common/client/ServiceClient.h"

namespace zorvek::svc {

struct ClientModeContext {
  std::function<void(const std::wstring&)> print;
  std::function<void(std::chrono::milliseconds)> sleep;
  ipc::ClientOptions client;
};

// 0 the service answered; 1 no pipe after three attempts; 2 the exchange failed; 3 the reply
// was not a HelloReply.
int runPing(const ClientModeContext& context);
// 0 an installer was downloaded or none is needed; 1 no pipe; 2 the check did not start; 3 a
// poll failed; 4 the update failed; 5 not finished after 120 polls.
int runUpdateCheck(const ClientModeContext& context);
// 0 the status was printed; 1 anything else.
int runFirewallStatus(const ClientModeContext& context);

}  // namespace zorvek::svc
