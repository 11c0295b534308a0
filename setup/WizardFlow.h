#pragma once
// The wizard's rules without the window: its pages, which controls each page shows, the button
// texts, what each command does, the texts it paints and the outcome of the work. The window in
// win32/Wizard.cpp only carries these out.

#include <cstdint>
#include <string>
#include <vector>

#include "setup/SetupOptions.h"

namespace setup {

enum class WizardMode { Install, Repair, Uninstall };
WizardMode wizardMode(const SetupOptions& options);

inline constexpr int kWelcomePage = 0;
inline constexpr int kOptionsPage = 1;
inline constexpr int kWorkPage = 2;
inline constexpr int kFinishPage = 3;

// Child control identifiers.
inline constexpr int kNextButton = 100;
inline constexpr int kBackButton = 101;
inline constexpr int kCancelButton = 102;
inline constexpr int kFolderEdit = 103;
inline constexpr int kBrowseButton = 104;
inline constexpr int kAutostartBox = 105;
inline constexpr int kDriverBox = 106;
inline constexpr int kProgressBar = 107;
inline constexpr int kLogList = 108;
inline constexpr int kLaunchBox = 109;
inline constexpr int kFolderLabel = 110;

inline constexpr int kWizardIconResource = 101;
inline constexpr wchar_t kWizardClass[] = L"ZORVEKSetupWizard";
inline constexpr wchar_t kWizardTitle[] = L"ZORVEK Antivirus";
inline constexpr wchar_t kBrowseTitle[] = L"Каталог установки ZORVEK Antivirus";

// What the wizard knows besides its window: the options the work runs with (the option page
// writes into them), the page, and what the worker reported.
struct WizardState {
  SetupOptions options;
  int page = kWelcomePage;
  bool working = false;
  bool success = false;
  std::wstring resultText;
  std::vector<std::wstring> lines;
};

enum class WizardAction { None, ShowPage, StartWork, Finish, Close, DisableCancel, Browse };
struct WizardStep {
  WizardAction action = WizardAction::None;
  int page = 0;  // for ShowPage
};

// A click on control `id`, or the window's close request.
WizardStep onCommand(const WizardState& state, int id);
WizardStep onClose(const WizardState& state);

// Moves to the work page; the caller starts the worker.
void beginWork(WizardState& state);
// The worker's result (0 = success): the outcome, its text and the finish page.
void finishWork(WizardState& state, int result);

std::wstring nextButtonText(WizardMode mode, int page);
bool backEnabled(int page);
bool cancelEnabled(int page);
// Whether the page shows the control (the three buttons are on every page).
bool controlShown(const WizardState& state, int id);
// The launch box only follows a successful install or repair.
bool launchOffered(const WizardState& state);

std::wstring pageTitle(const WizardState& state);
// The text under the title: the description on the welcome page, the result on the finish page.
std::wstring pageText(const WizardState& state);
std::wstring resultText(WizardMode mode, int result);

// The emblem of the left band: 0 "Установлено" ("Удалено" after a removal) after success on the
// finish page, otherwise 4 "Установка".
struct BandEmblem {
  int state;
  const wchar_t* label;
};
BandEmblem bandEmblem(const WizardState& state);

// Band i (0-63) of the left band's gradient.
struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};
inline constexpr int kBandSteps = 64;
Rgb bandColor(int i);

// The folder box after the picker returned `chosen`.
std::wstring pickedFolder(const std::wstring& chosen);

// The wizard's exit code: 0 only after a successful work.
inline int wizardExitCode(const WizardState& state) { return state.success ? 0 : 1; }

}  // namespace setup
