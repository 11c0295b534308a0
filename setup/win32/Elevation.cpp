#include "setup/win32/Elevation.h"

#include "common/platform/win32/Win.h"

#include <sddl.h>
#include <shellapi.h>

#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "setup/SetupLog.h"

namespace setup {

bool isAdministrator() {
  zorvek::UniqueLocal<PSID> sid;
  if (!ConvertStringSidToSidW(L"S-1-5-32-544", sid.put())) return false;
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, sid.get(), &member) && member == 1;
}

ElevatedRun runElevated(const std::wstring& program, const std::wstring& arguments) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = arguments.c_str();
  info.nShow = SW_SHOWNORMAL;
  ElevatedRun run;
  if (!ShellExecuteExW(&info)) {
    run.error = GetLastError();
    return run;
  }
  run.started = true;
  const zorvek::UniqueKernelHandle process(info.hProcess);
  DWORD code = 0;
  if (process && WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.get(), &code))
    run.exitCode = code;
  return run;
}

uint32_t relaunchElevated(const SetupOptions& options, const std::wstring& logPath) {
  const std::wstring self = zorvek::modulePath();
  if (self.empty()) {
    appendSetupLog(logPath, kNoOwnPathText);
    showError(kNoOwnPathText);
    return kElevationRequired;
  }
  const ElevatedRun run = runElevated(self, relaunchArguments(options));
  if (!run.started && run.error != kErrorCancelled) {
    const std::wstring text = relaunchFailureText(run.error);
    appendSetupLog(logPath, text);
    showError(text);
  }
  return relaunchExitCode(run.started, run.error, run.exitCode);
}

void showError(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
}

}  // namespace setup
