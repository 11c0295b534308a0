#include "tools/zorvekctl/Zorvekctl.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "common/FirewallStatus.h"
#include "common/Hosts.h"
#include "common/Json.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/ThreatLevel.h"
#include "common/Version.h"
#include "common/Settings.h"
#include "common/client/ServiceClient.h"

namespace zorvek {
namespace {

const char kUsage[] =
    "zorvekctl - управление работающей службой ZORVEK Antivirus\n"
    "\n"
    "  zorvekctl [--json] status | scan [--wait] quick|full|memory|PATH... | progress | cancel\n"
    "            | watch [--count N] [--seconds S]\n"
    "            | detections | decide PATH quarantine|delete|allow\n"
    "            | quarantine list|restore ID|delete ID | config get | config set KEY=VALUE...\n"
    "            | reload | update live|self | shutdown\n"
    "            | firewall status|remove | firewall profile domain|private|public on|off\n"
    "            | firewall block-inbound on|off | firewall allow|block PROGRAM [in|out|both]\n"
    "\n"
    "  zorvekctl -h | --help | --version\n"
    "\n"
    "  --json  ответ службы одним объектом JSON\n"
    "  watch   печатает обнаружения защиты в реальном времени по мере их появления; с --count\n"
    "          выходит после N обнаружений, с --seconds - через S секунд\n"
    "  ZORVEK_PIPE выбирает канал службы.\n"
    "\n"
    "Код выхода: 0 - успех, 1 - служба ответила ошибкой, 2 - ошибка вызова, служба недоступна\n"
    "или не ответила за 30 с, проверка (scan --wait) завершилась состоянием failed.\n";

constexpr int kOk = 0, kServiceError = 1, kUsageError = 2;

void put(std::FILE* f, const std::string& text) { std::fwrite(text.data(), 1, text.size(), f); }

// Builds one JSON object field by field.
class Json {
 public:
  Json& field(const char* name, const std::string& raw) {
    out_ += out_.empty() ? "{" : ",";
    out_ += jsonString(name) + ":" + raw;
    return *this;
  }
  Json& str(const char* name, std::string_view s) { return field(name, jsonString(s)); }
  Json& wstr(const char* name, const std::wstring& s) { return str(name, toUtf8(s)); }
  Json& num(const char* name, uint64_t v) { return field(name, std::to_string(v)); }
  Json& flag(const char* name, bool v) { return field(name, v ? "true" : "false"); }
  std::string done() const { return out_.empty() ? "{}" : out_ + "}"; }

 private:
  std::string out_;
};

template <typename T, typename F>
std::string jsonArray(const std::vector<T>& items, F toJson) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += toJson(items[i]);
  }
  return out + "]";
}

std::string progressJson(const ipc::ScanProgress& p) {
  return Json().num("filesDone", p.filesDone).num("filesTotal", p.filesTotal)
      .num("bytesDone", p.bytesDone).num("bytesTotal", p.bytesTotal)
      .wstr("currentFile", p.currentFile).wstr("phase", p.phase).done();
}

std::string summaryJson(const ipc::ScanSummary& s) {
  return Json().num("filesScanned", s.filesScanned).num("threats", s.threats)
      .num("suspicious", s.suspicious).num("bytesScanned", s.bytesScanned)
      .num("elapsedMs", s.elapsedMs).flag("cancelled", s.cancelled).done();
}

std::string threatJson(const ipc::ThreatRecord& t) {
  return Json().wstr("path", t.path).str("threat", t.threatName).str("secondText", t.secondText)
      .str("level", threatLevelName(static_cast<ThreatLevel>(t.level))).num("size", t.size).done();
}

std::string detectionJson(const ipc::DetectionRecord& d) {
  return Json().wstr("path", d.path).str("threat", d.threatName).str("secondText", d.secondText)
      .str("level", threatLevelName(static_cast<ThreatLevel>(d.level))).num("size", d.size)
      .str("detail", d.detail)
      .field("findings", jsonArray(d.findings, [](const ipc::Finding& f) {
        return Json().str("level", threatLevelName(static_cast<ThreatLevel>(f.level)))
            .str("code", f.code).str("title", f.title).str("detail", f.detail).done();
      }))
      .field("reasons", jsonArray(d.reasons, [](const std::string& r) { return jsonString(r); }))
      .done();
}

