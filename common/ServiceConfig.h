#pragma once
// The service's settings record and its settings.ini file.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/Settings.h"

namespace zorvek {

struct ServiceConfig : Settings {
  // The defaults; computes the seed database path and the default quarantine folder now.
  ServiceConfig();

  // Reads settings.ini over the current values; keys that are absent keep them. False only when
  // the file cannot be opened. A ScheduledHour without digits throws std::invalid_argument
  // ("invalid stoul argument"), one beyond 32 bits std::out_of_range ("stoul argument out of
  // range"), as std::stoul does; the engine's start-up turns that into a failed start.
  bool load(const std::wstring& path, std::string* error = nullptr);
  // The same over the file's bytes.
  void parse(std::string_view text);

  // Writes the whole record, replacing the file only once the new one is complete. False when
  // the file cannot be written; the old file is then untouched.
  bool save(const std::wstring& path, std::string* error = nullptr) const;
  // The file's bytes: the header and the sixteen keys in their fixed order, LF line ends.
  std::string serialize() const;

  bool operator==(const ServiceConfig&) const = default;
};

// std::stoul over a 32-bit unsigned long, with the messages above.
uint32_t parseStoul32(std::string_view text);

}  // namespace zorvek
