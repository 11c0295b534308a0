#pragma once
// The service program: run-mode selection, engine start-up and shutdown, and the three client
// modes that talk to a running service.

#include <memory>
#include <string>
#include <vector>

#include "service/engine/ScanWorker.h"

namespace zorvek::svc {

// The whole program; args[0] is the program path.
int serviceProgramMain(const std::vector<std::wstring>& args);

// Creates, initialises and starts an engine for the caller to own; null with the reason when any
// step fails, and then nothing of it survives.
std::unique_ptr<ScanWorker> startEngine(std::string* error, EngineOptions options = {});
// Stops and destroys the engine.
void stopEngine(std::unique_ptr<ScanWorker>& engine);

// Sets the stopping flag and signals the stop event (STOP control, Ctrl+C, Shutdown request).
void requestStop();

// Logged when the dispatcher cannot start.
extern const char kUsageText[];

}  // namespace zorvek::svc
