#pragma once
// The install (also used for repair) and the uninstall. Each runs on one thread: the main thread
// in silent mode, the wizard's worker thread otherwise. Every step is one line in the setup log
// and in progress.line; what the user must read also goes to progress.message.

#include <string>

#include "setup/SetupOptions.h"
#include "setup/StepLog.h"

namespace setup {

// 0 when no step reported an error, 1 otherwise.
int runInstall(const SetupOptions& options, const Progress& progress);
int runUninstall(const SetupOptions& options, const Progress& progress);

// "/dir=" made absolute (without a trailing separator); otherwise Program Files + "\ZORVEK
// Antivirus".
std::wstring installDirectory(const SetupOptions& options);

// The folder of the existing installation: "/dir=" when given, else the default folder when it
// holds one, else the folder the uninstall entry recorded when that does, else the default.
std::wstring installedDirectory(const SetupOptions& options);

inline constexpr wchar_t kNoRightsText[] =
    L"Установка запущена без прав администратора.\n\nЗакройте программу и запустите установщик "
    L"снова: правая кнопка мыши по файлу → «Запуск от имени администратора».";
inline constexpr wchar_t kRestartText[] =
    L"Установка завершена, но некоторые файлы программы были заняты работающим процессом.\n\nОни "
    L"обновятся автоматически при следующей перезагрузке Windows.";

}  // namespace setup