std::string quarantineJson(const ipc::QuarantineRecord& q) {
  return Json().num("id", q.id).wstr("originPath", q.originPath).wstr("storedPath", q.storedPath)
      .wstr("name", q.name).str("sha256", q.sha256).str("threat", q.threat).str("code", q.code)
      .str("severity", threatLevelName(static_cast<ThreatLevel>(q.severity))).num("size", q.size)
      .num("time", q.time).done();
}

// The service resolves paths in its own working folder: send them absolute.
std::wstring absolutePath(const std::string& word) {
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(toPath(toWide(word)), ec);
  return ec ? toWide(word) : pathToWide(abs.lexically_normal());
}

std::optional<bool> parseFlag(std::string_view v) {
  const std::string s = asciiLower(v);
  if (s == "1" || s == "true" || s == "on" || s == "yes") return true;
  if (s == "0" || s == "false" || s == "off" || s == "no") return false;
  return std::nullopt;
}

std::optional<uint64_t> parseNumber(std::string_view v) {
  if (v.empty() || v.size() > 20) return std::nullopt;
  uint64_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return std::nullopt;
    n = n * 10 + digit;
  }
  return n;
}

class Client {
 public:
  Client(std::FILE* out, std::FILE* err, bool json, const ipc::ClientOptions& options)
      : service_(options), out_(out), err_(err), json_(json) {}

  // One call of the service client, given without its error argument. On failure prints the
  // reason and sets `code`.
  template <typename... Params, typename... Args>
  bool request(bool (ipc::ServiceClient::*call)(Params...), Args&&... args) {
    std::string error;
    if ((service_.*call)(std::forward<Args>(args)..., &error)) return true;
    switch (service_.failure()) {
      case ipc::CallFailure::Connect:
        return fail(kUsageError, "служба недоступна: " + error);
      case ipc::CallFailure::Exchange:
        return fail(kUsageError, "обмен со службой не удался: " + error);
      case ipc::CallFailure::ErrorReply:
      case ipc::CallFailure::Refused:
        return fail(kServiceError, error);
      default:
        return malformed();
    }
  }

  bool fail(int code, const std::string& text) {
    code_ = code;
    if (json_) {
      put(out_, Json().str("error", text).done() + "\n");
    } else {
      put(err_, "zorvekctl: " + text + "\n");
    }
    return false;
  }
  bool malformed() { return fail(kUsageError, "непонятный ответ службы"); }

  void print(const std::string& text) { put(out_, text + "\n"); }
  // On a terminal one line redrawn in place; otherwise a line whenever the phase changes.
  void progressLine(const std::string& phase, const std::string& text) {
    if (terminal_) {
      put(err_, "\r" + phase + ": " + text + "\x1b[K");
      shown_ = true;
    } else if (phase != lastPhase_) {
      put(err_, phase + "...\n");
    }
    lastPhase_ = phase;
    std::fflush(err_);
  }
  void endProgress() {
    if (shown_) put(err_, "\r\x1b[K");
    shown_ = false;
  }
  void setTerminal(bool terminal) { terminal_ = terminal; }

  bool json() const { return json_; }
  std::FILE* out() const { return out_; }
  int code() const { return code_; }
  // A success without output of its own.
  int ok() {
    if (json_) print("{\"ok\":true}");
    return kOk;
  }

 private:
  ipc::ServiceClient service_;
  std::FILE* out_;
  std::FILE* err_;
  bool json_;
  int code_ = kOk;
  bool terminal_ = false;
  bool shown_ = false;
  std::string lastPhase_;
};

std::string percent(uint64_t done, uint64_t total) {
  if (total == 0) return "";
  return " (" + std::to_string(done * 100 / total) + "%)";
}

void printSummary(Client& c, const ipc::ScanSummary& s) {
  c.print("файлов проверено: " + std::to_string(s.filesScanned));
  c.print("угроз:            " + std::to_string(s.threats));
  c.print("подозрительных:   " + std::to_string(s.suspicious));
  c.print("байт:             " + std::to_string(s.bytesScanned));
  c.print("время, мс:        " + std::to_string(s.elapsedMs));
  if (s.cancelled) c.print("проверка прервана");
}

