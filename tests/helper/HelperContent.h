#pragma once
// What the helper process writes, shared with the tests that check it.

#include <cstdio>
#include <string>
#include <vector>

#include "common/platform/File.h"
#include "service/QuarantineStore.h"
#include "common/ServiceConfig.h"

namespace zorvek::test {

inline std::string helperLogMessage(const std::string& tag, unsigned long i) {
  // Long enough that a torn write would show.
  return tag + " " + std::to_string(i) + " " + std::string(200, tag.empty() ? '-' : tag[0]);
}

// Two configurations whose files differ in every part, large enough that a save takes a while.
inline ServiceConfig helperConfig(unsigned long which) {
  ServiceConfig c;
  c.protectionEnabled = which == 0;
  c.scheduledHour = which == 0 ? 3 : 17;
  c.lastScanUtc = which == 0 ? 1700000000 : 1800000000;
  c.updateServer = std::string(which == 0 ? 300000 : 200000, which == 0 ? 'a' : 'b');
  c.signatureDb = which == 0 ? L"/базы/main.db" : L"C:\\Базы\\other.db";
  c.quarantineDir = L"Q" + std::to_wstring(which);
  return c;
}

inline std::vector<QuarantineRecord> helperRecords(unsigned long which) {
  std::vector<QuarantineRecord> records;
  for (unsigned long i = 0; i < (which == 0 ? 2000u : 1500u); ++i) {
    QuarantineRecord r;
    r.id = 1000 + i;
    r.originPath = L"C:\\Пользователи\\файл" + std::to_wstring(i) + L".exe";
    r.storedPath = L"Q\\" + std::to_wstring(i);
    r.name = L"файл" + std::to_wstring(i) + L".exe";
    r.sha256 = std::string(64, which == 0 ? 'a' : 'b');
    r.threat = "Win.Test." + std::to_string(which);
    r.code = "SIG.MATCH";
    r.severity = ThreatLevel::High;
    r.size = i;
    r.time = 1700000000 + i;
    records.push_back(r);
  }
  return records;
}

// A digest-like text that differs per round, for stored names.
inline std::string helperDigest(unsigned long i) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (int k = 0; k < 16; ++k) out += kHex[(i >> (k % 8)) & 15];
  return out + std::string(48, '0');
}

// Writes a whole file in the helper, which has no GoogleTest to report with.
inline void writeFileOrFail(const std::wstring& path, const std::string& bytes) {
  writeFileAtomically(path, bytes);
}

// Two hash feeds of different sizes with no digest in common, each taking a while to write.
inline std::string helperLiveFeed(unsigned long which) {
  std::string body;
  char line[80];
  for (unsigned long i = 0; i < (which == 0 ? 60000u : 45000u); ++i) {
    std::snprintf(line, sizeof line, "%056lx%08lx\n", which, i * 2654435761ul % 4294967291ul);
    body += line;
  }
  return body;
}

}  // namespace zorvek::test
