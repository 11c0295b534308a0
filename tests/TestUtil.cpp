#include "TestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/Text.h"
#include "common/platform/System.h"

namespace zorvek::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    path_ = std::filesystem::temp_directory_path() /
            ("zorvek-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::wstring TempDir::file(const std::wstring& name) const { return pathToWide(path_ / toPath(name)); }

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

std::wstring helperProgram() {
  return pathToWide(toPath(modulePath()).parent_path() / ZORVEK_TEST_HELPER);
}

std::wstring sourcePath(const std::wstring& relative) {
  return pathToWide(toPath(toWide(ZORVEK_SOURCE_DIR)) / toPath(relative));
}

}  // namespace zorvek::test
