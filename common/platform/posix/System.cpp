#include "common/platform/System.h"

#include <sys/types.h>
#include <unistd.h>
#include <sys/syscall.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "common/Text.h"

namespace zorvek {
namespace {

std::wstring absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  // The XDG rules ignore relative values.
  if (!value || value[0] != '/') return {};
  return toWide(value);
}

std::wstring userDataHome() {
  std::wstring base = absoluteEnv("XDG_DATA_HOME");
  if (!base.empty()) return base;
  base = absoluteEnv("HOME");
  return base.empty() ? std::wstring() : base + L"/.local/share";
}

}  // namespace

std::wstring knownFolder(KnownFolder folder) {
  switch (folder) {
    case KnownFolder::ProgramData: return L"/var/lib";
    case KnownFolder::LocalAppData: return userDataHome();
    case KnownFolder::ProgramFiles: return L"/opt";
    case KnownFolder::Windows:
    case KnownFolder::Programs:
    case KnownFolder::Desktop: return {};
  }
  return {};
}

std::wstring platformDataFolder() {
  if (geteuid() == 0) return L"/var/lib/zorvek";
  const std::wstring home = userDataHome();
  return home.empty() ? std::wstring() : home + L"/zorvek";
}

std::wstring modulePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size()) return toWide(std::string(buffer.data(), static_cast<size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::wstring> environmentVariable(const std::wstring& name) {
  const char* value = std::getenv(toUtf8(name).c_str());
  if (!value) return std::nullopt;
  return toWide(value);
}

bool setEnvironmentVariable(const std::wstring& name, const std::optional<std::wstring>& value) {
  const std::string key = toUtf8(name);
  if (!value) return ::unsetenv(key.c_str()) == 0;
  return ::setenv(key.c_str(), toUtf8(*value).c_str(), 1) == 0;
}

bool stderrIsTerminal() { return ::isatty(2) == 1; }

void debugOutput(const char*) {}

uint32_t currentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

LocalTimeOfDay localTimeOfDay() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  return {tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000)};
}

uint64_t unixTimeMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

unsigned long lastSystemError() { return static_cast<unsigned long>(errno); }

}  // namespace zorvek
