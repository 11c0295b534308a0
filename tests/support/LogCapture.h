#pragma once
// Sends the process-wide log to a fresh file for the object's lifetime.

#include <string>

#include "TempDir.h"

namespace zorvek::test {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text() const;
  bool contains(const std::string& text) const;

 private:
  TempDir dir_;
};

}  // namespace zorvek::test