int cmdStatus(Client& c) {
  ipc::HelloReply h;
  if (!c.request(&ipc::ServiceClient::hello, h)) return c.code();
  if (c.json()) {
    c.print(Json().str("version", h.version).num("signatures", h.signatureCount)
                .str("databaseVersion", h.databaseVersion).flag("protection", h.protectionEnabled)
                .flag("realTime", h.realTimeEnabled).flag("minifilter", h.minifilter)
                .flag("scanRunning", h.scanRunning).flag("liveUpdateRunning", h.liveUpdateRunning)
                .str("liveUpdateError", h.liveUpdateError).num("lastLiveUpdateUtc", h.lastLiveUpdateUtc)
                .flag("selfUpdateRunning", h.selfUpdateRunning).str("selfUpdateError", h.selfUpdateError)
                .wstr("installerPath", h.installerPath)
                .num("notificationOverflows", h.notificationOverflows)
                .num("webShieldEntries", countWebShieldEntries()).done());
    return kOk;
  }
  const auto onOff = [](bool b) { return std::string(b ? "вкл" : "выкл"); };
  c.print("версия:       " + h.version);
  c.print("сигнатуры:    " + std::to_string(h.signatureCount) + " (" + h.databaseVersion + ")");
  c.print("защита:       " + onOff(h.protectionEnabled));
  c.print("real-time:    " + onOff(h.realTimeEnabled));
  c.print("minifilter:   " + std::string(h.minifilter ? "подключён" : "нет"));
  // Each overflow is a moment when changes went by unjudged: a scan finds what they brought.
  c.print("переполнения: " + std::to_string(h.notificationOverflows) +
          " (уведомлений real-time)");
  c.print("проверка:     " + std::string(h.scanRunning ? "идёт" : "нет"));
  // Read here, not asked of the service: the hosts file is readable by everyone.
  c.print("веб-щит:      записей в hosts: " + std::to_string(countWebShieldEntries()));
  if (h.liveUpdateRunning || !h.liveUpdateError.empty())
    c.print("обновление баз: " + (h.liveUpdateRunning ? std::string("идёт") : h.liveUpdateError));
  if (h.selfUpdateRunning) c.print("обновление программы: идёт");
  else if (!h.selfUpdateError.empty()) c.print("обновление программы: " + h.selfUpdateError);
  if (!h.installerPath.empty()) c.print("установщик:   " + toUtf8(h.installerPath));
  return kOk;
}

bool fetchProgress(Client& c, ipc::ProgressReply& p) {
  return c.request(&ipc::ServiceClient::progress, p);
}

int cmdProgress(Client& c) {
  ipc::ProgressReply p;
  if (!fetchProgress(c, p)) return c.code();
  if (c.json()) {
    c.print(Json().field("progress", progressJson(p.progress)).flag("scanRunning", p.scanRunning)
                .field("summary", summaryJson(p.summary))
                .field("detections", jsonArray(p.detections, threatJson)).done());
    return kOk;
  }
  c.print("состояние:  " + toUtf8(p.progress.phase) + (p.scanRunning ? " (идёт)" : ""));
  c.print("файлы:      " + std::to_string(p.progress.filesDone) + "/" +
          std::to_string(p.progress.filesTotal));
  if (!p.progress.currentFile.empty()) c.print("файл:       " + toUtf8(p.progress.currentFile));
  c.print("последняя проверка:");
  printSummary(c, p.summary);
  for (const auto& t : p.detections)
    c.print("обнаружено: " + toUtf8(t.path) + " — " + t.threatName);
  return kOk;
}

