#pragma once

#include <string>

#include "common/ThreatLevel.h"

namespace zorvek {

// One rule hit of a file's evaluation.
struct Finding {
  ThreatLevel level = ThreatLevel::Clean;
  std::string code;    // such as "PE.PACKED"
  std::string title;   // UTF-8, one line
  std::string detail;  // UTF-8
};

}  // namespace zorvek
