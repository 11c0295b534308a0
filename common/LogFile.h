#pragma once
// One writer's handle on a log file that several writers and processes share. Each line is
// appended whole under the writers' lock; a writer that finds the file renamed away follows the
// name to the new file; every new file starts with the UTF-8 byte order mark. A writer given a
// limit renames the file to <name>.1 (replacing the older one) once it reaches the limit and
// starts a new one; the others only follow.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/File.h"

namespace zorvek {

class LogFile {
 public:
  enum class Appended {
    Failed,          // not open, or the write failed
    Written,
    Rotated,         // written, and the full file was then renamed to <name>.1
    RotationFailed,  // written, but the full file could not be renamed: rotationError() says why
  };

  // Opens or creates the file and its folder. `rotateAtBytes` 0: never rename the file.
  bool open(const std::wstring& path, uint64_t rotateAtBytes = 0);
  void close();
  bool isOpen() const { return file_.isOpen(); }
  const std::wstring& path() const { return path_; }

  Appended append(std::string_view line);
  const std::string& rotationError() const { return rotationError_; }

 private:
  class WritersLock;
  // The lock of the current file is held; it is released with the old file once the new one
  // stands in its place, so writers waiting for it find the new file at the name.
  bool rotate(WritersLock& lock);

  AppendFile file_;
  std::wstring path_;
  uint64_t rotateAt_ = 0;
  uint64_t nextAttemptAt_ = 0;  // after a failed rename, try again once the file grew this big
  std::string rotationError_;
  uint64_t asideCount_ = 0;  // names the older logs moved aside to be deleted
};

// The older log that rotation keeps: <path>.1.
std::wstring rotatedLogPath(const std::wstring& path);

}  // namespace zorvek
