#pragma once
// The error half of "success flag + optional text": fills the text when the caller wants it.

#include <string>

namespace zorvek {

inline bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace zorvek
