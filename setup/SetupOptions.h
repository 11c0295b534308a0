#pragma once
// The installer's command line: switches into SetupOptions, the help text, the mode that runs and
// the arguments of the elevated relaunch.

#include <cstdint>
#include <string>
#include <vector>

namespace setup {

struct SetupOptions {
  bool uninstall = false;
  bool silent = false;
  bool driver = true;
  bool showLog = false;
  bool autostart = true;
  std::wstring installDir;  // empty: the default folder
  bool noPrivCheck = false;
  bool selfTest = false;
  bool repair = false;
};

struct CommandLine {
  SetupOptions options;
  bool help = false;
  // Arguments that matched no switch, in order; each is reported and otherwise ignored.
  std::vector<std::wstring> unknown;
};

// args[0] is the program. Switches match exactly and case-sensitively; later ones override
// earlier ones.
CommandLine parseCommandLine(const std::vector<std::wstring>& args);

// "Неизвестный аргумент: " + the argument.
std::wstring unknownArgumentLine(const std::wstring& argument);

// The help text, one entry per printed line.
std::vector<std::wstring> helpLines();

enum class SetupMode { Help, ShowLog, SelfTest, Wizard, Uninstall, Install };

SetupMode chooseMode(const CommandLine& commandLine);

// Whether the mode needs administrator rights first (and so an elevated relaunch without them).
bool needsElevation(const CommandLine& commandLine);

// The arguments an elevated copy is started with, so that it takes the same path.
std::wstring relaunchArguments(const SetupOptions& options);

// Exit codes of the elevated relaunch.
inline constexpr uint32_t kElevationRequired = 740;  // ERROR_ELEVATION_REQUIRED
inline constexpr uint32_t kErrorCancelled = 1223;    // the user declined the prompt

// The exit code after a relaunch: the elevated copy's, 0 when the user declined the prompt, 740
// for any other failure to start it.
uint32_t relaunchExitCode(bool started, uint32_t error, uint32_t childExitCode);

// What the user is told when the relaunch cannot start (besides a declined prompt).
std::wstring relaunchFailureText(uint32_t error);
inline constexpr wchar_t kNoOwnPathText[] =
    L"Не удалось определить путь к установщику. Запустите его ещё раз из «Загрузок» или из папки "
    L"программы.";
inline constexpr wchar_t kMessageCaption[] = L"ZORVEK Antivirus — установщик";

}  // namespace setup
