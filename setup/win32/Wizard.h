#pragma once
// The installer's wizard window: welcome, options, work and finish pages over the install,
// repair or uninstall that runs on a worker thread.

#include "common/platform/win32/Win.h"

#include <array>
#include <thread>

#include "common/platform/win32/Handle.h"
#include "setup/SetupOptions.h"
#include "setup/WizardFlow.h"

namespace setup {

// Posted by the worker; the window frees each payload. A log line carries a new std::wstring,
// the two results a new int (0 = success).
inline constexpr UINT kWizardLineMessage = WM_APP + 1;
inline constexpr UINT kWizardInstallDoneMessage = WM_APP + 2;
inline constexpr UINT kWizardUninstallDoneMessage = WM_APP + 3;

// Owned by runWizard, reached from the window through its user data.
struct Wizard {
  WizardState state;
  HWND window = nullptr;
  // Indexed by control id - kNextButton (100-110).
  std::array<HWND, 11> controls{};
  std::thread worker;
  zorvek::UniqueGdiObject<HBRUSH> background;
  int logExtent = 0;  // widest log line, for the list's horizontal scroll

  HWND control(int id) const { return controls[static_cast<size_t>(id - kNextButton)]; }
};

// Makes the window of `w` for `w.state.options` on the welcome page, not yet shown; false when
// its class or window cannot be made. Its messages go through the caller's message loop, and
// destroying it posts the quit message with the wizard's exit code.
bool openWizard(Wizard& w);

// Shows the wizard for `options` until it is closed. 0 after a successful work, 1 otherwise
// (also when the window is closed before the work or cannot be made).
int runWizard(const SetupOptions& options);

}  // namespace setup
