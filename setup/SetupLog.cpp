#include "setup/SetupLog.h"

#include <cstdio>

#include "common/Text.h"
#include "common/platform/File.h"
#include "setup/platform/SetupFiles.h"

namespace setup {
namespace {
constexpr size_t kReadBlock = 8190;
const std::string kBom("\xFF\xFE", 2);
}  // namespace

std::wstring setupLogPath(const std::wstring& tempFolder) {
  // Without a temporary folder there is no log: a bare name would land in the current folder.
  return tempFolder.empty() ? std::wstring() : tempFolder + kSetupLogName;
}

std::string encodeLogLine(const zorvek::LocalTimeOfDay& time, std::wstring_view message) {
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ", time.hour, time.minute, time.second);
  // One entry, one line: the texts that are also shown in a message box carry line breaks.
  std::wstring line = zorvek::toWide(stamp) + std::wstring(message);
  for (auto& c : line) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return zorvek::toUtf16Le(line + L"\r\n");
}

void appendSetupLog(const std::wstring& path, std::wstring_view message) {
  if (path.empty()) return;
  appendRecord(path, kBom, encodeLogLine(zorvek::localTimeOfDay(), message));
}

bool readSetupLog(const std::wstring& path, const std::function<void(const std::wstring&)>& write) {
  zorvek::InputFile file;
  if (!file.open(path, zorvek::InputFile::Share::ReadWrite)) return false;
  std::string pending;
  bool first = true;
  char block[kReadBlock];
  for (;;) {
    const long long n = file.read(block, sizeof block);
    if (n <= 0) break;
    pending.append(block, static_cast<size_t>(n));
    if (first && pending.size() >= 2) {
      if (pending.compare(0, 2, kBom) == 0) pending.erase(0, 2);
      first = false;
    }
    // A block may end inside a character: keep an odd byte and a lone high surrogate for the next.
    size_t whole = pending.size() & ~size_t{1};
    if (whole >= 2 && (static_cast<unsigned char>(pending[whole - 1]) & 0xFC) == 0xD8) whole -= 2;
    if (whole == 0) continue;
    write(zorvek::fromUtf16Le(std::string_view(pending).substr(0, whole)));
    pending.erase(0, whole);
  }
  if (pending.size() >= 2) write(zorvek::fromUtf16Le(pending));
  return true;
}

}  // namespace setup
