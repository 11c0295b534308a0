#pragma once

#include <cstdint>
#include <string_view>

namespace zorvek {

enum class ThreatLevel : uint32_t { Clean = 0, Low = 1, Medium = 2, High = 3, Critical = 4 };

// "clean" .. "critical"; any other value is "unknown".
const char* threatLevelName(ThreatLevel level);
inline const char* threatLevelName(uint32_t level) {
  return threatLevelName(static_cast<ThreatLevel>(level));
}

// Case-insensitive (ASCII) whole-word match of low/medium/high/critical; anything else is clean.
ThreatLevel parseThreatLevel(std::string_view word);

}  // namespace zorvek
