#pragma once
// A file the code under test cannot read, whatever rights the test runs with.

#include <memory>
#include <string>

namespace zorvek::test {

// While it lives, `path` cannot be read by code on this thread. Windows: the file is held open
// without sharing (so no other thread or process reads it either). POSIX: its permissions are
// taken away and, since root reads anyway, a test running as root acts as nobody on this thread.
class UnreadableFile {
 public:
  explicit UnreadableFile(const std::wstring& path);
  ~UnreadableFile();
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;

  // False (with the reason) when the file could not be made unreadable here.
  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::string why_;
};

}  // namespace zorvek::test
