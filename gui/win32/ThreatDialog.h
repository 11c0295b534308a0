#pragma once
// The modal question put to the user for one detection: quarantine, delete or allow.

#include "common/Messages.h"
#include "common/platform/win32/Win.h"

namespace zorvek::gui {

inline constexpr wchar_t kThreatDialogClass[] = L"ZorvekThreatDialog";

// Dialog buttons: their identifiers are the decisions they stand for, plus 4001.
inline constexpr int kDecisionButtonBase = 4001;

// Shows the dialog over `owner` (disabled meanwhile) and runs its message loop, which dispatches
// the owner's messages too. Returns 0 when closed without a choice (Escape, close, failure to
// create it), else the ThreatAction chosen. A WM_QUIT met inside is posted again.
int showThreatDialog(HWND owner, const ipc::ThreatRecord& threat);

}  // namespace zorvek::gui
