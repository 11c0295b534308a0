#include "common/ThreatLevel.h"

#include "common/Text.h"

namespace zorvek {

const char* threatLevelName(ThreatLevel level) {
  switch (level) {
    case ThreatLevel::Clean: return "clean";
    case ThreatLevel::Low: return "low";
    case ThreatLevel::Medium: return "medium";
    case ThreatLevel::High: return "high";
    case ThreatLevel::Critical: return "critical";
  }
  return "unknown";
}

ThreatLevel parseThreatLevel(std::string_view word) {
  const std::string w = asciiLower(word);
  if (w == "low") return ThreatLevel::Low;
  if (w == "medium") return ThreatLevel::Medium;
  if (w == "high") return ThreatLevel::High;
  if (w == "critical") return ThreatLevel::Critical;
  return ThreatLevel::Clean;
}

}  // namespace zorvek
