#include "service/FileVerdict.h"

#include <array>
#include <span>

#include "common/Hash.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

constexpr std::array<std::wstring_view, 16> kSystemProcessNames = {
    L"svchost.exe",  L"lsass.exe",    L"csrss.exe",     L"smss.exe",
    L"winlogon.exe", L"services.exe", L"explorer.exe",  L"taskhostw.exe",
    L"dwm.exe",      L"conhost.exe",  L"spoolsv.exe",   L"wininit.exe",
    L"rundll32.exe", L"regedit.exe",  L"notepad.exe",   L"calc.exe"};

constexpr std::array<std::wstring_view, 19> kDoubleExtensions = {
    L".pdf.exe", L".doc.exe",  L".jpg.exe",  L".png.exe",  L".txt.exe", L".xls.exe", L".zip.exe",
    L".mp4.exe", L".docx.exe", L".xlsx.exe", L".pptx.exe", L".rar.exe", L".mp3.exe", L".avi.exe",
    L".rtf.exe", L".js.exe",   L".vbs.exe",  L".jpg.scr",  L".pdf.scr"};

// WinSxS holds copies of system programs; the Windows folder itself (see inSystemFolder) holds
// explorer.exe, regedit.exe and notepad.exe.
constexpr std::array<std::wstring_view, 3> kSystemFolders = {
    L"\\windows\\system32\\", L"\\windows\\syswow64\\", L"\\windows\\winsxs\\"};

constexpr std::array<std::wstring_view, 2> kDownloadFolders = {L"\\downloads\\",
                                                               L"\\\u0437\u0430\u0433\u0440\u0443\u0437\u043a\u0438\\"};

template <size_t N>
bool isOneOf(std::wstring_view text, const std::array<std::wstring_view, N>& table) {
  for (const auto& t : table)
    if (text == t) return true;
  return false;
}
template <size_t N>
bool containsOneOf(std::wstring_view text, const std::array<std::wstring_view, N>& table) {
  for (const auto& t : table)
    if (text.find(t) != std::wstring_view::npos) return true;
  return false;
}

// Where a system process name belongs: one of the system folders, or directly in the Windows
// folder.
bool inSystemFolder(std::wstring_view lowerPath, std::wstring_view lowerName) {
  if (containsOneOf(lowerPath, kSystemFolders)) return true;
  const std::wstring direct = L"\\windows\\" + std::wstring(lowerName);
  return lowerPath.ends_with(direct);
}

// Lower case for the rule tables: ASCII and the Russian alphabet (the download folder is also
// spelled "Загрузки").
std::wstring ruleLower(std::wstring_view text) {
  std::wstring lower(text);
  for (auto& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    else if (c >= 0x0410 && c <= 0x042F) c = static_cast<wchar_t>(c + 0x20);
    else if (c == 0x0401) c = 0x0451;
  }
  return lower;
}

// Both separators name the same folders on Windows, and POSIX paths only have '/': the location
// rules must not depend on how the caller spelled the path.
std::wstring rulePath(std::wstring_view path) {
  std::wstring lower = ruleLower(path);
  for (auto& c : lower)
    if (c == L'/') c = L'\\';
  return lower;
}

}  // namespace

std::wstring verdictFileName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