// Real-time detections as they arrive. Each one reaches exactly one client's Progress reply, so
// a detection shown here is no longer waiting for the desktop program.
int cmdWatch(Client& c, const std::vector<std::string>& words) {
  std::optional<uint64_t> count, seconds;
  for (size_t i = 0; i < words.size(); i += 2) {
    std::optional<uint64_t>* target = words[i] == "--count"     ? &count
                                      : words[i] == "--seconds" ? &seconds
                                                                : nullptr;
    if (!target || i + 1 >= words.size() || target->has_value())
      return c.fail(kUsageError, "watch [--count N] [--seconds S]"), c.code();
    *target = parseNumber(words[i + 1]);
    if (!*target || **target == 0 || **target > 86400 * 365)
      return c.fail(kUsageError, "неверное число: " + words[i] + " " + words[i + 1]), c.code();
  }
  using Clock = std::chrono::steady_clock;
  const auto end = seconds ? Clock::now() + std::chrono::seconds(*seconds) : Clock::time_point::max();
  uint64_t seen = 0;
  for (;;) {
    ipc::ProgressReply p;
    if (!fetchProgress(c, p)) return c.code();
    for (const auto& t : p.detections) {
      c.print(c.json() ? threatJson(t) : "обнаружено: " + toUtf8(t.path) + " — " + t.threatName);
      ++seen;
    }
    std::fflush(c.out());
    if (count && seen >= *count) return kOk;
    if (Clock::now() >= end) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (!count) return kOk;
  c.fail(kServiceError, "за " + std::to_string(*seconds) + " с обнаружено " + std::to_string(seen) +
                            " из " + std::to_string(*count));
  return c.code();
}

int cmdScan(Client& c, std::vector<std::string> words) {
  bool wait = false;
  if (!words.empty() && words[0] == "--wait") {
    wait = true;
    words.erase(words.begin());
  }
  if (words.empty()) return c.fail(kUsageError, "scan: не указано, что проверять"), c.code();
  ipc::StartScanRequest r;
  if (words.size() == 1 && words[0] == "quick") r.scope = ipc::ScanScope::Quick;
  else if (words.size() == 1 && words[0] == "full") r.scope = ipc::ScanScope::Full;
  else if (words.size() == 1 && words[0] == "memory") r.scope = ipc::ScanScope::Memory;
  else {
    r.scope = ipc::ScanScope::Paths;
    for (const std::string& w : words) r.paths.push_back(absolutePath(w));
  }
  if (!c.request(&ipc::ServiceClient::startScan, r)) return c.code();
  if (!wait) return c.ok();
  ipc::ProgressReply p;
  for (;;) {
    if (!fetchProgress(c, p)) return c.code();
    if (!p.scanRunning) break;
    if (!c.json())
      c.progressLine(toUtf8(p.progress.phase), std::to_string(p.progress.filesDone) + "/" +
                     std::to_string(p.progress.filesTotal) +
                     percent(p.progress.bytesDone, p.progress.bytesTotal));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  // The scan could not run (no database, an error outside the walk): not a success.
  const int code = p.progress.phase == L"failed" ? kUsageError : kOk;
  if (c.json()) {
    c.print(Json().str("state", toUtf8(p.progress.phase)).field("summary", summaryJson(p.summary))
                .done());
    return code;
  }
  c.endProgress();
  c.print("проверка завершена: " + toUtf8(p.progress.phase));
  printSummary(c, p.summary);
  return code;
}

bool fetchDetections(Client& c, std::vector<ipc::DetectionRecord>& list) {
  return c.request(&ipc::ServiceClient::scanDetections, list);
}

int cmdDetections(Client& c) {
  std::vector<ipc::DetectionRecord> list;
  if (!fetchDetections(c, list)) return c.code();
  if (c.json()) {
    c.print(Json().field("detections", jsonArray(list, detectionJson)).done());
    return kOk;
  }
  if (list.empty()) c.print("обнаружений нет");
  for (const auto& d : list)
    c.print(std::string("[") + threatLevelName(static_cast<ThreatLevel>(d.level)) + "] " +
            toUtf8(d.path) + " — " + d.threatName + (d.detail.empty() ? "" : " (" + d.detail + ")"));
  return kOk;
}

int cmdDecide(Client& c, const std::vector<std::string>& words) {
  if (words.size() != 2) return c.fail(kUsageError, "decide PATH quarantine|delete|allow"), c.code();
  ipc::ThreatDecisionRequest r;
  if (words[1] == "quarantine") r.action = static_cast<uint32_t>(ipc::ThreatAction::Quarantine);
  else if (words[1] == "delete") r.action = static_cast<uint32_t>(ipc::ThreatAction::Delete);
  else if (words[1] == "allow") r.action = static_cast<uint32_t>(ipc::ThreatAction::Allow);
  else return c.fail(kUsageError, "неизвестное действие: " + words[1]), c.code();
  r.path = toWide(words[0]);
  // The service acts only on detections it reported: send the path exactly as it reported it,
  // with the record's texts for the quarantine entry.
  std::vector<ipc::DetectionRecord> list;
  if (!fetchDetections(c, list)) return c.code();
  std::error_code ec;
  const std::wstring absolute =
      pathToWide(std::filesystem::absolute(toPath(r.path), ec).lexically_normal());
  for (const auto& d : list) {
    if (d.path == r.path || (!ec && d.path == absolute)) {
      r.path = d.path;
      r.threatName = d.threatName;
      r.secondText = d.secondText;
      r.level = d.level;
      r.size = d.size;
      r.detail = d.detail;
      break;
    }
  }
  if (!c.request(&ipc::ServiceClient::decide, r)) return c.code();
  return c.ok();
}

int cmdQuarantine(Client& c, const std::vector<std::string>& words) {
  if (words.size() == 1 && words[0] == "list") {
    std::vector<ipc::QuarantineRecord> list;
    if (!c.request(&ipc::ServiceClient::quarantineList, list)) return c.code();
    if (c.json()) {
      c.print(Json().field("quarantine", jsonArray(list, quarantineJson)).done());
      return kOk;
    }
    if (list.empty()) c.print("карантин пуст");
    for (const auto& q : list)
      c.print(std::to_string(q.id) + "  " + toUtf8(q.originPath) + "  " + q.threat + "  " +
              std::to_string(q.size));
    return kOk;
  }
  if (words.size() == 2 && (words[0] == "restore" || words[0] == "delete")) {
    const auto id = parseNumber(words[1]);
    if (!id) return c.fail(kUsageError, "неверный номер записи: " + words[1]), c.code();
    const auto call = words[0] == "restore" ? &ipc::ServiceClient::quarantineRestore
                                            : &ipc::ServiceClient::quarantineDelete;
    if (!c.request(call, *id)) return c.code();
    return c.ok();
  }
  return c.fail(kUsageError, "quarantine list|restore ID|delete ID"), c.code();
}

// Applies one KEY=VALUE of `config set` to `next`; empty on success, else the error to show.
std::string setSetting(ipc::ConfigPayload& next, const std::string& word) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos) return "неизвестный параметр: " + word;
  const std::string key = asciiLower(word.substr(0, eq));
  const std::string value = word.substr(eq + 1);
  std::string result = "неизвестный параметр: " + word;
  forEachSetting([&](const auto& field) {
    using Field = std::decay_t<decltype(field)>;
    if (!field.onWire || asciiLower(field.key) != key) return;
    auto& target = next.*field.member;
    result.clear();
    if constexpr (Field::kind == SettingKind::Flag) {
      const auto v = parseFlag(value);
      if (v) target = *v;
      else result = "ожидается 0 или 1: " + word;
    } else if constexpr (Field::kind == SettingKind::Hour || Field::kind == SettingKind::Count) {
      const auto v = parseNumber(value);
      if (v && (Field::kind != SettingKind::Hour || *v <= 23))
        target = static_cast<typename Field::Value>(*v);
      else result = "неверное число: " + word;
    } else if constexpr (Field::kind == SettingKind::Path) {
      target = toWide(value);
    } else {
      target = value;
    }
  });
  return result;
}

