#include "tools/zscan/Zscan.h"

#include <chrono>
#include <cstdlib>
#include <memory>

#include "common/Json.h"
#include "common/DataPaths.h"
#include "common/SignatureDatabase.h"
#include "common/Text.h"
#include "common/Version.h"
#include "common/platform/File.h"
#include "service/FileScanner.h"
#include "service/platform/ScanPlatform.h"

namespace zorvek {
namespace {

void put(std::FILE* f, const std::string& text) { std::fwrite(text.data(), 1, text.size(), f); }

const char kUsage[] =
    "zscan - проверка файлов и папок ZORVEK Antivirus\n"
    "\n"
    "  zscan [--db FILE]... [--json] [--quiet] PATH...\n"
    "  zscan -h | --help | --version\n"
    "\n"
    "  --db FILE  база сигнатур (можно несколько; по умолчанию - базы службы)\n"
    "  --json     по одной записи JSON на каждый проверенный файл\n"
    "  --quiet    только итоговая строка\n"
    "\n"
    "Код выхода: 0 - угроз нет, 1 - найдены угрозы, 2 - ошибка или не все файлы проверены.\n";

// The shortest fixed notation with at least six decimals that reads back as the same double.
void appendJsonDouble(std::string& out, double value) {
  char buf[64];
  for (int precision = 6; precision <= 20; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*f", precision, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  out += buf;
}

void key(std::string& out, const char* name) {
  if (out.back() != '{') out += ',';
  out += '"';
  out += name;
  out += "\":";
}

void field(std::string& out, const char* name, std::string_view text) {
  key(out, name);
  appendJsonString(out, text);
}
void field(std::string& out, const char* name, bool value) {
  key(out, name);
  out += value ? "true" : "false";
}
void field(std::string& out, const char* name, uint64_t value) {
  key(out, name);
  out += std::to_string(value);
}
void field(std::string& out, const char* name, double value) {
  key(out, name);
  appendJsonDouble(out, value);
}

// A file that could not be read: its one reason says so and why.
std::string unreadableLine(const FileVerdict& v) {
  return toUtf8(v.path) + ": " + (v.reasons.empty() ? kNotScannedReason : v.reasons.front()) + "\n";
}

std::string humanLine(const FileVerdict& v) {
  std::string line = toUtf8(v.path) + ": " + threatLevelName(v.level);
  for (size_t i = 0; i < v.reasons.size(); ++i) line += (i ? "; " : " - ") + v.reasons[i];
  return line + "\n";
}

bool reportable(const FileVerdict& v) {
  return static_cast<uint32_t>(v.level) >= static_cast<uint32_t>(ThreatLevel::Medium);
}

struct Options {
  std::vector<std::wstring> databases;
  std::vector<std::wstring> paths;
  bool json = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

bool parseArgs(const std::vector<std::wstring>& args, Options& o, std::string& error) {
  bool endOfOptions = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (endOfOptions || a.empty() || a[0] != L'-' || a == L"-") {
      o.paths.push_back(a);
    } else if (a == L"--") {
      endOfOptions = true;
    } else if (a == L"--db") {
      if (i + 1 >= args.size()) {
        error = "--db: не указан файл";
        return false;
      }
      o.databases.push_back(args[++i]);
    } else if (a.rfind(L"--db=", 0) == 0) {
      o.databases.push_back(a.substr(5));
    } else if (a == L"--json") {
      o.json = true;
    } else if (a == L"--quiet") {
      o.quiet = true;
    } else if (a == L"-h" || a == L"--help") {
      o.help = true;
      return true;
    } else if (a == L"--version") {
      o.version = true;
      return true;
    } else {
      error = "неизвестный параметр: " + toUtf8(a);
      return false;
    }
  }
  if (o.paths.empty()) {
    error = "не указан путь для проверки";
    return false;
  }
  return true;
}

}  // namespace

std::string verdictJson(const FileVerdict& v) {
  std::string o = "{";
  field(o, "path", toUtf8(v.path));
  field(o, "fileName", toUtf8(v.fileName));
  field(o, "size", v.size);
  field(o, "md5", v.md5);
  field(o, "sha1", v.sha1);
  field(o, "sha256", v.sha256);
  field(o, "isPe", v.isPe);
  field(o, "packed", v.packed);
  field(o, "entropy", v.entropy);
  field(o, "maxSectionEntropy", v.maxSectionEntropy);
  field(o, "sectionCount", uint64_t{v.sectionCount});
  field(o, "importCount", uint64_t{v.importCount});
  field(o, "hasDebugDirectory", v.hasDebugDirectory);
  field(o, "hasResources", v.hasResources);
  field(o, "inDatabase", v.inDatabase);
  field(o, "signatureName", v.signatureName);
  field(o, "signatureFamily", v.signatureFamily);
  field(o, "signatureLevel", std::string_view(threatLevelName(v.signatureLevel)));
  field(o, "signatureReference", v.signatureReference);
  field(o, "matchedHash", v.matchedHash);
  key(o, "findings");
  o += '[';
  for (size_t i = 0; i < v.findings.size(); ++i) {
    const Finding& f = v.findings[i];
    if (i) o += ',';
    o += '{';
    field(o, "level", std::string_view(threatLevelName(f.level)));
    field(o, "code", f.code);
    field(o, "title", f.title);
    field(o, "detail", f.detail);
    o += '}';
  }
  o += ']';
  field(o, "level", std::string_view(threatLevelName(v.level)));
  key(o, "reasons");
  o += '[';
  for (size_t i = 0; i < v.reasons.size(); ++i) {
    if (i) o += ',';
    appendJsonString(o, v.reasons[i]);
  }
  o += ']';
  // Only for a file that could not be read: the records of judged files stay as they were.
  if (countsAsUnreadable(v)) field(o, "error", v.readError);
  o += "}\n";
  return o;
}

int runZscan(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
             bool progressTerminal) {
  Options opt;
  std::string usageError;
  if (!parseArgs(args, opt, usageError)) {
    put(err, "zscan: " + usageError + "\n\n" + kUsage);
    return 2;
  }
  if (opt.help || opt.version) {
    put(out, opt.help ? std::string(kUsage) : std::string("zscan ") + kVersion + "\n");
    return 0;
  }

  bool failed = false;
  auto database = std::make_shared<SignatureDatabase>();
  const auto loadStart = std::chrono::steady_clock::now();
  std::string folderError;
  const std::wstring dataDir = opt.databases.empty() ? dataFolder() : std::wstring();
  if (opt.databases.empty() && (dataDir.empty() || !createDirectories(dataDir, &folderError))) {
    // Without the data folder the live database is out of reach: a scan with the seed alone
    // would look complete and be stale.
    put(err, "zscan: база сигнатур не загружена: папка данных недоступна" +
                 (dataDir.empty() ? std::string() : " (" + toUtf8(dataDir) + "): " + folderError) +
                 "\n");
    failed = true;
  } else if (opt.databases.empty()) {
    std::wstring error;
    auto assembled = assembleServiceDatabase(seedDatabasePath(),
                                             dataFilePath(L"signatures.live.txt"), &error);
    if (assembled) {
      database = std::move(assembled);
    } else {
      put(err, "zscan: база сигнатур не загружена: " + toUtf8(error) + "\n");
      failed = true;
    }
  } else {
    for (const auto& path : opt.databases) {
      std::string error;
      if (!database->load(path, &error)) {
        put(err, "zscan: " + toUtf8(path) + ": не удалось прочитать базу: " + error + "\n");
        failed = true;
      }
    }
  }
  const auto loadMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - loadStart)
                          .count();

