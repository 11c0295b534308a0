#include "setup/Payload.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/Text.h"
#include "common/platform/System.h"
#include "setup/EntryName.h"
#include "setup/platform/SetupFiles.h"

namespace setup {
namespace {

constexpr size_t kBlock = 1 << 18;
constexpr unsigned kMaxNameTries = 1000;

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// Names come from the payload: no control characters reach the console or the log.
std::wstring printable(std::string_view name) {
  std::wstring out = zorvek::toWide(name);
  for (auto& c : out) {
    if (c < 0x20 || c == 0x7F) c = L'?';
  }
  return out;
}

std::string hexByte(unsigned char b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  return std::string("0x") + kDigits[b >> 4] + kDigits[b & 15];
}

bool copyEntry(ByteSource& source, const PayloadEntry& entry, const std::wstring& target,
               std::string* error) {
  const std::string shownTarget = zorvek::toUtf8(target);
  std::FILE* out = zorvek::openStdioFile(target, "wb");
  if (!out) return fail(error, "не удалось записать " + shownTarget);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(out, std::fclose);
  std::vector<char> buffer(kBlock);
  for (uint64_t done = 0; done < entry.size;) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(kBlock, entry.size - done));
    if (!source.readAt(entry.offset + done, buffer.data(), n))
      return fail(error, "нагрузка не прочитана: " + zorvek::toUtf8(printable(entry.name)));
    if (std::fwrite(buffer.data(), 1, n, out) != n) return fail(error, "обрыв записи " + shownTarget);
    done += n;
  }
  // A full disk may only show when the buffered rest is written out.
  if (std::fclose(closer.release()) != 0) return fail(error, "обрыв записи " + shownTarget);
  return true;
}

}  // namespace

bool FileSource::open(const std::wstring& path) {
  if (!file_.open(path)) return false;
  const long long size = file_.size();
  size_ = size < 0 ? 0 : static_cast<uint64_t>(size);
  return size >= 0;
}

void FileSource::close() {
  file_.close();
  size_ = 0;
}

