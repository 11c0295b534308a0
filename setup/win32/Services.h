#pragma once
// The two services of an installation: the protection service and the minifilter driver.

#include <string>

#include "setup/StepLog.h"

namespace setup {

// Stops the service and waits up to 20 s; a service that does not stop has its process ended.
// True when it is stopped (or there was nothing to stop).
bool stopService(const std::wstring& name, StepLog& log);

// Registers (or updates) ZorvekService for the installation, with delayed automatic start and
// restart on failure, then, with `start`, starts it, waits for RUNNING and asks it Hello over the
// pipe. False only when the service could not be registered: a service that does not start or
// answer is reported and the install goes on.
bool installService(const std::wstring& installDir, bool start, StepLog& log);

// Registers the minifilter driver when ZorvekFilter.sys is in the installation.
void installDriver(const std::wstring& installDir, bool start, StepLog& log);

// Stops and deletes the driver service, then the protection service (uninstall).
void removeDriverService(StepLog& log);
void removeProtectionService(StepLog& log);

// Whether a running service answers Hello on the pipe: up to 10 attempts, 500 ms apart.
bool serviceAnswersHello();

}  // namespace setup
