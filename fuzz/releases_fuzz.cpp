// Release descriptions from the update server: any bytes must read without a fault, and whatever
// passes the checks must be safe to put into a file name and to compare as a digest.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/net/SelfUpdate.h"

using namespace zorvek::svc;

namespace {

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool isVersionChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::string escaped(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  WindowsRelease release;
  std::string error;
  if (readWindowsRelease(text, release, &error)) {
    if (release.version.size() >= size || release.url.size() >= size) __builtin_trap();
    if (checkRelease(release, &error)) {
      if (release.version.empty() || release.version.size() > kMaxVersionChars) __builtin_trap();
      for (char c : release.version)
        if (!isVersionChar(c)) __builtin_trap();
      if (release.hasSha256) {
        if (release.sha256.size() != 64) __builtin_trap();
        for (char c : release.sha256)
          if (!isLowerHex(c)) __builtin_trap();
      }
    }
  } else if (error.empty()) {
    __builtin_trap();
  }
  // Any value, escaped as the reader expects, reads back unchanged.
  std::string value;
  const std::string wrapped = "{\"k\": \"" + escaped(text) + "\"}";
  if (!jsonStringValue(wrapped, "k", &value) || value != text) __builtin_trap();
  return 0;
}
