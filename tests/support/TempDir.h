#pragma once

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
  // Writes a file at a path relative to the folder, creating the folders on the way; returns
  // its wide path.
  std::wstring write(const std::wstring& relative, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace zorvek::test
