#include "common/platform/File.h"

#include "common/platform/win32/Win.h"

namespace zorvek {
namespace {
HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::wstring& path, Share share, std::string* error) {
  close();
  const DWORD mode = share == Share::ReadOnly ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, mode, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = "CreateFileW failed (win32=" + std::to_string(GetLastError()) + ")";
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

long long InputFile::read(void* buffer, size_t size) {
  if (!isOpen()) return -1;
  // ReadFile takes a DWORD count; stay well below it.
  const DWORD want = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
  DWORD got = 0;
  if (!ReadFile(asHandle(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

long long InputFile::size() const {
  LARGE_INTEGER li;
  if (!isOpen() || !GetFileSizeEx(asHandle(handle_), &li)) return -1;
  return li.QuadPart;
}

void InputFile::close() {
  if (isOpen()) CloseHandle(asHandle(handle_));
  handle_ = kInvalid;
}

bool pathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace zorvek

namespace zorvek {
std::FILE* openStdioFile(const std::wstring& path, const char* mode) {
  std::wstring wmode;
  for (const char* p = mode; *p; ++p) wmode += static_cast<wchar_t>(*p);
  return _wfopen(path.c_str(), wmode.c_str());
}
}  // namespace zorvek
