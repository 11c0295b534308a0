#include "common/SignatureDatabase.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "common/DigestTable.h"
#include "common/HexDigest.h"
#include "common/RecordPool.h"
#include "common/Text.h"
#include "common/Threads.h"
#include "common/platform/File.h"

namespace zorvek {

using sigdb::decodeDigest;
using sigdb::DigestRow;
using sigdb::DigestTable;
using sigdb::Record;
using sigdb::RecordPool;

namespace {

// Unsigned decimal after optional white space; stops at the first non-digit; saturates.
uint64_t parseDecimal(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  uint64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    const auto d = static_cast<uint64_t>(s[i] - '0');
    if (v > (UINT64_MAX - d) / 10) return UINT64_MAX;
    v = v * 10 + d;
  }
  return v;
}

bool shouldReplace(const Record& old, const Record& fresh) {
  return (!fresh.reference.empty() && old.reference.empty()) ||
         (!fresh.family.empty() && old.family.empty()) ||
         (old.name == kGenericSignatureName && fresh.name != kGenericSignatureName);
}

}  // namespace

struct Tables {
  DigestTable<16> md5;
  DigestTable<20> sha1;
  DigestTable<32> sha256;
  RecordPool records;

  size_t size() const { return md5.size() + sha1.size() + sha256.size(); }
};

struct SignatureDatabase::State {
  mutable std::mutex mutex;
  Tables tables;
  uint64_t count = 0;
  std::string version;
  uint64_t generated = 0;
  std::string source;
};

namespace {

// Turns lines into unindexed rows; finish() indexes them, keeping each digest's first line.
class Parser {
 public:
  Parser() : generic_(tables_.records.intern({"", kGenericSignatureName, kGenericSignatureName, "", ThreatLevel::High})) {}

  void line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') return;
    if (line.starts_with("ZORVEKDB/") || line.starts_with("SIZE ")) return;
    if (line.starts_with("VERSION ")) {
      version_ = std::string(line.substr(8));
      sawVersion_ = true;
      return;
    }
    if (line.starts_with("GENERATED ")) {
      generated_ = parseDecimal(line.substr(10));
      sawGenerated_ = true;
      return;
    }
    entry(line);
  }

  // Takes over the lines `later` has read, which come after this parser's lines in the text.
  void append(Parser&& later) {
    std::vector<uint32_t> recMap(later.tables_.records.size());
    bool same = true;
    for (uint32_t id = 0; id < recMap.size(); ++id) {
      recMap[id] = tables_.records.intern(later.tables_.records[id]);
      same = same && recMap[id] == id;
    }
    const std::vector<uint32_t>* map = same ? nullptr : &recMap;
    tables_.md5.appendPending(later.tables_.md5, map);
    tables_.sha1.appendPending(later.tables_.sha1, map);
    tables_.sha256.appendPending(later.tables_.sha256, map);
    if (later.sawVersion_) version_ = std::move(later.version_), sawVersion_ = true;
    if (later.sawGenerated_) generated_ = later.generated_, sawGenerated_ = true;
  }

  Tables finish() {
    tables_.md5.build();
    tables_.sha1.build();
    tables_.sha256.build();
    return std::move(tables_);
  }
  const std::string& version() const { return version_; }
  uint64_t generated() const { return generated_; }

 private:
  void entry(std::string_view line) {
    const size_t colon = line.find(':');
    const std::string_view digest = line.substr(0, colon);
    uint8_t key[32];
    if (!decodeDigest(digest, key)) return;
    const std::string_view rest = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);

    // Fields after the digest; a separator at the very end adds no field. Field 6 onward is kept
    // whole as `tail`: the reference is free text and may itself hold ":" (links do).
    std::string_view f[4];
    size_t pieces = 0;
    std::string_view tail;
    size_t pos = 0;
    bool more = !rest.empty();
    while (more && pieces < 4) {
      const size_t c = rest.find(':', pos);
      if (c == std::string_view::npos) {
        f[pieces++] = rest.substr(pos);
        more = false;
      } else {
        f[pieces++] = rest.substr(pos, c - pos);
        pos = c + 1;
        more = pos < rest.size();
      }
    }
    if (more) {
      tail = rest.substr(pos);
      if (tail.back() == ':') tail.remove_suffix(1);
    }