int cmdConfig(Client& c, const std::vector<std::string>& words) {
  if (words.empty() || (words[0] != "get" && words[0] != "set") ||
      (words[0] == "get" && words.size() != 1) || (words[0] == "set" && words.size() < 2))
    return c.fail(kUsageError, "config get | config set KEY=VALUE..."), c.code();
  ipc::ConfigPayload current;
  if (!c.request(&ipc::ServiceClient::getSettings, current)) return c.code();
  if (words[0] == "get") {
    Json json;
    forEachSetting([&](const auto& field) {
      using Field = std::decay_t<decltype(field)>;
      if (!field.onWire) return;
      const auto& value = current.*field.member;
      if (!c.json()) c.print(std::string(field.key) + "=" + settingText(value));
      else if constexpr (Field::kind == SettingKind::Flag) json.flag(field.key, value);
      else if constexpr (Field::kind == SettingKind::Hour || Field::kind == SettingKind::Count)
        json.num(field.key, value);
      else json.str(field.key, settingText(value));
    });
    if (c.json()) c.print(json.done());
    return kOk;
  }
  ipc::ConfigPayload next = current;
  // Paths travel empty unless changed: an empty path keeps the service's current one, and only
  // a privileged caller may change them.
  next.signatureDb.clear();
  next.quarantineDir.clear();
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string why = setSetting(next, words[i]);
    if (!why.empty()) return c.fail(kUsageError, why), c.code();
  }
  if (!c.request(&ipc::ServiceClient::setSettings, next)) return c.code();
  return c.ok();
}

