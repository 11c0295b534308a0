#pragma once
// Helpers shared by the test suites: scratch folders and whole-file I/O.

#include <filesystem>
#include <string>

namespace zorvek::test {

// A fresh folder under the system temp folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The wide path of a name inside the folder.
  std::wstring file(const std::wstring& name) const;

 private:
  std::filesystem::path path_;
};

void writeFile(const std::wstring& path, const std::string& bytes);
std::string readFile(const std::wstring& path);
// Contents of a stdio stream written by the code under test (rewinds it first).
std::string readStream(std::FILE* f);

// The helper program built beside the test binaries (tests/helper).
std::wstring helperProgram();

// The repository's source folder (for shipped data such as the seed database).
std::wstring sourcePath(const std::wstring& relative);

inline constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

}  // namespace zorvek::test
