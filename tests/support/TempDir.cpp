#include "TempDir.h"

#include <atomic>
#include <chrono>

#include "TestUtil.h"
#include "common/Text.h"

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

std::wstring TempDir::write(const std::wstring& relative, const std::string& bytes) const {
  const std::filesystem::path p = path_ / toPath(relative);
  std::error_code ec;
  std::filesystem::create_directories(p.parent_path(), ec);
  const std::wstring wide = pathToWide(p);
  writeFile(wide, bytes);
  return wide;
}

}  // namespace zorvek::test
