#pragma once
// How the install and uninstall report their steps: every line goes to the setup log and to the
// caller (the console in silent mode, the wizard's list from its worker thread); an error line
// carries the "ОШИБКА: " prefix and makes the result 1.

#include <atomic>
#include <functional>
#include <string>

namespace setup {

using LineSink = std::function<void(const std::wstring&)>;

struct Progress {
  LineSink line;     // each line as logged, errors with their prefix
  LineSink message;  // what the user must read: a message box in the wizard, printed when silent
};

class StepLog {
 public:
  // An empty `logPath` writes no log file.
  StepLog(std::wstring logPath, Progress progress);
  StepLog(const StepLog&) = delete;
  StepLog& operator=(const StepLog&) = delete;

  void info(const std::wstring& text);
  void error(const std::wstring& text);
  void message(const std::wstring& text) const;

  // Read by the wizard's window thread while the worker writes it.
  bool failed() const { return failed_.load(); }
  int result() const { return failed() ? 1 : 0; }

 private:
  std::wstring logPath_;
  Progress progress_;
  std::atomic<bool> failed_{false};
};

}  // namespace setup
