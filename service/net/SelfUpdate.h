#pragma once
// The self-update check: the update server's release description names the Windows installer of
// another version; the service downloads it into the "updates" folder of its data folder and
// offers it to the user, but never runs it.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zorvek::svc {

// A download shorter than this, or not starting with "MZ", is not a Windows installer.
inline constexpr uint64_t kMinInstallerBytes = 65536;
inline constexpr size_t kMaxVersionChars = 64;

// The minimal reader of one JSON string value: the quoted key, the next ":" after it, the next
// double quote after that, and the value up to the next unescaped double quote. A backslash
// takes the next character literally ("\n" stays "n"). False when the key or a complete value is
// missing; nothing else of JSON is checked.
bool jsonStringValue(std::string_view text, std::string_view key, std::string* value);

struct WindowsRelease {
  std::string version;
  std::string url;
  bool hasSha256 = false;  // servers that give no digest are still served
  std::string sha256;      // lower-case hex once checkRelease accepted it
};

// Reads the Windows section of a release description: from the first quoted "windows" to the
// next quoted "android" after it, or to the end. Fails with the text the user sees when the
// section, its "version" or its "url" is missing.
bool readWindowsRelease(std::string_view body, WindowsRelease& release, std::string* error);
// What a release must be before anything is downloaded for it: a version that can serve as part
// of a file name (1 to 64 of A-Z a-z 0-9 . _ -) and, when given, a "sha256" of 64 hex digits.
bool checkRelease(WindowsRelease& release, std::string* error);

class SelfUpdateAccess;

struct SelfUpdateOptions {
  // Tests: asked before each write of the installer with the bytes written so far; false makes
  // that write fail as a full disk would.
  std::function<bool(uint64_t offset)> writeFault;
};

// One check for the engine: true when the built-in version is current (the offered installer is
// then cleared) or when the other version's installer was saved as updates\ZorvekSetup-<version>.exe
// and offered. On failure an earlier download stays as it was.
bool checkForUpdate(SelfUpdateAccess& engine, std::string* error,
                    const SelfUpdateOptions& options = {});

}  // namespace zorvek::svc
