#include "setup/StepLog.h"

#include "setup/SetupLog.h"

namespace setup {

StepLog::StepLog(std::wstring logPath, Progress progress)
    : logPath_(std::move(logPath)), progress_(std::move(progress)) {}

void StepLog::info(const std::wstring& text) {
  appendSetupLog(logPath_, text);
  if (progress_.line) progress_.line(text);
}

void StepLog::error(const std::wstring& text) {
  failed_ = true;
  info(L"ОШИБКА: " + text);
}

void StepLog::message(const std::wstring& text) const {
  if (progress_.message) progress_.message(text);
}

}  // namespace setup