    uint32_t rec;
    if (pieces == 0) {
      rec = generic_;
    } else if (!more || digest.size() == 32) {
      Record r;
      r.name = f[0];
      r.family = pieces >= 2 && f[1] != "SIGNATURE" ? f[1] : f[0];
      rec = intern(r);
    } else {
      Record r;
      r.extra = f[0];
      r.family = f[1];
      r.level = parseThreatLevel(f[2]);
      r.name = f[3];
      r.reference = tail;
      rec = intern(r);
    }
    switch (digest.size()) {
      case 32: tables_.md5.append(key, rec); break;
      case 40: tables_.sha1.append(key, rec); break;
      default: tables_.sha256.append(key, rec); break;
    }
  }

  // Consecutive lines usually carry the same texts: skip the pool's index for them.
  uint32_t intern(const Record& r) {
    if (haveLast_ && tables_.records[lastId_] == r) return lastId_;
    lastId_ = tables_.records.intern(r);
    haveLast_ = true;
    return lastId_;
  }

  Tables tables_;
  uint32_t generic_;
  uint32_t lastId_ = 0;
  bool haveLast_ = false;
  std::string version_;
  uint64_t generated_ = 0;
  bool sawVersion_ = false;
  bool sawGenerated_ = false;
};

// Fewer new digests than this share of the table's are put in place rather than rebuilt for.
constexpr size_t kInsertInPlaceShare = 16;

// Adds the digests of `from` to `into`; where both hold a digest, `fromIsLater` says which one's
// record the merge rules weigh as the newcomer. Either way the result is the same as merging the
// later file into the earlier, so the larger table can always be the one that is kept.
template <size_t N>
void mergeTable(DigestTable<N>& into, RecordPool& intoRecords, const DigestTable<N>& from,
                const RecordPool& fromRecords, std::vector<uint32_t>& recMap, bool fromIsLater) {
  auto translate = [&](uint32_t id) {
    if (recMap[id] == UINT32_MAX) recMap[id] = intoRecords.intern(fromRecords[id]);
    return recMap[id];
  };
  const bool inPlace = from.size() * kInsertInPlaceShare <= into.size();
  from.forEach([&](const DigestRow<N>& row) {
    const uint32_t rec = row.tag - 1;
    if (DigestRow<N>* old = into.find(row.key)) {
      const bool replace = fromIsLater ? shouldReplace(intoRecords[old->tag - 1], fromRecords[rec])
                                       : !shouldReplace(fromRecords[rec], intoRecords[old->tag - 1]);
      if (replace) old->tag = translate(rec) + 1;
    } else if (!inPlace || !into.insertBuilt(row.key, translate(rec))) {
      into.append(row.key, translate(rec));
    }
  });
  into.build();
}

void mergeInto(SignatureDatabase::State& st, Parser& parser, const std::string& source) {
  Tables parsed = parser.finish();
  std::lock_guard<std::mutex> lock(st.mutex);
  if (st.tables.size() == 0) {
    st.tables = std::move(parsed);
  } else if (parsed.size() > st.tables.size()) {
    // A large file merged after a small one (the live database after the main one): the small
    // one goes into the large one's tables, which are then kept.
    std::vector<uint32_t> recMap(st.tables.records.size(), UINT32_MAX);
    mergeTable(parsed.md5, parsed.records, st.tables.md5, st.tables.records, recMap, false);
    mergeTable(parsed.sha1, parsed.records, st.tables.sha1, st.tables.records, recMap, false);
    mergeTable(parsed.sha256, parsed.records, st.tables.sha256, st.tables.records, recMap, false);
    st.tables = std::move(parsed);
  } else {
    std::vector<uint32_t> recMap(parsed.records.size(), UINT32_MAX);
    mergeTable(st.tables.md5, st.tables.records, parsed.md5, parsed.records, recMap, true);
    mergeTable(st.tables.sha1, st.tables.records, parsed.sha1, parsed.records, recMap, true);
    mergeTable(st.tables.sha256, st.tables.records, parsed.sha256, parsed.records, recMap, true);
  }
  st.count = st.tables.size();
  if (!parser.version().empty()) st.version = parser.version();
  if (parser.generated() != 0) st.generated = parser.generated();
  if (!source.empty()) st.source = source;
}

