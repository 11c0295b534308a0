#include "service/QuarantineStore.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

bool fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

// The digest comes from the caller: only its letters and digits go into the stored name, so
// it cannot carry separators or ".." out of the folder.
std::wstring digestPrefix(const std::string& sha256) {
  std::wstring out;
  for (char c : sha256.substr(0, 16)) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

std::wstring lastComponent(const std::wstring& path) {
  return pathToWide(toPath(path).filename());
}

const QuarantineRecord* findRecord(const std::vector<QuarantineRecord>& records, uint64_t id) {
  for (const auto& r : records) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

}  // namespace

std::vector<QuarantineRecord> parseQuarantineIndex(std::string_view text) {
  std::vector<QuarantineRecord> records;
  QuarantineRecord current;
  bool open = false;
  const auto finish = [&] {
    if (open && current.id != 0) records.push_back(std::move(current));
    current = QuarantineRecord{};
    open = false;
  };
  forEachLine(text, [&](std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "ID") {
      finish();
      open = true;
      current.id = parseLooseDecimal(value);
    } else if (key == "ORIG") {
      current.originPath = toWide(value);
    } else if (key == "STORED") {
      current.storedPath = toWide(value);
    } else if (key == "NAME") {
      current.name = toWide(value);
    } else if (key == "SHA256") {
      current.sha256 = std::string(value);
    } else if (key == "THREAT") {
      current.threat = std::string(value);
    } else if (key == "CODE") {
      current.code = std::string(value);
    } else if (key == "SEV") {
      current.severity = parseThreatLevel(value);
    } else if (key == "SIZE") {
      current.size = parseLooseDecimal(value);
    } else if (key == "TIME") {
      current.time = parseLooseDecimal(value);
    }
  });
  finish();
  return records;
}

std::string serializeQuarantineIndex(const std::vector<QuarantineRecord>& records) {
  std::string out = std::string(kQuarantineMagic) + "\n";
  for (const auto& r : records) {
    out += "ID=" + std::to_string(r.id) + "\n";
    out += "ORIG=" + singleLine(toUtf8(r.originPath)) + "\n";
    out += "STORED=" + singleLine(toUtf8(r.storedPath)) + "\n";
    out += "NAME=" + singleLine(toUtf8(r.name)) + "\n";
    out += "SHA256=" + singleLine(r.sha256) + "\n";
    out += "THREAT=" + singleLine(r.threat) + "\n";
    out += "CODE=" + singleLine(r.code) + "\n";
    out += std::string("SEV=") + threatLevelName(r.severity) + "\n";
    out += "SIZE=" + std::to_string(r.size) + "\n";
    out += "TIME=" + std::to_string(r.time) + "\n";
    out += "\n";
  }
  return out;
}

QuarantineStore::QuarantineStore(std::wstring folder)
    : folder_(std::move(folder)), clock_(unixTimeMs) {}

std::wstring QuarantineStore::indexPath() const {
  return folder_ + pathSeparator() + L"quarantine.db";
}

bool QuarantineStore::ensureFolder(std::string* error) {
  if (!createDirectories(folder_)) {
    return fail(error, "cannot create quarantine dir: " + toUtf8(folder_));
  }
  if (pathExists(indexPath())) return true;
  return save({}, error);
}

bool QuarantineStore::read(std::vector<QuarantineRecord>& records, std::string* error) const {
  records.clear();
  std::string text;
  bool missing = false;
  std::string why;
  if (!readWholeFile(indexPath(), text, &why, &missing)) {
    return missing || fail(error, "cannot read quarantine index: " + why);
  }
  records = parseQuarantineIndex(text);
  return true;
}

std::vector<QuarantineRecord> QuarantineStore::list() const {
  std::vector<QuarantineRecord> records;
  read(records, nullptr);
  return records;
}

bool QuarantineStore::save(const std::vector<QuarantineRecord>& records, std::string* error) {
  std::string why;
  if (!writeFileAtomically(indexPath(), serializeQuarantineIndex(records), &why)) {
    return fail(error, "cannot write quarantine index: " + why);
  }
  return true;
}

bool QuarantineStore::add(const std::wstring& path, const std::string& sha256,
                          const std::string& threat, const std::string& code,
                          ThreatLevel severity, QuarantineRecord* record, std::string* error) {
  // A folder is not a detection: moving one would take a whole tree out of the user's reach.
  std::error_code ec;
  if (!pathExists(path) || std::filesystem::is_directory(toPath(path), ec)) {
    return fail(error, "file not found");
  }
  if (!ensureFolder(error)) return false;
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;

  const uint64_t nowMs = clock_();
  QuarantineRecord r;
  // Ids name records in Restore and Remove: never hand out one the index already holds.
  r.id = nowMs == 0 ? 1 : nowMs;
  while (findRecord(records, r.id)) ++r.id;
  r.originPath = path;
  r.name = lastComponent(path);
  r.sha256 = sha256;
  r.threat = threat;
  r.code = code;
  r.severity = severity;
  r.time = nowMs / 1000;
  const long long size = fileSize(path);
  r.size = size < 0 ? 0 : static_cast<uint64_t>(size);

  // The same name and digest in the same second would land on another record's stored file;
  // replacing it would lose that file. Compare case-blind: the Windows file system does.
  const std::wstring prefix = std::to_wstring(r.time) + L"_" + digestPrefix(sha256);
  const auto taken = [&](const std::wstring& candidate) {
    if (pathExists(candidate)) return true;
    const std::wstring lower = asciiLower(candidate);
    return std::any_of(records.begin(), records.end(), [&](const QuarantineRecord& other) {
      return asciiLower(other.storedPath) == lower;
    });
  };
  r.storedPath = folder_ + pathSeparator() + prefix + L"_" + r.name;
  for (unsigned n = 2; taken(r.storedPath); ++n) {
    r.storedPath = folder_ + pathSeparator() + prefix + L"-" + std::to_wstring(n) + L"_" + r.name;
  }

  unsigned long systemError = 0;
  if (!moveFile(path, r.storedPath, &systemError)) {
    return fail(error, "MoveFileEx failed, code " + std::to_string(systemError) +
                           " (файл может быть запущен или заблокирован)");
  }
  records.push_back(r);
  std::string why;
  if (!save(records, &why)) {
    // Without its record the file would sit in the folder where nobody can find or restore it.
    moveFile(r.storedPath, path);
    return fail(error, why);
  }
  if (record) *record = r;
  return true;
}

bool QuarantineStore::restore(uint64_t id, std::string* error) {
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;
  const QuarantineRecord* r = findRecord(records, id);
  if (!r) return fail(error, "record not found");
  const std::filesystem::path parent = toPath(r->originPath).parent_path();
  if (!parent.empty()) createDirectories(pathToWide(parent));
  unsigned long systemError = 0;
  if (!moveFile(r->storedPath, r->originPath, &systemError)) {
    return fail(error, "restore failed, code " + std::to_string(systemError));
  }
  records.erase(records.begin() + (r - records.data()));
  return save(records, error);
}

bool QuarantineStore::remove(uint64_t id, std::string* error) {
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;
  const QuarantineRecord* r = findRecord(records, id);
  if (!r) return fail(error, "record not found");
  unsigned long systemError = 0;
  // A stored file that cannot be deleted keeps its record: forgetting it would leave the file
  // in the folder with nothing pointing at it.
  if (pathExists(r->storedPath) && !removeFile(r->storedPath, &systemError)) {
    return fail(error, "delete failed, code " + std::to_string(systemError));
  }
  records.erase(records.begin() + (r - records.data()));
  return save(records, error);
}

}  // namespace zorvek
