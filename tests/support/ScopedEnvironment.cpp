#include "ScopedEnvironment.h"

#include <utility>

#include "common/platform/System.h"

namespace zorvek::test {

ScopedEnvironment::ScopedEnvironment(std::wstring name, const std::optional<std::wstring>& value)
    : name_(std::move(name)), saved_(environmentVariable(name_)) {
  set(value);
}

ScopedEnvironment::~ScopedEnvironment() { setEnvironmentVariable(name_, saved_); }

bool ScopedEnvironment::set(const std::optional<std::wstring>& value) {
  ok_ = setEnvironmentVariable(name_, value);
  return ok_;
}

}  // namespace zorvek::test
