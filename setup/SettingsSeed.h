#pragma once
// The installer's part of settings.ini: the two path keys are set to this installation, every
// other line of the user's file stays as it was.

#include <string>
#include <string_view>

#include "setup/StepLog.h"

namespace setup {

// The first "SignatureDb=" line becomes "SignatureDb=" + seedDatabase and the first
// "QuarantineDir=" line "QuarantineDir=" + quarantineDir (paths in UTF-8); later lines of the same
// key and every other line stay exactly as they were (a CR before the LF included); a key that is
// missing is appended. Each line of the result ends in LF.
std::string seededSettingsText(std::string_view current, const std::wstring& seedDatabase,
                               const std::wstring& quarantineDir);

struct SeedPaths {
  std::wstring settingsFile;  // the service's settings.ini
  // The settings.ini of the per-user fallback data folder; empty when there is none or when it
  // is the same file.
  std::wstring fallbackSettingsFile;
  std::wstring seedDatabase;
  std::wstring quarantineDir;
};

// Seeds the settings file. A missing file counts as empty; when the machine's file does not exist
// yet and the fallback file does, the user's settings are carried over from it. A file that
// exists but cannot be read is reported and left alone. The new text replaces the file only
// once it is completely written (temporary file + move), so a failure loses nothing. Logs
// "перенесено из профиля пользователя: " + path, "путь к базе сигнатур: " + path, or the errors.
bool seedSettings(const SeedPaths& paths, StepLog& log);

}  // namespace setup