FileVerdict buildVerdict(const std::wstring& path, uint64_t size, uint64_t modified,
                         const std::string& md5, const std::string& sha1,
                         const std::string& sha256, const PeAnalysis& pe, bool inDatabase,
                         const SignatureMatch& match) {
  FileVerdict v;
  v.path = path;
  v.fileName = verdictFileName(path);
  v.size = size;
  v.modified = modified;
  v.md5 = md5;
  v.sha1 = sha1;
  v.sha256 = sha256;
  v.isPe = pe.isPe;
  v.packed = pe.rwxLowEntropy || !packerOf(pe.sections).empty();
  v.entropy = pe.entropy;
  v.maxSectionEntropy = pe.maxSectionEntropy;
  v.sectionCount = pe.sectionCount;
  v.importCount = pe.importCount;
  v.hasDebugDirectory = pe.hasDebugDirectory;
  v.hasResources = pe.hasResourceDirectory;
  v.inDatabase = inDatabase;
  if (inDatabase) {
    v.signatureName = match.name;
    v.signatureFamily = match.family;
    v.signatureLevel = match.level;
    v.signatureReference = match.reference;
    v.matchedHash = match.hash;
  }

  auto level = static_cast<uint32_t>(ThreatLevel::Clean);
  auto raise = [&level](ThreatLevel to) {
    if (static_cast<uint32_t>(to) > level) level = static_cast<uint32_t>(to);
  };

  if (inDatabase) {
    level = static_cast<uint32_t>(match.level);
    std::string detail = std::string("Уровень: ") + threatLevelName(match.level);
    if (!match.reference.empty()) detail += ", ссылка: " + match.reference;
    v.findings.push_back(
        {match.level, "SIG.MATCH", "Обнаружено в базе: " + match.name, std::move(detail)});
    v.reasons.emplace_back("Точное совпадение в базе угроз");
  }

  for (const Finding& f : pe.findings) {
    v.findings.push_back(f);
    raise(f.level);
  }

  const std::wstring lowerName = ruleLower(v.fileName);
  const std::wstring lowerPath = rulePath(path);
  const std::string nameUtf8 = toUtf8(v.fileName);

  if (isOneOf(lowerName, kSystemProcessNames) && !inSystemFolder(lowerPath, lowerName)) {
    raise(ThreatLevel::High);
    v.findings.push_back({ThreatLevel::High, "FS.IMPERSONATE", "Маскируется под системный процесс",
                          "Файл " + nameUtf8 +
                              " лежит вне системного каталога, хотя так называются только "
                              "штатные компоненты Windows"});
    v.reasons.emplace_back("Маскируется под системный процесс");
  }

  const size_t firstDot = v.fileName.find(L'.');
  const size_t lastDot = v.fileName.rfind(L'.');
  if (firstDot != std::wstring::npos && firstDot != lastDot && firstDot != 0 &&
      isOneOf(std::wstring_view(lowerName).substr(firstDot), kDoubleExtensions)) {
    raise(ThreatLevel::High);
    v.findings.push_back({ThreatLevel::High, "FS.DOUBLE_EXT", "Двойное расширение",
                          "Имя " + nameUtf8 +
                              " маскирует исполняемый файл под документ или картинку"});
    v.reasons.emplace_back("Двойное расширение");
  }

  if (containsOneOf(lowerPath, kDownloadFolders) &&
      (lowerPath.find(L".exe") != std::wstring::npos ||
       lowerPath.find(L".scr") != std::wstring::npos ||
       lowerPath.find(L".bat") != std::wstring::npos)) {
    raise(ThreatLevel::Medium);
    v.findings.push_back({ThreatLevel::Medium, "FS.DOWNLOADED_EXE",
                          "Исполняемый файл из папки загрузок",
                          "Программы, скачанные из интернета, стоит проверять до запуска"});
    v.reasons.emplace_back("Исполняемый файл из папки загрузок");
  }

  v.level = v.findings.empty() ? ThreatLevel::Clean : static_cast<ThreatLevel>(level);
  if (v.reasons.empty() && level >= static_cast<uint32_t>(ThreatLevel::Medium) &&
      !v.findings.empty()) {
    for (const Finding& f : v.findings)
      if (f.level == v.level) v.reasons.push_back(f.title);
    if (v.reasons.empty()) v.reasons.emplace_back("Требуется проверка");
  }
  return v;
}

