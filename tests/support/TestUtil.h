#pragma once
// Helpers shared by the test suites: scratch folders, whole-file I/O, environment overrides,
// captured console output, programs built beside the tests.

#include <cstdint>
#include <cstdio>
#include <string>

#include "ConsoleCapture.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "TempDir.h"

namespace zorvek::test {

void writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
// Contents of a stdio stream written by the code under test (rewinds it first).
std::string readStream(std::FILE* f);

// `n` bytes of a fixed pseudo-random sequence: the same seed gives the same bytes.
std::string randomBytes(size_t n, uint32_t seed);

bool onWindows();
// A Windows test binary running under Wine, for tests of what Wine does not do.
bool runningUnderWine();

// A pipe name (Windows) or a socket path in `dir` (POSIX) of this test's own, so tests never
// meet each other or a running service.
std::wstring privatePipePath(const TempDir& dir, const std::wstring& tag);

// A program built beside the test binaries, by its name without ".exe".
std::wstring programBesideTests(const std::wstring& name);
// The helper program built beside the test binaries (tests/helper).
std::wstring helperProgram();

// The repository's source folder (for shipped data such as the seed database).
std::wstring sourcePath(const std::wstring& relative);

inline constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

}  // namespace zorvek::test
