#include "setup/win32/Worker.h"

#include "common/platform/win32/Win.h"

#include <objbase.h>

#include "setup/win32/Work.h"

namespace setup {

int runWork(const SetupOptions& options, const Progress& progress) {
  return options.uninstall ? runUninstall(options, progress) : runInstall(options, progress);
}

std::thread startWork(SetupOptions options, Progress progress, std::function<void(int)> done) {
  return std::thread([options = std::move(options), progress = std::move(progress),
                      done = std::move(done)] {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    int result = 1;
    try {
      result = runWork(options, progress);
    } catch (const std::exception&) {
      // Reported as a failed work; the window must still learn that it ended.
      result = 1;
    }
    if (com) CoUninitialize();
    if (done) done(result);
  });
}

}  // namespace setup
