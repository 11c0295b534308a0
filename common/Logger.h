#pragma once
// The process-wide log, zorvek.log in the data folder. The service and the desktop program
// append to the same file; each line is written whole with one append, so lines of different
// threads and processes interleave but never mix. Lines also go to the debugger output.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "common/LogFile.h"
#include "common/platform/System.h"

namespace zorvek {

enum LogLevel : int { kLogDebug = 0, kLogInfo = 1, kLogWarning = 2, kLogError = 3 };

// "DBG", "INF", "WRN", "ERR"; "???" for any other value.
const char* logLevelTag(int level);

// Longest line written, LF included.
inline constexpr size_t kMaxLogLine = 2047;
// The size at which the service renames zorvek.log to zorvek.log.1 and starts a new one.
inline constexpr uint64_t kServiceLogRotateBytes = 16ull << 20;

// "HH:MM:SS.mmm [TAG] message\n". A longer line is cut to kMaxLogLine - 1 bytes and still ends
// with its LF, so the next line starts on a line of its own. The message ends at a NUL byte.
std::string formatLogLine(const LocalTimeOfDay& time, int level, std::string_view message);

class Logger {
 public:
  static Logger& instance();

  // (Re)opens the log, creating its folder. A log that cannot be opened leaves only the
  // debugger output; nothing is reported. A new or empty file starts with the UTF-8 BOM.
  void open(const std::wstring& path);
  // Lets this process rename the log to zorvek.log.1 once it reaches `bytes` (0, the default:
  // never). Only the service rotates; every other writer follows the rename. Takes effect at
  // the next open.
  void setRotation(uint64_t bytes);
  void close();
  bool isOpen() const;
  // Lines below INF are dropped.
  void write(int level, std::string_view message);

 private:
  Logger() = default;
  mutable std::mutex mutex_;
  LogFile file_;
  uint64_t rotateAt_ = 0;
  int minLevel_ = kLogInfo;
};

inline void logInfo(std::string_view message) { Logger::instance().write(kLogInfo, message); }
inline void logWarning(std::string_view message) { Logger::instance().write(kLogWarning, message); }
inline void logError(std::string_view message) { Logger::instance().write(kLogError, message); }

// Last-chance crash record. openCrashLog keeps a second, raw append handle on the log, opened at
// start-up while the process is still sound; writeCrashRecord is what an unhandled-exception
// filter calls: it takes no lock and allocates nothing.
void openCrashLog(const std::wstring& path);
void closeCrashLog();
// "UNHANDLED EXCEPTION code=0x%08lX address=%p thread=%lu" into `buffer` (cut to fit); returns
// the length.
size_t formatUnhandledException(char* buffer, size_t size, uint32_t code, const void* address,
                                uint32_t threadId);
// Sends text + LF to the debugger and appends "crash: " + text + LF to the log in one write.
// Without a crash handle the log path is opened for this one write.
void writeCrashRecord(const char* text);

}  // namespace zorvek
