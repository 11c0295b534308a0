#include "gui/model/Formats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "common/Text.h"

namespace zorvek::gui {
std::string formatText(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return n > 0 ? std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1))
               : std::string();
}

std::string formatSize(uint64_t bytes) {
  constexpr uint64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;
  const double b = static_cast<double>(bytes);
  if (bytes < kKiB) return formatText("%llu Б", static_cast<unsigned long long>(bytes));
  if (bytes < kMiB) return formatText("%.0f КБ", b / static_cast<double>(kKiB));
  if (bytes < kGiB) return formatText("%.1f МБ", b / static_cast<double>(kMiB));
  return formatText("%.2f ГБ", b / static_cast<double>(kGiB));
}

std::string formatLocalDateTime(uint64_t utcSeconds) {
  constexpr char kNone[] = "—";
  if (utcSeconds == 0 || utcSeconds > static_cast<uint64_t>(INT64_MAX)) return kNone;
  const auto t = static_cast<std::time_t>(utcSeconds);
  // std::localtime shares one buffer; the program is single-threaded but tests need not be.
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  const std::tm* local = std::localtime(&t);
  if (!local) return kNone;
  return formatText("%02u.%02u.%04u %02u:%02u", static_cast<unsigned>(local->tm_mday),
               static_cast<unsigned>(local->tm_mon + 1),
               static_cast<unsigned>(local->tm_year + 1900), static_cast<unsigned>(local->tm_hour),
               static_cast<unsigned>(local->tm_min));
}

std::string formatHour(uint32_t hour) { return formatText("%02u:00", static_cast<unsigned>(hour)); }

std::wstring wideCut(const std::string& text, size_t limit) {
  const std::string utf16 = toUtf16Le(toWide(text));
  size_t units = std::min(limit, utf16.size() / 2);
  // A high surrogate at the cut would be left without its partner.
  if (units > 0 && units < utf16.size() / 2) {
    const auto last = static_cast<uint16_t>(static_cast<uint8_t>(utf16[2 * units - 2]) |
                                            static_cast<uint8_t>(utf16[2 * units - 1]) << 8);
    if (last >= 0xD800 && last <= 0xDBFF) --units;
  }
  return fromUtf16Le(std::string_view(utf16).substr(0, 2 * units));
}

}  // namespace zorvek::gui
