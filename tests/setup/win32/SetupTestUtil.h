#pragma once
// Helpers of the installer's Windows tests: a program run as a child process with its output in a
// file and its temporary folder (and other variables) set, the exit code from GetExitCodeProcess
// (Wine truncates codes above 255 on their way to the shell); an object's access list read back.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace setup::test {

struct ProgramRun {
  uint32_t code = 0xFFFFFFFF;
  std::string out;  // standard output and error, as written
};

// This process's environment with TMP and TEMP set to `temp` and `extra` (name, value) added or
// replacing variables of the same name.
std::wstring environmentBlock(const std::wstring& temp,
                              const std::vector<std::pair<std::wstring, std::wstring>>& extra = {});

// Runs "program" + " " + arguments and waits up to `timeoutMs`; the output file lies in `temp`.
ProgramRun runProgram(const std::wstring& program, const std::wstring& arguments,
                      const std::wstring& temp,
                      const std::vector<std::pair<std::wstring, std::wstring>>& extra = {},
                      uint32_t timeoutMs = 60000);

struct AccessEntry {
  std::wstring sid;
  uint32_t mask = 0;
  uint8_t flags = 0;  // inheritance flags
  bool operator==(const AccessEntry&) const = default;
};

struct AccessList {
  std::wstring owner;
  std::vector<AccessEntry> entries;
  bool isProtected = false;
};

// The owner and the allow entries of the file's or folder's access list; false when it cannot be
// read.
bool readAccessList(const std::wstring& path, AccessList& list);

}  // namespace setup::test
