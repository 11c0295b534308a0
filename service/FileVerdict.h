#pragma once
// The verdict on one file: digests looked up in the signature database, the PE facts and findings,
// the name and location rules, combined into one threat level with short reasons for the user.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/SignatureDatabase.h"
#include "common/ThreatLevel.h"
#include "common/platform/Folder.h"
#include "service/Finding.h"
#include "service/PeAnalysis.h"

namespace zorvek {

struct FileVerdict {
  std::wstring path;
  std::wstring fileName;
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  std::string md5, sha1, sha256;  // empty when not computed
  bool isPe = false;
  bool packed = false;
  bool trustedSigner = false;  // reserved: the rules never set it
  double entropy = 0.0;
  double maxSectionEntropy = 0.0;
  uint32_t sectionCount = 0;
  uint32_t importCount = 0;
  bool hasDebugDirectory = false;
  bool hasResources = false;
  bool inDatabase = false;
  std::string signatureName, signatureFamily;
  ThreatLevel signatureLevel = ThreatLevel::High;
  std::string signatureReference;
  std::string matchedHash;
  std::vector<Finding> findings;
  ThreatLevel level = ThreatLevel::Clean;
  std::vector<std::string> reasons;  // UTF-8
  // Why the file could not be read and so was not judged (it stays clean, with the reason
  // "Файл не проверен: " and this text); empty when it was read, or needed no reading.
  std::string readError;
};

// What the evaluation needs besides the file.
struct EvaluationOptions {
  uint64_t maxFileSize = 536870912;
  uint64_t hashChunkSize = 1048576;
  // Checked while the file is read: a cancel or a stop need not wait for the end of a large file.
  const std::atomic<bool>* cancel = nullptr;
  // Called once the file is open, before its first byte is read (tests change the file there).
  std::function<void()> opened;
};

// The reason a verdict gives for a file that could not be read, before the error text.
inline constexpr char kNotScannedReason[] = "Файл не проверен: ";
// The reason added when the file changed while it was read (only what it held at the start was
// judged).
inline constexpr char kChangedReason[] = "Файл изменился во время проверки";
// readError of a file whose reading a cancel cut short.
inline constexpr char kCancelledRead[] = "cancelled";

// The text after the last '\' or '/' (the whole path when it has neither).
std::wstring verdictFileName(std::wstring_view path);

// The rule engine alone: combines what the evaluation gathered into a verdict. The PE findings
// come ready in `pe`; the match fields are used only when `inDatabase` is set.
FileVerdict buildVerdict(const std::wstring& path, uint64_t size, uint64_t modified,
                         const std::string& md5, const std::string& sha1,
                         const std::string& sha256, const PeAnalysis& pe, bool inDatabase,
                         const SignatureMatch& match);

// Evaluates one file; never fails (problems show in the verdict). `database` may be null: then
// nothing is looked up. The file's bytes are read once for the digests and the PE analysis, and
// no further than the size it had when it was opened. Only a regular file is read: anything
// else (a FIFO, socket or device) is opened without blocking and left unread.
FileVerdict evaluateFile(const std::wstring& path, const SignatureDatabase* database,
                         const EvaluationOptions& options);
// The same for the entry `name` of an open folder (`path` is what the verdict shows). A link
// there is followed only with Links::Follow.
FileVerdict evaluateFileIn(const Folder& folder, const std::wstring& name, const std::wstring& path,
                           const SignatureDatabase* database, const EvaluationOptions& options,
                           Links links = Links::Refuse);

// How a scan summary counts a verdict.
bool countsAsThreat(const FileVerdict& verdict);      // inDatabase, or high/critical
bool countsAsSuspicious(const FileVerdict& verdict);  // not a threat, level medium
bool countsAsUnreadable(const FileVerdict& verdict);  // not read, so not judged

}  // namespace zorvek
