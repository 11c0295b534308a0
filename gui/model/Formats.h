#pragma once
// Number, size and time texts the pages and the threat dialog show (UTF-8).

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorvek::gui {

// printf into a std::string; texts longer than 255 bytes are cut.
std::string formatText(const char* format, ...);

// "%llu Б" below 1024, "%.0f КБ" below 1 MiB, "%.1f МБ" below 1 GiB, else "%.2f ГБ".
std::string formatSize(uint64_t bytes);

// "%02u.%02u.%04u %02u:%02u" (day, month, year, hour, minute) of a count of seconds since
// 1970-01-01 UTC in local time, or "—" when the count is 0 or cannot be converted.
std::string formatLocalDateTime(uint64_t utcSeconds);

// "%02u:00" of a scheduled hour.
std::string formatHour(uint32_t hour);

// The first `limit` UTF-16 code units of a UTF-8 text as a wide string, never splitting a
// surrogate pair: tray tips and balloons take fixed-size buffers.
std::wstring wideCut(const std::string& text, size_t limit);

}  // namespace zorvek::gui
