#pragma once

#include <optional>
#include <string>

namespace zorvek::test {

// Sets an environment variable (or removes it, for nullopt) for the life of the object, then
// puts back what was there before, also when a test ends early at a failed ASSERT.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::wstring name, const std::optional<std::wstring>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Changes the value again; the original still comes back at the end. False when the system
  // refused.
  bool set(const std::optional<std::wstring>& value);
  // Whether the last change took.
  bool ok() const { return ok_; }

 private:
  std::wstring name_;
  std::optional<std::wstring> saved_;
  bool ok_ = false;
};

}  // namespace zorvek::test