// The self-update check ends within the HTTP client's time-outs, but an installer arriving
// slowly may take minutes; past this the caller learns the outcome from status.
constexpr auto kSelfUpdateWait = std::chrono::minutes(5);

int waitSelfUpdate(Client& c) {
  const auto deadline = std::chrono::steady_clock::now() + kSelfUpdateWait;
  ipc::HelloReply h;
  for (;;) {
    if (!c.request(&ipc::ServiceClient::hello, h)) return c.code();
    if (!h.selfUpdateRunning) break;
    if (std::chrono::steady_clock::now() >= deadline)
      return c.fail(kServiceError, "проверка не завершилась за 300 с; итог покажет zorvekctl status"),
             c.code();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  if (!h.selfUpdateError.empty())
    return c.fail(kServiceError, "обновление не удалось: " + h.selfUpdateError), c.code();
  if (c.json()) {
    c.print(Json().flag("updateAvailable", !h.installerPath.empty())
                .wstr("installerPath", h.installerPath).done());
  } else if (!h.installerPath.empty()) {
    c.print("установщик скачан: " + toUtf8(h.installerPath));
  } else {
    c.print("обновлений нет — версия актуальна");
  }
  return kOk;
}

int cmdUpdate(Client& c, const std::vector<std::string>& words) {
  if (words.size() != 1 || (words[0] != "live" && words[0] != "self"))
    return c.fail(kUsageError, "update live|self"), c.code();
  if (words[0] == "self") {
    if (!c.request(&ipc::ServiceClient::startSelfUpdate)) return c.code();
    return waitSelfUpdate(c);
  }
  if (!c.request(&ipc::ServiceClient::startLiveUpdate)) return c.code();
  if (c.json()) c.print("{\"started\":true}");
  else c.print("обновление запущено; ход виден в zorvekctl status");
  return kOk;
}

std::string firewallJson(const fw::FirewallStatus& s) {
  const auto maybe = [](const std::optional<bool>& v) -> std::string {
    return !v ? "null" : *v ? "true" : "false";
  };
  Json profiles;
  for (size_t i = 0; i < fw::kProfileCount; ++i)
    profiles.field(fw::kProfileNames[i].data(), maybe(s.profiles[i]));
  return Json().field("profiles", profiles.done()).field("blockInbound", maybe(s.blockInbound))
      .field("rules", jsonArray(s.rules, [](const fw::StatusRule& r) {
        return Json().flag("enabled", r.enabled).str("action", r.action)
            .str("direction", r.direction).str("name", r.name).str("program", r.program).done();
      }))
      .field("errors", jsonArray(s.errors, [](const std::string& e) { return jsonString(e); }))
      .done();
}

void printFirewall(Client& c, const fw::FirewallStatus& s) {
  const auto state = [](const std::optional<bool>& v) {
    return std::string(!v ? "нет данных" : *v ? "вкл" : "выкл");
  };
  // Words the service does not use are shown as they came.
  const auto word = [](const std::string& w) {
    if (w == "allow") return std::string("разрешить");
    if (w == "block") return std::string("блокировать");
    if (w == "in") return std::string("входящие");
    if (w == "out") return std::string("исходящие");
    if (w == "both") return std::string("все");
    return w;
  };
  for (size_t i = 0; i < fw::kProfileCount; ++i) {
    const std::string name(fw::kProfileNames[i]);
    c.print("профиль " + name + ":" + std::string(9 - name.size(), ' ') + state(s.profiles[i]));
  }
  c.print("блокировка входящих: " + state(s.blockInbound));
  c.print("правила для программ: " + std::to_string(s.rules.size()));
  for (const fw::StatusRule& r : s.rules)
    c.print("  " + std::string(r.enabled ? "вкл " : "выкл") + "  " + word(r.action) + "  " +
            word(r.direction) + "  " + r.name + " — " + r.program);
  for (const std::string& e : s.errors) c.print("ошибка: " + e);
}

int cmdFirewall(Client& c, const std::vector<std::string>& words) {
  const auto usage = [&c] {
    c.fail(kUsageError, "firewall status|remove | firewall profile domain|private|public on|off"
                        " | firewall block-inbound on|off"
                        " | firewall allow|block PROGRAM [in|out|both]");
    return c.code();
  };
  const std::string what = words.empty() ? "" : words[0];
  if (what == "status" && words.size() == 1) {
    std::string text;
    if (!c.request(&ipc::ServiceClient::firewallStatus, text)) return c.code();
    const fw::FirewallStatus status = fw::parseFirewallStatus(text);
    if (c.json()) c.print(firewallJson(status));
    else printFirewall(c, status);
    return kOk;
  }
  ipc::FirewallReply reply;
  std::string done;
  if (what == "profile" && words.size() == 3) {
    const auto on = parseFlag(words[2]);
    bool known = false;
    for (const std::string_view name : fw::kProfileNames) known = known || words[1] == name;
    if (!on || !known) return usage();
    if (!c.request(&ipc::ServiceClient::firewallSetProfile, words[1] + (*on ? ",1" : ",0"), reply))
      return c.code();
    done = "профиль " + words[1] + (*on ? " включён" : " выключен");
  } else if (what == "block-inbound" && words.size() == 2) {
    const auto on = parseFlag(words[1]);
    if (!on) return usage();
    if (!c.request(&ipc::ServiceClient::firewallBlockInbound, *on ? "1" : "0", reply))
      return c.code();
    done = *on ? "входящие подключения блокируются" : "блокировка входящих снята";
  } else if ((what == "allow" || what == "block") && (words.size() == 2 || words.size() == 3)) {
    // Inbound unless told otherwise, as the desktop program asks for it.
    const std::string direction = words.size() == 3 ? words[2] : "in";
    if (direction != "in" && direction != "out" && direction != "both") return usage();
    const std::string program = toUtf8(absolutePath(words[1]));
    if (!c.request(&ipc::ServiceClient::firewallAppRule, what + "|" + direction + "|" + program,
                   reply))
      return c.code();
    done = (what == "allow" ? "разрешено: " : "заблокировано: ") + program;
    if (direction != "in") done += direction == "out" ? " (исходящие)" : " (входящие и исходящие)";
  } else if (what == "remove" && words.size() == 1) {
    if (!c.request(&ipc::ServiceClient::firewallRemoveRules, reply)) return c.code();
    done = "правила ZORVEK удалены";
  } else {
    return usage();
  }
  if (c.json()) return c.ok();
  c.print(done);
  return kOk;
}

}  // namespace