void fillMatch(SignatureMatch* match, const Record r, const uint8_t* key, size_t n) {
  if (!match) return;
  match->name = r.name;
  match->family = r.family;
  match->level = r.level;
  match->reference = r.reference;
  match->hash.clear();
  appendHex(match->hash, key, n);
}

template <size_t N>
bool findIn(const DigestTable<N>& table, const RecordPool& records, const uint8_t* key,
            SignatureMatch* match) {
  const DigestRow<N>* row = table.find(key);
  if (!row) return false;
  fillMatch(match, records[row->tag - 1], key, N);
  return true;
}

}  // namespace

SignatureDatabase::SignatureDatabase() : state_(std::make_shared<State>()) {}

namespace {

constexpr size_t kChunk = 1 << 20;

// Feeds the lines of bytes [from, to) of the file to the parser, `to` < 0 meaning the end of the
// file; `from` starts a line. Streamed in chunks: the lines are the same as in the whole text
// without holding it all. The buffer grows only for a line longer than a chunk. A read error fails
// the range: taken for the end of the file, it would load a part of the database as the whole.
bool parseRange(InputFile& file, long long from, long long to, Parser& parser, std::string& error) {
  size_t capacity = 2 * kChunk;
  std::unique_ptr<char[]> buf(new char[capacity]);
  size_t filled = 0;  // bytes in buf, the first of them the start of a line
  long long pos = from;
  for (;;) {
    if (capacity - filled < kChunk) {
      capacity *= 2;
      std::unique_ptr<char[]> bigger(new char[capacity]);
      std::memcpy(bigger.get(), buf.get(), filled);
      buf = std::move(bigger);
    }
    size_t want = kChunk;
    if (to >= 0) want = static_cast<size_t>(std::min<long long>(static_cast<long long>(want), to - pos));
    const long long got = want == 0 ? 0 : file.readAt(buf.get() + filled, want, pos, &error);
    if (got < 0) {
      if (error.empty()) error = "read failed";
      return false;
    }
    if (got == 0) break;
    pos += got;
    filled += static_cast<size_t>(got);
    const char* base = buf.get();
    size_t start = 0;
    for (;;) {
      const void* nl = std::memchr(base + start, '\n', filled - start);
      if (!nl) break;
      const size_t end = static_cast<size_t>(static_cast<const char*>(nl) - base);
      parser.line(std::string_view(base + start, end - start));
      start = end + 1;
    }
    filled -= start;
    std::memmove(buf.get(), base + start, filled);
  }
  if (filled > 0) parser.line(std::string_view(buf.get(), filled));
  return true;
}

// Where the first line that starts after `offset` begins, or -1 when none does.
long long nextLineStart(InputFile& file, long long offset) {
  char buf[4096];
  for (long long pos = offset;;) {
    const long long got = file.readAt(buf, sizeof buf, pos);
    if (got <= 0) return -1;
    if (const void* nl = std::memchr(buf, '\n', static_cast<size_t>(got)))
      return pos + (static_cast<const char*>(nl) - buf) + 1;
    pos += got;
  }
}

}  // namespace

bool SignatureDatabase::load(const std::wstring& path, std::string* error) {
  InputFile file;
  if (!file.open(path, InputFile::Share::ReadWrite)) {
    if (error) *error = "cannot open: " + toUtf8(path);
    return false;
  }
  // A large file is read by two threads, each parsing its own half of the lines; the second
  // half's rows then follow the first's, so the result is the same as reading it in one go.
  constexpr long long kTwoThreadsFrom = 4 << 20;
  const long long size = file.size();
  const long long split = size >= kTwoThreadsFrom ? nextLineStart(file, size / 2) : -1;
  Parser parser;
  Parser later;
  std::exception_ptr failure;
  std::string readError, laterError;
  bool laterOk = true;
  std::thread worker;
  if (split > 0) {
    worker = tryStartThread([&] {
      try {
        laterOk = parseRange(file, split, -1, later, laterError);
      } catch (...) {
        failure = std::current_exception();
      }
    });
  }
  bool ok = true;
  if (worker.joinable()) {
    {
      const JoinOnExit join(worker);
      ok = parseRange(file, 0, split, parser, readError);
    }
    if (failure) std::rethrow_exception(failure);
    if (ok && !laterOk) ok = false, readError = laterError;
    parser.append(std::move(later));
  } else {
    ok = parseRange(file, 0, -1, parser, readError);
  }
  if (!ok) {
    if (error) *error = "read error: " + readError;
    return false;
  }
  mergeInto(*state_, parser, toUtf8(path));
  return true;
}