  FileScanner scanner(database);
  const auto start = std::chrono::steady_clock::now();
  ScanSummary total;
  bool found = false;
  bool progressShown = false;

  const auto clearProgress = [&] {
    if (progressShown) {
      put(err, "\r\x1b[K");  // a line of ours must not land inside the progress line
      std::fflush(err);
    }
  };
  auto onVerdict = [&](const FileVerdict& v) {
    if (reportable(v)) found = true;
    if (opt.json) {
      put(out, verdictJson(v));
    } else if (!opt.quiet && (reportable(v) || countsAsUnreadable(v))) {
      clearProgress();
      put(out, countsAsUnreadable(v) ? unreadableLine(v) : humanLine(v));
      std::fflush(out);
    }
  };
  auto onFolderError = [&](const std::wstring& folder, const std::string& error) {
    clearProgress();
    put(err, "zscan: " + toUtf8(folder) + ": не удалось открыть папку (" + error + ")\n");
  };
  auto onProgress = [&](const ScanProgressInfo& p) {
    if (!progressTerminal || p.phase != L"scanning" || p.filesDone == 0) return;
    std::string name = toUtf8(p.currentFile);
    if (name.size() > 60) name = "..." + name.substr(name.size() - 57);
    put(err, "\r\x1b[K" + std::to_string(p.filesDone) + " файлов, " +
                 std::to_string(p.bytesDone / (1024 * 1024)) + " МБ: " + name);
    std::fflush(err);
    progressShown = true;
  };

  for (const auto& path : opt.paths) {
    FileAttributes attributes;
    if (!readFileAttributes(path, attributes)) {
      put(err, "zscan: " + toUtf8(path) + ": путь не найден или недоступен\n");
      failed = true;
      continue;
    }
    if (attributes.directory) {
      const ScanSummary s = scanner.scan({{path, true}}, onProgress, onVerdict, onFolderError);
      total.filesScanned += s.filesScanned;
      total.threats += s.threats;
      total.suspicious += s.suspicious;
      total.bytesScanned += s.bytesScanned;
      total.filesUnreadable += s.filesUnreadable;
      total.foldersUnreadable += s.foldersUnreadable;
      continue;
    }
    const FileVerdict v = scanner.evaluate(path);
    if (countsAsUnreadable(v)) {
      ++total.filesUnreadable;
    } else {
      ++total.filesScanned;
      total.bytesScanned += v.size;
      if (countsAsThreat(v)) ++total.threats;
      else if (countsAsSuspicious(v)) ++total.suspicious;
    }
    onVerdict(v);
  }
  total.elapsedMs = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - start)
                                              .count());
  if (progressShown) put(err, "\r\x1b[K");

  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", static_cast<double>(total.elapsedMs) / 1000.0);
  char load[32];
  std::snprintf(load, sizeof load, "%.3f", static_cast<double>(loadMs) / 1000.0);
  const uint64_t unread = total.filesUnreadable + total.foldersUnreadable;
  const std::string summary = "Итого: файлов " + std::to_string(total.filesScanned) +
                              ", угроз " + std::to_string(total.threats) + ", подозрительных " +
                              std::to_string(total.suspicious) +
                              (unread ? ", не проверено " + std::to_string(unread) : "") + ", байт " +
                              std::to_string(total.bytesScanned) + ", время " + elapsed +
                              " с (загрузка баз " + load + " с)\n";
  // With --json standard output carries the records only.
  put(opt.json ? err : out, summary);
  std::fflush(err);
  if (found) return failed ? 2 : 1;
  // Something could not be scanned: "no threats" would claim more than was checked.
  return failed || unread ? 2 : 0;
}

}  // namespace zorvek
