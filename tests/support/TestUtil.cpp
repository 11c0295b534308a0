#include "TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#ifdef _WIN32
#include "common/platform/win32/Win.h"
#endif

namespace zorvek::test {

void writeFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream f(toPath(path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(f) << "cannot create " << toUtf8(path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::wstring& path) {
  std::ifstream f(toPath(path), std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string readStream(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  return out;
}

std::string randomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

bool onWindows() { return pathSeparator() == L'\\'; }

std::wstring privatePipePath(const TempDir& dir, const std::wstring& tag) {
  static std::atomic<unsigned> counter{0};
  if (!onWindows()) return dir.file(tag + L".sock");
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
  return L"\\\\.\\pipe\\ZorvekAV-" + tag + L"-" + std::to_wstring(currentProcessId()) + L"-" +
         std::to_wstring(stamp) + L"-" + std::to_wstring(counter++);
}

std::wstring programBesideTests(const std::wstring& name) {
  return pathToWide(toPath(modulePath()).parent_path() / toPath(onWindows() ? name + L".exe" : name));
}

std::wstring helperProgram() {
  return pathToWide(toPath(modulePath()).parent_path() / ZORVEK_TEST_HELPER);
}

bool runningUnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

std::wstring sourcePath(const std::wstring& relative) {
  return pathToWide(toPath(toWide(ZORVEK_SOURCE_DIR)) / toPath(relative));
}

}  // namespace zorvek::test
