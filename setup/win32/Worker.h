#pragma once
// The work of the installer on a thread of its own, for the wizard: the window stays responsive
// while the lines arrive through the progress callbacks (called on the worker thread).

#include <functional>
#include <thread>

#include "setup/SetupOptions.h"
#include "setup/StepLog.h"

namespace setup {

// runUninstall when `options.uninstall`, else runInstall.
int runWork(const SetupOptions& options, const Progress& progress);

// Starts runWork on a new thread that initialises COM for itself and hands the result to `done`
// as its last act. The caller joins the thread.
std::thread startWork(SetupOptions options, Progress progress, std::function<void(int)> done);

}  // namespace setup