bool SignatureDatabase::parse(std::string_view text, const std::string& source) {
  Parser parser;
  forEachLine(text, [&](std::string_view line) { parser.line(line); });
  mergeInto(*state_, parser, source);
  return true;
}

bool SignatureDatabase::lookup(const std::string& md5, const std::string& sha1,
                               const std::string& sha256, SignatureMatch* match) const {
  if (match) match->clear();
  // Decoded before taking the lock: that work then overlaps whatever came before.
  struct Key {
    uint8_t bytes[32];
    size_t size = 0;
  } keys[3];
  size_t count = 0;
  for (const std::string* digest : {&sha256, &sha1, &md5})
    if (!digest->empty() && decodeDigest(*digest, keys[count].bytes)) keys[count++].size = digest->size();
  if (count == 0) return false;

  std::lock_guard<std::mutex> lock(state_->mutex);
  const Tables& t = state_->tables;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* key = keys[i].bytes;
    const bool found = keys[i].size == 32   ? findIn(t.md5, t.records, key, match)
                       : keys[i].size == 40 ? findIn(t.sha1, t.records, key, match)
                                            : findIn(t.sha256, t.records, key, match);
    if (found) return true;
  }
  return false;
}

SignatureDbInfo SignatureDatabase::info() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return {state_->count, state_->version, state_->generated, state_->source};
}

std::string SignatureDatabase::serialize() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const State& st = *state_;
  std::string out = "# Zorvek Antivirus signature database\nZORVEKDB/1\n";
  out += "VERSION " + (st.version.empty() ? std::string("0") : st.version) + "\n";
  out += "GENERATED " + std::to_string(st.generated) + "\n";
  out += "SIZE " + std::to_string(st.count) + "\n";

  struct Item {
    const uint8_t* key;
    uint32_t len;
    uint32_t rec;
  };
  std::vector<Item> items;
  items.reserve(st.tables.size());
  st.tables.md5.forEach([&](const auto& r) { items.push_back({r.key, 16, r.tag - 1}); });
  st.tables.sha1.forEach([&](const auto& r) { items.push_back({r.key, 20, r.tag - 1}); });
  st.tables.sha256.forEach([&](const auto& r) { items.push_back({r.key, 32, r.tag - 1}); });
  // Byte order of the binary digests is the order of their hex text, a shorter prefix first.
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    const int c = std::memcmp(a.key, b.key, std::min(a.len, b.len));
    return c != 0 ? c < 0 : a.len < b.len;
  });
  for (const Item& it : items) {
    const Record r = st.tables.records[it.rec];
    appendHex(out, it.key, it.len);
    out += ':';
    out += r.name;
    out += ':';
    out += r.family.empty() ? r.name : r.family;
    out += '\n';
  }
  return out;
}

std::shared_ptr<SignatureDatabase> assembleServiceDatabase(const std::wstring& mainPath,
                                                           const std::wstring& livePath,
                                                           std::wstring* error) {
  auto db = std::make_shared<SignatureDatabase>();
  std::string mainError, liveError;
  const bool mainLoaded = db->load(mainPath, &mainError);
  if (!livePath.empty() && pathExists(livePath)) db->load(livePath, &liveError);
  if (db->info().count > 0) {
    if (error) error->clear();
    return db;
  }
  if (error) {
    std::string text = mainLoaded ? liveError : mainError;
    if (text.empty()) text = "database is empty";
    *error = toWide(text);
  }
  return nullptr;
}

}  // namespace zorvek
