#include "common/Logger.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/Text.h"

namespace zorvek {

const char* logLevelTag(int level) {
  switch (level) {
    case kLogDebug: return "DBG";
    case kLogInfo: return "INF";
    case kLogWarning: return "WRN";
    case kLogError: return "ERR";
    default: return "???";
  }
}

std::string formatLogLine(const LocalTimeOfDay& time, int level, std::string_view message) {
  char prefix[64];
  const int n = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d [%s] ", time.hour,
                              time.minute, time.second, time.millisecond, logLevelTag(level));
  std::string line(prefix, n > 0 ? static_cast<size_t>(n) : 0);
  line.append(message.substr(0, message.find('\0')));
  line += '\n';
  if (line.size() > kMaxLogLine) {
    line.resize(kMaxLogLine - 1);
    line += '\n';
  }
  return line;
}

Logger& Logger::instance() {
  static Logger logger;
  return logger;
}

void Logger::open(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.open(path, rotateAt_);
}

void Logger::setRotation(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  rotateAt_ = bytes;
}

void Logger::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  file_.close();
}

bool Logger::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return file_.isOpen();
}

namespace {

// Never destroyed: a crash may come while static destructors run. After a rotation the handle
// is swapped for one on the new file: the other slot is opened and then made current, so a crash
// writer always finds an open handle; the older one is closed only at the next swap.
struct CrashLog {
  AppendFile files[2];
  std::atomic<int> current{0};
  std::wstring path;
  AppendFile& file() { return files[current.load()]; }
};
CrashLog& crashLog() {
  static CrashLog* log = new CrashLog;
  return *log;
}

void followRotation(const std::wstring& path) {
  CrashLog& log = crashLog();
  if (log.path != path || !log.file().isOpen()) return;
  const int next = 1 - log.current.load();
  if (log.files[next].open(path)) log.current.store(next);
}

}  // namespace

void Logger::write(int level, std::string_view message) {
  if (level < minLevel_) return;
  const std::string line = formatLogLine(localTimeOfDay(), level, message);
  debugOutput(line.c_str());
  std::lock_guard<std::mutex> lock(mutex_);
  switch (file_.append(line)) {
    case LogFile::Appended::Rotated:
      followRotation(file_.path());
      break;
    case LogFile::Appended::RotationFailed: {
      const std::string warning =
          formatLogLine(localTimeOfDay(), kLogWarning, "log rotation failed: " + file_.rotationError());
      debugOutput(warning.c_str());
      file_.append(warning);
      break;
    }
    default:
      break;
  }
}

void openCrashLog(const std::wstring& path) {
  CrashLog& log = crashLog();
  log.path = path;
  log.file().open(path);
}

void closeCrashLog() { crashLog().file().close(); }

size_t formatUnhandledException(char* buffer, size_t size, uint32_t code, const void* address,
                                uint32_t threadId) {
  if (size == 0) return 0;
  const int n = std::snprintf(buffer, size, "UNHANDLED EXCEPTION code=0x%08lX address=%p thread=%lu",
                              static_cast<unsigned long>(code), address,
                              static_cast<unsigned long>(threadId));
  if (n < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void writeCrashRecord(const char* text) {
  char line[320];
  const size_t textLength = strnlen(text, 256);
  std::memcpy(line, "crash: ", 7);
  std::memcpy(line + 7, text, textLength);
  line[7 + textLength] = '\n';
  line[8 + textLength] = '\0';
  debugOutput(line + 7);
  CrashLog& log = crashLog();
  AppendFile& file = log.file();
  if (file.isOpen()) {
    file.write(line, 8 + textLength);
    return;
  }
  if (log.path.empty()) return;
  AppendFile once;
  if (once.open(log.path)) once.write(line, 8 + textLength);
}

}  // namespace zorvek