int runZorvekctl(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
                 bool errIsTerminal, const ipc::ClientOptions& client) {
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) words.push_back(toUtf8(args[i]));
  bool json = false;
  if (!words.empty() && words[0] == "--json") {
    json = true;
    words.erase(words.begin());
  }
  if (words.empty() || words[0] == "--help" || words[0] == "-h") {
    put(words.empty() ? err : out, kUsage);
    return words.empty() ? kUsageError : kOk;
  }
  if (words[0] == "--version") {
    put(out, std::string("zorvekctl ") + kVersion + "\n");
    return kOk;
  }
  Client c(out, err, json, client);
  c.setTerminal(errIsTerminal);
  const std::string command = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  const auto noArgs = [&](bool (ipc::ServiceClient::*call)(std::string*)) {
    if (!rest.empty()) return c.fail(kUsageError, command + ": лишние аргументы"), c.code();
    return c.request(call) ? c.ok() : c.code();
  };
  if (command == "status" && rest.empty()) return cmdStatus(c);
  if (command == "scan") return cmdScan(c, rest);
  if (command == "progress" && rest.empty()) return cmdProgress(c);
  if (command == "watch") return cmdWatch(c, rest);
  if (command == "cancel") return noArgs(&ipc::ServiceClient::cancelScan);
  if (command == "detections" && rest.empty()) return cmdDetections(c);
  if (command == "decide") return cmdDecide(c, rest);
  if (command == "quarantine") return cmdQuarantine(c, rest);
  if (command == "config") return cmdConfig(c, rest);
  if (command == "reload") return noArgs(&ipc::ServiceClient::updateSignatures);
  if (command == "update") return cmdUpdate(c, rest);
  if (command == "firewall") return cmdFirewall(c, rest);
  if (command == "shutdown") return noArgs(&ipc::ServiceClient::shutdown);
  put(err, kUsage);
  return kUsageError;
}

}  // namespace zorvek
