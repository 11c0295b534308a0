#pragma once
// Placing the program files: a copy that gets past a file in use, the data folder, and the
// desktop program's running copies.

#include <cstdint>
#include <string>

#include "setup/StepLog.h"

namespace setup {

enum class CopyResult { Copied = 0, Scheduled = 1, Failed = 2 };

// Copies over the target. Access denied, sharing and lock violations are retried twice after
// 500 ms; then the target is renamed to target + ".old" and the copy made again; when even the
// rename fails, the file is staged beside the target as target + ".new" and registered to
// replace it at the next restart (the source may be a temporary folder that is gone by then).
// `code` receives the error of the first failed copy. A source that is the target itself (a
// repair run from the installation) counts as copied.
CopyResult copyReplacing(const std::wstring& source, const std::wstring& target, uint32_t* code);

// Copies the folder's files and folders below `target`, overwriting; links inside are skipped.
bool copyFolder(const std::wstring& source, const std::wstring& target, std::wstring* error);

// Whether the two paths name the same file or folder (same volume and file id); false when either
// cannot be opened.
bool sameFileObject(const std::wstring& a, const std::wstring& b);

// Whether the path names an existing file (not a folder).
bool isFile(const std::wstring& path);

// Ends every process whose program is `programPath`, waiting up to 3 s for each.
void closeRunningCopies(const std::wstring& programPath, StepLog& log);

}  // namespace setup
