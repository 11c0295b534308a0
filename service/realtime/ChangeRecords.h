#pragma once
// The records a directory change read delivers (FILE_NOTIFY_INFORMATION: next-entry offset,
// action, name length in bytes, UTF-16 name relative to the watched folder). Portable, so the
// walk is tested and fuzzed everywhere.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zorvek::svc {

struct ChangeRecord {
  uint32_t action = 0;  // FILE_ACTION_*: every action is handled alike
  std::wstring name;    // relative to the watched folder, never empty
};

// The records of `bytes`, the part of the buffer the read filled. The walk stops at a record that
// would run past those bytes or whose name length is odd; empty names and names holding a NUL
// are left out.
std::vector<ChangeRecord> parseChangeRecords(std::span<const uint8_t> bytes);

}  // namespace zorvek::svc
