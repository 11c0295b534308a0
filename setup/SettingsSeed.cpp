#include "setup/SettingsSeed.h"

#include <filesystem>
#include <type_traits>

#include "common/Settings.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace setup {
namespace {

// The key of a path setting, as the service's settings table names it.
std::string_view pathKey(std::wstring zorvek::Settings::*member) {
  std::string_view key;
  zorvek::forEachSetting([&](const auto& field) {
    if constexpr (std::is_same_v<typename std::decay_t<decltype(field)>::Value, std::wstring>) {
      if (field.member == member) key = field.key;
    }
  });
  return key;
}

std::string_view keyOf(std::string_view line) {
  const size_t eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

// The value as the service reads it back: one line, so that a path can never add a key.
std::string settingLine(std::string_view key, const std::wstring& path) {
  return std::string(key) + "=" + zorvek::singleLine(zorvek::settingText(path));
}

}  // namespace

std::string seededSettingsText(std::string_view current, const std::wstring& seedDatabase,
                               const std::wstring& quarantineDir) {
  const std::string_view signatureDbKey = pathKey(&zorvek::Settings::signatureDb);
  const std::string_view quarantineDirKey = pathKey(&zorvek::Settings::quarantineDir);
  std::string out;
  bool seedDone = false, quarantineDone = false;
  zorvek::forEachLine(current, [&](std::string_view line) {
    const std::string_view key = keyOf(line);
    if (!seedDone && key == signatureDbKey) {
      out += settingLine(signatureDbKey, seedDatabase);
      seedDone = true;
    } else if (!quarantineDone && key == quarantineDirKey) {
      out += settingLine(quarantineDirKey, quarantineDir);
      quarantineDone = true;
    } else {
      out += line;
    }
    out += '\n';
  });
  if (!seedDone) out += settingLine(signatureDbKey, seedDatabase) + '\n';
  if (!quarantineDone) out += settingLine(quarantineDirKey, quarantineDir) + '\n';
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
