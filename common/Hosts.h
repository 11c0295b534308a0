#pragma once
// The web shield's block in the hosts file: where the file is, reading it, finding the block
// between its two marker lines, and replacing the file whole. The service writes the block; the
// installer removes it on uninstall.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorvek {

inline constexpr std::string_view kWebShieldBegin = "# ZORVEK WEB SHIELD BEGIN";
inline constexpr std::string_view kWebShieldEnd = "# ZORVEK WEB SHIELD END";

// A hosts file larger than this is refused rather than read into memory whole.
inline constexpr long long kMaxHostsBytes = 128ll << 20;

// ZORVEK_HOSTS when set and not empty; otherwise the system's hosts file.
std::wstring hostsPath();

// The whole file, read without newline translation. A missing file is an empty text; a file that
// exists but cannot be read fails with "cannot read hosts: " + the reason, so that nobody rewrites
// it from an empty text and drops the user's lines.
bool readHostsText(const std::wstring& path, std::string& text, std::string* error = nullptr);

// Every line outside the block (split at LF, one trailing CR removed), marker lines dropped. A
// begin marker without an end drops everything after it; an end without a begin is just dropped.
std::vector<std::string> linesOutsideBlock(std::string_view text);

// Lines inside the block that are not empty after trimming.
size_t countBlockEntries(std::string_view text);

// Writes `text` to path + ".zorvek.tmp", checking every write and the close ("cannot write temp
// hosts"), then moves it over the file ("cannot replace hosts, win32=" + code; POSIX "errno=").
// The temporary file is gone after a failure and the old file untouched. The new file gets the
// access a new file in that folder inherits (Windows) or the old file's mode and owner (POSIX).
bool writeHostsAtomically(const std::wstring& path, std::string_view text,
                          std::string* error = nullptr);

// Removes the block from the file at `path`: true without writing when neither marker text
// occurs; otherwise the lines outside the block, each followed by LF, replace the file.
bool removeWebShieldBlock(const std::wstring& path, std::string* error = nullptr);
inline bool removeWebShieldBlock(std::string* error = nullptr) {
  return removeWebShieldBlock(hostsPath(), error);
}

// countBlockEntries of the current hosts file; 0 when it cannot be read.
size_t countWebShieldEntries();

}  // namespace zorvek
