#include "setup/SettingsSeed.h"

#include <filesystem>

#include "common/Text.h"
#include "common/platform/File.h"

namespace setup {
namespace {

constexpr std::string_view kSignatureDbKey = "SignatureDb";
constexpr std::string_view kQuarantineDirKey = "QuarantineDir";

std::string_view keyOf(std::string_view line) {
  const size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

// The value as the service reads it back: one line, so that a path can never add a key.
std::string settingLine(std::string_view key, const std::wstring& path) {
  return std::string(key) + "=" + zorvek::singleLine(zorvek::toUtf8(path));
}

}  // namespace

std::string seededSettingsText(std::string_view current, const std::wstring& seedDatabase,
                               const std::wstring& quarantineDir) {
  std::string out;
  bool seedDone = false, quarantineDone = false;
  zorvek::forEachLine(current, [&](std::string_view line) {
    const std::string_view key = keyOf(line);
    if (!seedDone && key == kSignatureDbKey) {
      out += settingLine(kSignatureDbKey, seedDatabase);
      seedDone = true;
    } else if (!quarantineDone && key == kQuarantineDirKey) {
      out += settingLine(kQuarantineDirKey, quarantineDir);
      quarantineDone = true;
    } else {
      out += line;
    }
    out += '\n';
  });
  if (!seedDone) out += settingLine(kSignatureDbKey, seedDatabase) + '\n';
  if (!quarantineDone) out += settingLine(kQuarantineDirKey, quarantineDir) + '\n';
  return out;
}

bool seedSettings(const SeedPaths& paths, StepLog& log) {
  const std::wstring& file = paths.settingsFile;
  std::string current, why;
  bool missing = false;
  if (!zorvek::readWholeFile(file, current, &why, &missing)) {
    if (!missing) {
      log.error(L"не удалось прочитать настройки: " + file + L" (" + zorvek::toWide(why) + L")");
      return false;
    }
    current.clear();
    // Settings the service kept in the user's profile while it had no machine folder.
    const std::wstring& fallback = paths.fallbackSettingsFile;
    if (!fallback.empty() && fallback != file &&
        zorvek::readWholeFile(fallback, current, nullptr, nullptr)) {
      log.info(L"перенесено из профиля пользователя: " + fallback);
    } else {
      current.clear();
    }
  }
  const std::string text = seededSettingsText(current, paths.seedDatabase, paths.quarantineDir);
  const std::filesystem::path folder = zorvek::toPath(file).parent_path();
  if (!zorvek::createDirectories(zorvek::pathToWide(folder)) ||
      !zorvek::writeFileAtomically(file, text, &why)) {
    log.error(L"не удалось записать настройки: " + file);
    return false;
  }
  log.info(L"путь к базе сигнатур: " + paths.seedDatabase);
  return true;
}

}  // namespace setup