namespace {

FileVerdict freshVerdict(const std::wstring& path) {
  FileVerdict v;
  v.path = path;
  v.fileName = verdictFileName(path);
  return v;
}

FileVerdict notScanned(FileVerdict v, std::string error) {
  if (error.empty()) error = "unknown error";
  v.reasons.assign(1, kNotScannedReason + error);
  v.readError = std::move(error);
  return v;
}

// Size 0 and sizes above the limit need no reading; true when `v` is already the verdict.
bool decidedBySize(FileVerdict& v, const EvaluationOptions& options) {
  if (v.size == 0) return true;
  if (v.size > options.maxFileSize) {
    v.reasons.assign(1, "Файл пропущен: превышен лимит размера");
    return true;
  }
  return false;
}

FileVerdict evaluateOpened(InputFile& file, FileVerdict fresh, const SignatureDatabase* database,
                           const EvaluationOptions& options) {
  // What the file is now that it is open, not what its name said a moment earlier.
  FileInfo opened;
  if (!file.info(opened)) return notScanned(std::move(fresh), "cannot read the open file");
  fresh.size = opened.size;
  fresh.modified = opened.modified;
  if (decidedBySize(fresh, options)) return fresh;
  if (options.opened) options.opened();

  const auto now = static_cast<int64_t>(unixTimeMs() / 1000);
  // The PE analysis sees the same bytes the digests do: the first min(64 MiB, size) of this read.
  const uint64_t size = opened.size;
  const uint64_t peWant = size < kPeReadLimit ? size : kPeReadLimit;
  std::vector<uint8_t> head;
  PeAnalysis pe;
  bool peDone = false;
  uint64_t seen = 0;
  auto sink = [&](const uint8_t* data, size_t count) {
    if (peDone) return;
    if (seen == 0 && count >= 2 && (data[0] != 'M' || data[1] != 'Z')) {
      peDone = true;  // not an image: the analysis would give the empty result
      return;
    }
    if (seen == 0 && count >= peWant) {  // the common case: one chunk holds everything needed
      pe = analyzePe({data, static_cast<size_t>(peWant)}, size, now);
      peDone = true;
      return;
    }
    const uint64_t take = peWant - seen < count ? peWant - seen : count;
    if (head.empty()) head.reserve(static_cast<size_t>(peWant));
    head.insert(head.end(), data, data + take);
    seen += take;
    if (seen >= peWant) {
      pe = analyzePe({head.data(), head.size()}, size, now);
      peDone = true;
    }
  };
  // A small file needs no buffer of the full chunk size: the buffer is allocated and cleared for
  // every file, which costs more than hashing a few kilobytes.
  uint64_t chunk = options.hashChunkSize ? options.hashChunkSize : hash::kDefaultChunkSize;
  if (size < chunk) chunk = size;
  // No further than the size seen at the open: a file that keeps growing cannot hold the scan.
  const hash::FileDigests digests =
      hash::hashOpenFile(file, static_cast<size_t>(chunk), sink, size, options.cancel);
  if (digests.cancelled) return notScanned(std::move(fresh), kCancelledRead);
  if (!digests.error.empty()) return notScanned(std::move(fresh), digests.error);
  if (!peDone && !head.empty()) pe = analyzePe({head.data(), head.size()}, size, now);  // shrank

  FileInfo after;
  const bool changed = digests.bytesRead != size || !file.info(after) || after.size != size ||
                       after.modified != opened.modified;

  bool inDatabase = false;
  SignatureMatch match;
  if (database) inDatabase = database->lookup(digests.md5, digests.sha1, digests.sha256, &match);

  FileVerdict v = buildVerdict(fresh.path, size, opened.modified, digests.md5, digests.sha1,
                               digests.sha256, pe, inDatabase, match);
  if (changed) v.reasons.emplace_back(kChangedReason);
  return v;
}

}  // namespace

FileVerdict evaluateFile(const std::wstring& path, const SignatureDatabase* database,
                         const EvaluationOptions& options) {
  FileVerdict fresh = freshVerdict(path);
  FileAttributes attributes;
  std::string error;
  if (!readFileAttributes(path, attributes, &error)) return notScanned(std::move(fresh), error);
  if (!attributes.regular) return notScanned(std::move(fresh), "not a regular file");
  fresh.size = attributes.size;
  fresh.modified = attributes.modified;
  if (decidedBySize(fresh, options)) return fresh;
  InputFile file;
  if (!file.open(path, InputFile::Share::ReadOnly, &error))
    return notScanned(std::move(fresh), error);
  return evaluateOpened(file, std::move(fresh), database, options);
}

FileVerdict evaluateFileIn(const Folder& folder, const std::wstring& name, const std::wstring& path,
                           const SignatureDatabase* database, const EvaluationOptions& options,
                           Links links) {
  FileVerdict fresh = freshVerdict(path);
  std::string error;
  // A followed link is judged by what it leads to, which only the open tells.
  if (links == Links::Refuse) {
    FileInfo entry;
    bool isLink = false;
    if (!folder.entryInfo(name, entry, &isLink, &error)) return notScanned(std::move(fresh), error);
    if (isLink) return notScanned(std::move(fresh), "the file was replaced by a link");
    if (!entry.regular) return notScanned(std::move(fresh), "not a regular file");
    fresh.size = entry.size;
    fresh.modified = entry.modified;
    if (decidedBySize(fresh, options)) return fresh;
  }
  InputFile file;
  if (!file.openIn(folder, name, links, InputFile::Access::Read, &error))
    return notScanned(std::move(fresh), error);
  return evaluateOpened(file, std::move(fresh), database, options);
}

bool countsAsThreat(const FileVerdict& verdict) {
  return verdict.inDatabase || verdict.level == ThreatLevel::High ||
         verdict.level == ThreatLevel::Critical;
}

bool countsAsSuspicious(const FileVerdict& verdict) {
  return !countsAsThreat(verdict) && verdict.level == ThreatLevel::Medium;
}

bool countsAsUnreadable(const FileVerdict& verdict) { return !verdict.readError.empty(); }

}  // namespace zorvek
