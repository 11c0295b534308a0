#include "setup/SetupOptions.h"

#include <string_view>

#include "common/Text.h"
#include "common/Version.h"

namespace setup {
namespace {

enum class Action { Set, Clear, Install, Repair };

struct Switch {
  std::wstring_view text;
  bool SetupOptions::*field;
  Action action;
};

// Every spelling that exists; a form that is not listed (upper case, a missing dash form) is an
// unknown argument.
constexpr Switch kSwitches[] = {
    {L"/uninstall", &SetupOptions::uninstall, Action::Set},
    {L"-uninstall", &SetupOptions::uninstall, Action::Set},
    {L"--uninstall", &SetupOptions::uninstall, Action::Set},
    {L"/install", &SetupOptions::uninstall, Action::Install},
    {L"-install", &SetupOptions::uninstall, Action::Install},
    {L"--install", &SetupOptions::uninstall, Action::Install},
    {L"/repair", &SetupOptions::repair, Action::Repair},
    {L"-repair", &SetupOptions::repair, Action::Repair},
    {L"--repair", &SetupOptions::repair, Action::Repair},
    {L"/silent", &SetupOptions::silent, Action::Set},
    {L"-silent", &SetupOptions::silent, Action::Set},
    {L"--silent", &SetupOptions::silent, Action::Set},
    {L"/console", &SetupOptions::silent, Action::Clear},
    {L"-console", &SetupOptions::silent, Action::Clear},
    {L"--console", &SetupOptions::silent, Action::Clear},
    {L"/nodriver", &SetupOptions::driver, Action::Clear},
    {L"-nodriver", &SetupOptions::driver, Action::Clear},
    {L"--nodriver", &SetupOptions::driver, Action::Clear},
    {L"/log", &SetupOptions::showLog, Action::Set},
    {L"-log", &SetupOptions::showLog, Action::Set},
    {L"--log", &SetupOptions::showLog, Action::Set},
    {L"/autostart", &SetupOptions::autostart, Action::Set},
    {L"--autostart", &SetupOptions::autostart, Action::Set},
    {L"/noautostart", &SetupOptions::autostart, Action::Clear},
    {L"-noautostart", &SetupOptions::autostart, Action::Clear},
    {L"--noautostart", &SetupOptions::autostart, Action::Clear},
    {L"/noprivcheck", &SetupOptions::noPrivCheck, Action::Set},
    {L"-noprivcheck", &SetupOptions::noPrivCheck, Action::Set},
    {L"--noprivcheck", &SetupOptions::noPrivCheck, Action::Set},
    {L"/nocheck", &SetupOptions::noPrivCheck, Action::Set},
    {L"--nocheck", &SetupOptions::noPrivCheck, Action::Set},
    {L"/selftest", &SetupOptions::selfTest, Action::Set},
    {L"--selftest", &SetupOptions::selfTest, Action::Set},
};

constexpr std::wstring_view kHelpSwitches[] = {L"/?", L"-?", L"/help", L"--help"};
constexpr std::wstring_view kDirPrefix = L"/dir=";

void apply(SetupOptions& options, const Switch& s) {
  switch (s.action) {
    case Action::Set: options.*s.field = true; break;
    case Action::Clear: options.*s.field = false; break;
    case Action::Install: options.uninstall = false; break;
    case Action::Repair:
      options.repair = true;
      options.uninstall = false;
      break;
  }
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::wstring>& args) {
  CommandLine out;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    bool matched = false;
    for (const auto& h : kHelpSwitches) {
      if (arg == h) matched = out.help = true;
    }
    for (const auto& s : kSwitches) {
      if (!matched && arg == s.text) {
        apply(out.options, s);
        matched = true;
      }
    }
    if (!matched && arg.starts_with(kDirPrefix)) {
      out.options.installDir = arg.substr(kDirPrefix.size());
      matched = true;
    }
    if (!matched) out.unknown.push_back(arg);
  }
  return out;
}

std::wstring unknownArgumentLine(const std::wstring& argument) {
  return L"Неизвестный аргумент: " + argument;
}

std::vector<std::wstring> helpLines() {
  return {
      L"ZORVEK Antivirus " + std::wstring(zorvek::kVersionW) + L" — установщик",
      L"  ZorvekSetup.exe                 установить (мастер с окном)",
      L"  ZorvekSetup.exe /repair         восстановить поверх установки",
      L"  ZorvekSetup.exe /silent         установить без окна",
      L"  ZorvekSetup.exe /uninstall      удалить службу и файлы",
      L"  ZorvekSetup.exe /dir=<path>     каталог установки",
      L"  ZorvekSetup.exe /nodriver       не ставить minifilter",
      L"  ZorvekSetup.exe /noautostart    не запускать при входе в Windows",
      L"  ZorvekSetup.exe /log            показать журнал установки",
      L"  ZorvekSetup.exe /selftest       проверить целостность поставки",
      L"  ZorvekSetup.exe /noprivcheck    показать мастер без запроса прав",
  };
}

SetupMode chooseMode(const CommandLine& commandLine) {
  const SetupOptions& o = commandLine.options;
  if (commandLine.help) return SetupMode::Help;
  if (o.showLog) return SetupMode::ShowLog;
  if (o.selfTest) return SetupMode::SelfTest;
  if (!o.silent) return SetupMode::Wizard;
  return o.uninstall ? SetupMode::Uninstall : SetupMode::Install;
}

bool needsElevation(const CommandLine& commandLine) {
  switch (chooseMode(commandLine)) {
    case SetupMode::Help:
    case SetupMode::ShowLog:
    case SetupMode::SelfTest: return false;
    default: return !commandLine.options.noPrivCheck;
  }
}

std::wstring relaunchArguments(const SetupOptions& options) {
  std::wstring out = options.uninstall ? L"/uninstall" : L"/install";
  if (options.repair && !options.uninstall) out += L" /repair";
  if (options.silent) out += L" /silent";
  if (!options.driver) out += L" /nodriver";
  if (!options.autostart) out += L" /noautostart";
  if (!options.installDir.empty()) {
    // Always quoted, so a folder with spaces stays one argument; the quoting also keeps "D:\"
    // from escaping its closing quote.
    out += L" /dir=";
    zorvek::appendQuotedArgument(out, options.installDir, true);
  }
  return out;
}

uint32_t relaunchExitCode(bool started, uint32_t error, uint32_t childExitCode) {
  if (started) return childExitCode;
  return error == kErrorCancelled ? 0 : kElevationRequired;
}

std::wstring relaunchFailureText(uint32_t error) {
  return L"Не удалось запустить установщик с правами администратора (win32=" +
         std::to_wstring(error) +
         L").\n\nЗапустите файл вручную: правая кнопка мыши → «Запуск от имени администратора».";
}

}  // namespace setup
