#pragma once
// The digest → detection table, read from ZORVEKDB/1 text files. Internally locked; the service
// shares one instance through a shared pointer and swaps the whole instance on reload.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/ThreatLevel.h"

namespace zorvek {

inline constexpr char kGenericSignatureName[] = "Win.Trojan.Generic";

struct SignatureEntry {
  std::string hash;  // lower-case hex, 32/40/64 characters
  std::string extra;
  std::string name;
  std::string family;
  std::string reference;
  ThreatLevel level = ThreatLevel::High;
};

struct SignatureMatch {
  std::string name;
  std::string family;
  ThreatLevel level = ThreatLevel::High;
  std::string reference;
  std::string hash;

  // Keeps the strings' buffers: a scan clears and refills one match per file.
  void clear() {
    name.clear();
    family.clear();
    level = ThreatLevel::High;
    reference.clear();
    hash.clear();
  }
};

struct SignatureDbInfo {
  uint64_t count = 0;
  std::string version;
  uint64_t generated = 0;
  std::string source;
};

class SignatureDatabase {
 public:
  SignatureDatabase();

  // Reads the file and merges it in; false (with "cannot open: <path>") only when it cannot be
  // opened. Malformed lines are skipped.
  bool load(const std::wstring& path, std::string* error = nullptr);
  // Merges the text in; always true.
  bool parse(std::string_view text, const std::string& source);
  // Tries sha256, sha1, md5 in that order (empty ones skipped, case-insensitive).
  bool lookup(const std::string& md5, const std::string& sha1, const std::string& sha256,
              SignatureMatch* match = nullptr) const;
  SignatureDbInfo info() const;
  // The database as a written ZORVEKDB/1 file (short form, sorted by digest).
  std::string serialize() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// The service's database: the main file plus, when it exists, the live file. Returns null with
// `error` set when the result holds no entry.
std::shared_ptr<SignatureDatabase> assembleServiceDatabase(const std::wstring& mainPath,
                                                           const std::wstring& livePath,
                                                           std::wstring* error);

}  // namespace zorvek
