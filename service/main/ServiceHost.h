#pragma once
// The service program: run-mode selection, engine start-up and shutdown, and the three client
// modes that talk to a running service.

#include <string>
#include <vector>

namespace zorvek::svc {

// The whole program; args[0] is the program path.
int serviceProgramMain(const std::vector<std::wstring>& args);

// Creates, initialises and starts the engine; on failure nothing of it survives.
bool startEngine(std::string* error);
// Stops and destroys the engine.
void stopEngine();

// Sets the stopping flag and signals the stop event (STOP control, Ctrl+C, Shutdown request).
void requestStop();

// Logged when the dispatcher cannot start.
extern const char kUsageText[];

}  // namespace zorvek::svc
