#include "service/QuarantineStore.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "common/Fail.h"
#include "common/Hash.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "common/platform/System.h"

namespace zorvek {
namespace {

// Temporaries that only an interrupted write leaves behind: index and intent saves, and copies
// across volumes (Folder.h).
constexpr std::wstring_view kTemporaryPrefixes[] = {L"quarantine.db.tmp-",
                                                    L"quarantine.intent.tmp-", L"~zorvek-tmp-"};

const std::string kMoveHint = " (файл может быть запущен или заблокирован)";

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

// The folder holding `path` and the name in it, as the platform splits paths.
bool splitParent(const std::wstring& path, std::wstring& parent, std::wstring& name) {
  SplitPath split = splitPath(path);
  if (split.parts.empty()) return false;
  name = split.parts.back();
  split.parts.pop_back();
  parent = split.root;
  for (size_t i = 0; i < split.parts.size(); ++i) {
    if (i) parent += pathSeparator();
    parent += split.parts[i];
  }
  if (parent.empty()) parent = L".";
  return true;
}

std::wstring lastComponent(const std::wstring& path) {
  std::wstring parent, name;
  return splitParent(path, parent, name) ? name : path;
}

const QuarantineRecord* findRecord(const std::vector<QuarantineRecord>& records, uint64_t id) {
  for (const auto& r : records) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

// A stored name is "<seconds>_<digest>_<name>" (the digest part may carry a "-N" suffix).
bool looksStored(const std::wstring& name) {
  const size_t underscore = name.find(L'_');
  return underscore != std::wstring::npos && underscore > 0 &&
         std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(underscore),
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// A line break inside a value would end it early and let the rest pass for further keys.
bool needsEscape(std::string_view value) {
  return value.find_first_of("\r\n") != std::string_view::npos;
}

std::string escapeValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '%') out += "%25";
    else if (c == '\r') out += "%0D";
    else if (c == '\n') out += "%0A";
    else out += c;
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string unescapeValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    const int hi = value[i] == '%' && i + 2 < value.size() ? hexValue(value[i + 1]) : -1;
    const int lo = hi >= 0 ? hexValue(value[i + 2]) : -1;
    if (lo >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

void putField(std::string& out, const char* key, std::string_view value) {
  out += key;
  if (needsEscape(value)) {
    out += "%=";
    out += escapeValue(value);
  } else {
    out += '=';
    out += value;
  }
  out += '\n';
}

// What a record says in the log.
std::string describe(const QuarantineRecord& r) {
  return "id " + std::to_string(r.id) + " (" + toUtf8(r.storedPath) + ")";
}

bool isTemporary(const std::wstring& name) {
  for (const auto prefix : kTemporaryPrefixes)
    if (name.rfind(prefix, 0) == 0) return true;
  return false;
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
    std::string_view key = line.substr(0, eq);
    std::string value(line.substr(eq + 1));
    if (key.size() > 1 && key.back() == '%') {
      key.remove_suffix(1);
      value = unescapeValue(value);
    }
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
      current.sha256 = std::move(value);
    } else if (key == "THREAT") {
      current.threat = std::move(value);
    } else if (key == "CODE") {
      current.code = std::move(value);
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
    putField(out, "ORIG", toUtf8(r.originPath));
    putField(out, "STORED", toUtf8(r.storedPath));
    putField(out, "NAME", toUtf8(r.name));
    putField(out, "SHA256", r.sha256);
    putField(out, "THREAT", r.threat);
    putField(out, "CODE", r.code);
    out += std::string("SEV=") + threatLevelName(r.severity) + "\n";
    out += "SIZE=" + std::to_string(r.size) + "\n";
    out += "TIME=" + std::to_string(r.time) + "\n";
    out += "\n";
  }
  return out;
}

bool holdFile(const std::wstring& path, HeldFile& out, std::string* error, OpenFailure* why,
              unsigned long* systemError, const ClientIdentity& client) {
  if (systemError) *systemError = 0;
  std::wstring parent;
  out.path = path;
  if (!splitParent(path, parent, out.name)) {
    if (why) *why = OpenFailure::NotFound;
    return fail(error, "file not found");
  }
  std::string text;
  const auto failed = [&] {
    if (systemError) *systemError = lastSystemError();
    return fail(error, text);
  };
  const auto denied = [&] {
    if (why) *why = OpenFailure::AccessDenied;
    return fail(error, "access denied");
  };
  {
    // The folders as the client may reach them: no further than it could go itself.
    const ActingAs acting(client);
    if (!acting.ok()) return denied();
    if (!out.folder.open(parent, Links::Refuse, Folder::Purpose::Modify, &text, why)) {
      return failed();
    }
  }
  // The file itself by the service: deleting needs no right to read it.
  if (!out.file.openIn(out.folder, out.name, Links::Refuse, InputFile::Access::Move, &text, why)) {
    return failed();
  }
  const ActingAs acting(client);
  if (!acting.ok() || !actingClientMayDelete(out.folder, out.file)) {
    out.file.close();
    return denied();
  }
  return true;
}

QuarantineStore::QuarantineStore(std::wstring folder)
    : folder_(std::move(folder)), clock_(unixTimeMs) {}

std::wstring QuarantineStore::indexPath() const {
  return folder_ + pathSeparator() + toWide(kQuarantineIndexName);
}

std::wstring QuarantineStore::intentPath() const {
  return folder_ + pathSeparator() + toWide(kQuarantineIntentName);
}

bool QuarantineStore::ensureFolder(std::string* error) {
  if (!createDirectories(folder_, nullptr, Privacy::OwnerOnly)) {
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
  if (!writeFileAtomically(indexPath(), serializeQuarantineIndex(records), &why,
                           Privacy::OwnerOnly)) {
    return fail(error, "cannot write quarantine index: " + why);
  }
  return true;
}

uint64_t QuarantineStore::freshId(const std::vector<QuarantineRecord>& records) const {
  const uint64_t nowMs = clock_();
  // Ids name records in Restore and Remove: never hand out one the index already holds.
  uint64_t id = nowMs == 0 ? 1 : nowMs;
  while (findRecord(records, id)) ++id;
  return id;
}

bool QuarantineStore::add(const std::wstring& path, const std::string& sha256,
                          const std::string& threat, const std::string& code,
                          ThreatLevel severity, QuarantineRecord* record, std::string* error) {
  HeldFile held;
  OpenFailure why = OpenFailure::None;
  unsigned long systemError = 0;
  std::string openError;
  if (!holdFile(path, held, &openError, &why, &systemError)) {
    // A folder is not a detection: moving one would take a whole tree out of the user's reach.
    if (why == OpenFailure::NotFound || why == OpenFailure::NotRegular) {
      return fail(error, "file not found");
    }
    if (why == OpenFailure::Link) return fail(error, "refused: the path contains a link");
    return fail(error, "MoveFileEx failed, code " + std::to_string(systemError) + kMoveHint);
  }
  return add(held, sha256, threat, code, severity, record, error);
}

bool QuarantineStore::add(HeldFile& held, const std::string& sha256, const std::string& threat,
                          const std::string& code, ThreatLevel severity,
                          QuarantineRecord* record, std::string* error) {
  if (!ensureFolder(error)) return false;
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;

  QuarantineRecord r;
  r.id = freshId(records);
  r.originPath = held.path;
  r.name = held.name;
  r.sha256 = sha256;
  r.threat = threat;
  r.code = code;
  r.severity = severity;
  r.time = clock_() / 1000;
  FileInfo info;
  r.size = held.file.info(info) ? info.size : 0;

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
  std::wstring storedName = prefix + L"_" + r.name;
  for (unsigned n = 2; taken(folder_ + pathSeparator() + storedName); ++n) {
    storedName = prefix + L"-" + std::to_wstring(n) + L"_" + r.name;
  }
  r.storedPath = folder_ + pathSeparator() + storedName;

  Folder quarantine;
  std::string why;
  if (!quarantine.open(folder_, Links::Follow, Folder::Purpose::Modify, &why)) {
    return fail(error, "cannot open quarantine dir: " + why);
  }
  // Named before it moves: a kill between the move and the index leaves the intent, and
  // recover() gives the stored file its full record.
  if (!writeFileAtomically(intentPath(), "OP=add\n" + serializeQuarantineIndex({r}), &why,
                           Privacy::OwnerOnly)) {
    return fail(error, "cannot write quarantine intent: " + why);
  }
  unsigned long systemError = 0;
  if (!moveOpenedFile(held.file, held.folder, held.name, quarantine, storedName, &why,
                      &systemError)) {
    removeFile(intentPath());
    return fail(error, "MoveFileEx failed, code " + std::to_string(systemError) + kMoveHint);
  }
  held.file.close();
  records.push_back(r);
  if (!save(records, &why)) {
    // Without its record the file would sit in the folder where nobody can find or restore it.
    InputFile stored;
    if (stored.openIn(quarantine, storedName, Links::Refuse, InputFile::Access::Move))
      moveOpenedFile(stored, quarantine, storedName, held.folder, held.name);
    removeFile(intentPath());
    return fail(error, why);
  }
  removeFile(intentPath());
  if (record) *record = r;
  return true;
}

bool QuarantineStore::restore(uint64_t id, std::string* error) {
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;
  const QuarantineRecord* r = findRecord(records, id);
  if (!r) return fail(error, "record not found");
  if (r->originPath.empty()) return fail(error, "restore failed: the file's origin is unknown");

  std::wstring storedFolder, storedName, originFolder, originName;
  if (!splitParent(r->storedPath, storedFolder, storedName) ||
      !splitParent(r->originPath, originFolder, originName)) {
    return fail(error, "restore failed: the record's paths are damaged");
  }
  Folder from;
  InputFile stored;
  std::string why;
  if (!from.open(storedFolder, Links::Follow, Folder::Purpose::Modify, &why) ||
      !stored.openIn(from, storedName, Links::Refuse, InputFile::Access::Move, &why)) {
    return fail(error, "restore failed, code " + std::to_string(lastSystemError()));
  }
  // The way back is opened one folder at a time and a link anywhere on it refuses the restore:
  // a folder swapped for a link would otherwise carry the file into a system folder.
  Folder to;
  OpenFailure failure = OpenFailure::None;
  if (!to.open(originFolder, Links::Refuse, Folder::Purpose::Modify, &why, &failure, true)) {
    if (failure == OpenFailure::Link) return fail(error, kRestoreThroughLink);
    return fail(error, "restore failed: " + why);
  }
  FileInfo existing;
  bool isLink = false;
  // A link in the file's own place is replaced by the rename, not followed; a folder there would
  // make the rename fail anyway.
  if (to.entryInfo(originName, existing, &isLink) && existing.directory && !isLink) {
    return fail(error, "restore failed: a folder is in the file's place");
  }
  // Names the restore: a copy across volumes cut off midway leaves a temporary in the origin
  // folder, which recover() then removes.
  if (!writeFileAtomically(intentPath(), "OP=restore\n" + serializeQuarantineIndex({*r}), &why,
                           Privacy::OwnerOnly)) {
    return fail(error, "cannot write quarantine intent: " + why);
  }
  unsigned long systemError = 0;
  if (!moveOpenedFile(stored, from, storedName, to, originName, &why, &systemError)) {
    removeFile(intentPath());
    return fail(error, "restore failed, code " + std::to_string(systemError));
  }
  records.erase(records.begin() + (r - records.data()));
  const bool saved = save(records, error);
  removeFile(intentPath());
  return saved;
}

bool QuarantineStore::remove(uint64_t id, std::string* error) {
  std::vector<QuarantineRecord> records;
  if (!read(records, error)) return false;
  const QuarantineRecord* r = findRecord(records, id);
  if (!r) return fail(error, "record not found");
  std::wstring storedFolder, storedName;
  if (!splitParent(r->storedPath, storedFolder, storedName)) {
    return fail(error, "delete failed: the record's paths are damaged");
  }
  Folder folder;
  InputFile stored;
  OpenFailure why = OpenFailure::None;
  std::string text;
  const bool opened =
      folder.open(storedFolder, Links::Follow, Folder::Purpose::Modify, &text, &why) &&
      stored.openIn(folder, storedName, Links::Refuse, InputFile::Access::Move, &text, &why);
  // A stored file that has disappeared lets its record go; one that cannot be deleted keeps it:
  // forgetting it would leave the file in the folder with nothing pointing at it.
  if (!opened && why != OpenFailure::NotFound) {
    return fail(error, "delete failed, code " + std::to_string(lastSystemError()));
  }
  unsigned long systemError = 0;
  if (opened && !removeOpenedFile(stored, folder, storedName, &text, &systemError)) {
    return fail(error, "delete failed, code " + std::to_string(systemError) + ": " + text);
  }
  records.erase(records.begin() + (r - records.data()));
  return save(records, error);
}

bool QuarantineStore::recover(std::vector<std::string>* changes, std::string* error) {
  const auto note = [&](std::string line) {
    if (changes) changes->push_back(std::move(line));
  };
  std::vector<QuarantineRecord> records;
  // Without the index nothing can be told apart: leave everything as it is.
  if (!read(records, error)) return false;
  Folder folder;
  std::string why;
  if (!folder.open(folder_, Links::Follow, Folder::Purpose::Modify, &why)) {
    return fail(error, "cannot open quarantine dir: " + why);
  }
  std::vector<DirEntry> entries;
  if (!folder.list(entries, &why)) return fail(error, "cannot list quarantine dir: " + why);

  std::string intentText;
  std::vector<QuarantineRecord> intended;
  bool intentAdd = false;
  if (readWholeFile(intentPath(), intentText)) {
    intended = parseQuarantineIndex(intentText);
    intentAdd = intentText.rfind("OP=add\n", 0) == 0;
  }

  bool changed = false;
  // Records whose stored file is gone: a restore or a delete that was cut off after its move.
  for (auto it = records.begin(); it != records.end();) {
    std::wstring parent, name;
    Folder holder;
    FileInfo info;
    OpenFailure missing = OpenFailure::None;
    const bool located = splitParent(it->storedPath, parent, name) &&
                         holder.open(parent, Links::Follow, Folder::Purpose::List, nullptr, &missing);
    if (located) holder.entryInfo(name, info, nullptr, nullptr, &missing);
    if (missing == OpenFailure::NotFound) {
      note("quarantine: dropped record " + describe(*it) + ": its stored file is gone");
      it = records.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }

  for (const DirEntry& entry : entries) {
    if (entry.kind != DirEntry::Kind::File) continue;
    const std::wstring full = folder_ + pathSeparator() + entry.name;
    if (isTemporary(entry.name)) {
      removeFile(full);
      note("quarantine: removed leftover " + toUtf8(entry.name));
      continue;
    }
    if (!looksStored(entry.name)) continue;
    const std::wstring lower = asciiLower(entry.name);
    const bool recorded = std::any_of(records.begin(), records.end(), [&](const QuarantineRecord& r) {
      return asciiLower(lastComponent(r.storedPath)) == lower;
    });
    if (recorded) continue;
    // A stored file without a record: the add that moved it was cut off before its index write.
    QuarantineRecord r;
    const auto fromIntent = std::find_if(intended.begin(), intended.end(), [&](const QuarantineRecord& i) {
      return intentAdd && asciiLower(lastComponent(i.storedPath)) == lower;
    });
    if (fromIntent != intended.end()) {
      r = *fromIntent;
      r.storedPath = full;
      if (findRecord(records, r.id)) r.id = freshId(records);
    } else {
      // Its origin is unknown: it can still be listed and deleted for good.
      r.id = freshId(records);
      r.storedPath = full;
      const size_t first = entry.name.find(L'_');
      const size_t second = entry.name.find(L'_', first + 1);
      r.name = second == std::wstring::npos ? entry.name : entry.name.substr(second + 1);
      r.time = parseLooseDecimal(toUtf8(entry.name.substr(0, first)));
      r.threat = "unknown";
      r.code = kRecoveredCode;
      r.sha256 = hash::sha256File(full, hash::kDefaultChunkSize);
      const long long size = fileSize(full);
      r.size = size < 0 ? 0 : static_cast<uint64_t>(size);
    }
    note("quarantine: listed " + toUtf8(entry.name) + " that had no record" +
         (r.originPath.empty() ? std::string(", origin unknown") : ", from " + toUtf8(r.originPath)));
    records.push_back(std::move(r));
    changed = true;
  }

  // A restore across volumes cut off midway: its temporary copy is in the origin folder.
  if (intentText.rfind("OP=restore\n", 0) == 0 && intended.size() == 1) {
    std::wstring parent, name;
    Folder origin;
    std::vector<DirEntry> left;
    if (splitParent(intended[0].originPath, parent, name) &&
        origin.open(parent, Links::Refuse, Folder::Purpose::Modify) && origin.list(left)) {
      for (const DirEntry& entry : left) {
        InputFile copy;
        if (entry.kind != DirEntry::Kind::File || entry.name.rfind(L"~zorvek-tmp-", 0) != 0 ||
            !copy.openIn(origin, entry.name, Links::Refuse, InputFile::Access::Move) ||
            !removeOpenedFile(copy, origin, entry.name)) {
          continue;
        }
        note("quarantine: removed the copy of an interrupted restore, " + toUtf8(entry.name));
      }
    }
  }

  if (changed && !save(records, error)) return false;
  if (pathExists(intentPath())) removeFile(intentPath());
  return true;
}

}  // namespace zorvek
