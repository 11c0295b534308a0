#pragma once
// JSON string literals for the programs' machine-readable output.

#include <string>
#include <string_view>

namespace zorvek {

// Appends the UTF-8 text as a JSON string literal. Bytes that are not UTF-8 (possible in POSIX
// file names) become U+FFFD so that the output stays valid JSON.
void appendJsonString(std::string& out, std::string_view text);
std::string jsonString(std::string_view text);

}  // namespace zorvek