bool FileSource::readAt(uint64_t offset, void* buffer, size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  auto* out = static_cast<char*>(buffer);
  while (count > 0) {
    const long long n = file_.readAt(out, count, static_cast<long long>(offset));
    if (n <= 0) return false;
    out += n;
    count -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

void InstallerPayload::read(const std::wstring& installerPath) {
  file_.close();
  index_ = {};
  index_.state = PayloadState::Damaged;
  if (installerPath.empty()) {
    index_.status = "GetModuleFileNameW не удался";
  } else if (!file_.open(installerPath)) {
    index_.status = "не удалось открыть: " + zorvek::toUtf8(installerPath);
  } else {
    index_ = indexPayload(file_);
  }
}

TempFolder::~TempFolder() {
  if (!path_.empty()) removeTree(path_);
}

bool TempFolder::create(const std::wstring& base, const std::wstring& stem, std::string* error) {
  if (!path_.empty()) return fail(error, "already created");
  if (base.empty()) return fail(error, "временная папка неизвестна");
  std::string lastError;
  for (unsigned i = 0; i < kMaxNameTries; ++i) {
    const std::wstring candidate = base + stem + (i == 0 ? L"" : L"-" + std::to_wstring(i));
    bool exists = false;
    if (createPrivateFolder(candidate, &exists, &lastError)) {
      path_ = candidate;
      return true;
    }
    if (!exists) break;
  }
  return fail(error, lastError);
}

bool extractEntries(ByteSource& source, const std::vector<PayloadEntry>& entries,
                    const std::wstring& folder, std::string* error) {
  std::vector<std::wstring> targets(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entryTargetPath(folder, entries[i].name, targets[i]))
      return fail(error, suspiciousNameText(entries[i].name));
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::wstring parent = zorvek::pathToWide(zorvek::toPath(targets[i]).parent_path());
    if (!zorvek::createDirectories(parent))
      return fail(error, "не удалось создать каталог для " + zorvek::toUtf8(printable(entries[i].name)));
    if (!copyEntry(source, entries[i], targets[i], error)) return false;
  }
  return true;
}

ExtractResult extractPayload(InstallerPayload& payload, TempFolder& folder,
                             const std::wstring& base, const std::wstring& stem,
                             std::string* error) {
  const PayloadIndex& index = payload.index();
  if (index.state == PayloadState::Absent) {
    fail(error, "в установщике нет встроенных файлов");
    return ExtractResult::NoPayload;
  }
  if (index.state == PayloadState::Damaged) {
    fail(error, index.status);
    return ExtractResult::Failed;
  }
  // A payload that is there but empty is a broken distribution, not an ordinary build.
  if (index.entries.empty()) {
    fail(error, "в установщике нет встроенных файлов");
    return ExtractResult::Failed;
  }
  std::string why;
  if (!folder.create(base, stem, &why)) {
    fail(error, "не удалось создать временный каталог: " + why);
    return ExtractResult::Failed;
  }
  return extractEntries(payload.source(), index.entries, folder.path(), error)
             ? ExtractResult::Extracted
             : ExtractResult::Failed;
}

std::string compareExtracted(ByteSource& source, const PayloadEntry& entry,
                             const std::wstring& path) {
  zorvek::InputFile file;
  if (!file.open(path)) return "файл не прочитан";
  const long long size = file.size();
  if (size < 0 || static_cast<uint64_t>(size) != entry.size)
    return "размер " + std::to_string(size) + " != " + std::to_string(entry.size) + " байт";
  std::vector<unsigned char> onDisk(kBlock), expected(kBlock);
  for (uint64_t done = 0; done < entry.size;) {
    const auto n = static_cast<size_t>(std::min<uint64_t>(kBlock, entry.size - done));
    if (file.readAt(onDisk.data(), n, static_cast<long long>(done)) != static_cast<long long>(n))
      return "файл не прочитан";
    if (!source.readAt(entry.offset + done, expected.data(), n)) return "нагрузка не прочитана";
    for (size_t i = 0; i < n; ++i) {
      if (onDisk[i] != expected[i])
        return "байт " + std::to_string(done + i) + ": " + hexByte(onDisk[i]) +
               " != " + hexByte(expected[i]);
    }
    done += n;
  }
  return {};
}

int runSelfTest(InstallerPayload& payload, const std::wstring& tempBase,
                const std::function<void(const std::wstring&)>& printLine) {
  const PayloadIndex& index = payload.index();
  if (index.entries.empty()) {
    printLine(L"НАГРУЗКА ПУСТА: " + zorvek::toWide(index.status));
    // The note is about ordinary builds; a damaged payload is not one.
    if (index.state == PayloadState::Absent)
      printLine(L"(обычная сборка без payload — это ожидаемо, но дистрибутив так быть не должен)");
    return 1;
  }
  printLine(L"НАГРУЗКА: " + std::to_wstring(index.entries.size()) + L" файлов, " +
            std::to_wstring(index.totalBytes()) + L" байт");
  for (const auto& e : index.entries)
    printLine(L"  " + printable(e.name) + L" — " + std::to_wstring(e.size) + L" байт");

  TempFolder folder;
  std::string error;
  if (extractPayload(payload, folder, tempBase, L"ZorvekSetup-selftest", &error) !=
      ExtractResult::Extracted) {
    printLine(L"РАСПАКОВКА НЕ УДАЛАСЬ: " + zorvek::toWide(error));
    return 1;
  }
  bool allMatch = true;
  for (const auto& e : index.entries) {
    std::wstring target;
    entryTargetPath(folder.path(), e.name, target);
    const std::string difference = compareExtracted(payload.source(), e, target);
    if (difference.empty()) continue;
    allMatch = false;
    printLine(L"  НЕ СОВПАЛО: " + printable(e.name) + L" (" + zorvek::toWide(difference) + L")");
  }
  printLine(allMatch ? L"РАСПАКОВКА: ок" : L"РАСПАКОВКА: расхождения");
  return allMatch ? 0 : 1;
}

}  // namespace setup
