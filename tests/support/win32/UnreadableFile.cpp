#include "UnreadableFile.h"

#include "common/platform/win32/Handle.h"

namespace zorvek::test {

struct UnreadableFile::State {
  UniqueFile held;
};

UnreadableFile::UnreadableFile(const std::wstring& path) : state_(std::make_unique<State>()) {
  // No sharing at all: every other open fails with a sharing violation.
  state_->held.reset(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!state_->held) why_ = "cannot hold the file open (win32=" + std::to_string(GetLastError()) + ")";
}

UnreadableFile::~UnreadableFile() = default;

}  // namespace zorvek::test
