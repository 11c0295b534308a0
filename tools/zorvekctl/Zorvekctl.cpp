#include "tools/zorvekctl/Zorvekctl.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "common/Json.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/ThreatLevel.h"
#include "common/platform/Pipe.h"

namespace zorvek {
namespace {

const char kUsage[] =
    "zorvekctl - управление работающей службой ZORVEK Antivirus\n"
    "\n"
    "  zorvekctl [--json] status | scan [--wait] quick|full|memory|PATH... | progress | cancel\n"
    "            | detections | decide PATH quarantine|delete|allow\n"
    "            | quarantine list|restore ID|delete ID | config get | config set KEY=VALUE...\n"
    "            | reload | update live|self | firewall status | shutdown\n"
    "\n"
    "  --json  ответ службы одним объектом JSON\n"
    "  ZORVEK_PIPE выбирает канал службы.\n"
    "\n"
    "Код выхода: 0 - успех, 1 - служба ответила ошибкой, 2 - ошибка вызова или служба недоступна.\n";

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

// The settings keys that `config get` shows and `config set` takes, in settings.ini's order.
struct ConfigKey {
  const char* name;
  bool* (*flag)(ipc::ConfigPayload&);
  uint64_t (*getNumber)(const ipc::ConfigPayload&);
  void (*setNumber)(ipc::ConfigPayload&, uint64_t);
  std::wstring* (*text)(ipc::ConfigPayload&);
};

#define ZFLAG(key, member) {key, [](ipc::ConfigPayload& c) { return &c.member; }, nullptr, nullptr, nullptr}
#define ZNUM(key, member, type)                                                              \
  {key, nullptr, [](const ipc::ConfigPayload& c) { return static_cast<uint64_t>(c.member); }, \
   [](ipc::ConfigPayload& c, uint64_t v) { c.member = static_cast<type>(v); }, nullptr}
#define ZTEXT(key, member) {key, nullptr, nullptr, nullptr, [](ipc::ConfigPayload& c) { return &c.member; }}

const ConfigKey kConfigKeys[] = {
    ZFLAG("ProtectionEnabled", protectionEnabled),
    ZFLAG("RealTimeEnabled", realTimeEnabled),
    ZFLAG("ScanArchives", scanArchives),
    ZFLAG("ScanRemovable", scanRemovable),
    ZFLAG("ShowThreatModal", showThreatModal),
    ZFLAG("QuarantineOnDetect", quarantineOnDetect),
    ZFLAG("ScheduledScan", scheduledScan),
    ZNUM("ScheduledHour", scheduledHour, uint32_t),
    ZNUM("LastScanUtc", lastScanUtc, uint64_t),
    ZNUM("LastThreatCount", lastThreatCount, uint64_t),
    ZTEXT("SignatureDb", signatureDb),
    ZTEXT("QuarantineDir", quarantineDir),
    ZFLAG("LiveUpdates", liveUpdates),
    ZNUM("LastLiveUpdateUtc", lastLiveUpdateUtc, uint64_t),
    ZFLAG("WebShield", webShield),
};

#undef ZFLAG
#undef ZNUM
#undef ZTEXT

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
  Client(std::FILE* out, std::FILE* err, bool json) : out_(out), err_(err), json_(json) {}

  // One request on a fresh connection. On failure prints the reason and sets `code`.
  bool call(uint32_t opcode, std::string_view payload, std::string& reply) {
    std::string error;
    ipc::PipeHandle pipe = ipc::connectPipe(ipc::pipePath(), &error);
    if (!pipe) return fail(kUsageError, "служба недоступна: " + error);
    uint32_t replyOpcode = 0;
    if (!ipc::exchange(pipe, opcode, payload, replyOpcode, reply, &error))
      return fail(kUsageError, "обмен со службой не удался: " + error);
    if (replyOpcode == ipc::kOpError) return fail(kServiceError, ipc::errorReplyText(reply));
    if (replyOpcode != opcode) return fail(kUsageError, "непонятный ответ службы");
    return true;
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
  int code() const { return code_; }
  // A success without output of its own.
  int ok() {
    if (json_) print("{\"ok\":true}");
    return kOk;
  }

 private:
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
  std::string reply;
  if (!c.call(ipc::kOpHello, {}, reply)) return c.code();
  ipc::HelloReply h;
  if (!ipc::decodeHelloReply(reply, h)) return c.malformed(), c.code();
  if (c.json()) {
    c.print(Json().str("version", h.version).num("signatures", h.signatureCount)
                .str("databaseVersion", h.databaseVersion).flag("protection", h.protectionEnabled)
                .flag("realTime", h.realTimeEnabled).flag("minifilter", h.minifilter)
                .flag("scanRunning", h.scanRunning).flag("liveUpdateRunning", h.liveUpdateRunning)
                .str("liveUpdateError", h.liveUpdateError).num("lastLiveUpdateUtc", h.lastLiveUpdateUtc)
                .flag("selfUpdateRunning", h.selfUpdateRunning).str("selfUpdateError", h.selfUpdateError)
                .wstr("installerPath", h.installerPath).done());
    return kOk;
  }
  const auto onOff = [](bool b) { return std::string(b ? "вкл" : "выкл"); };
  c.print("версия:       " + h.version);
  c.print("сигнатуры:    " + std::to_string(h.signatureCount) + " (" + h.databaseVersion + ")");
  c.print("защита:       " + onOff(h.protectionEnabled));
  c.print("real-time:    " + onOff(h.realTimeEnabled));
  c.print("minifilter:   " + std::string(h.minifilter ? "подключён" : "нет"));
  c.print("проверка:     " + std::string(h.scanRunning ? "идёт" : "нет"));
  if (h.liveUpdateRunning || !h.liveUpdateError.empty())
    c.print("обновление баз: " + (h.liveUpdateRunning ? std::string("идёт") : h.liveUpdateError));
  if (h.selfUpdateRunning || !h.selfUpdateError.empty() || !h.installerPath.empty())
    c.print("обновление программы: " +
            (h.selfUpdateRunning ? std::string("идёт")
                                 : !h.selfUpdateError.empty() ? h.selfUpdateError
                                                              : toUtf8(h.installerPath)));
  return kOk;
}

bool fetchProgress(Client& c, ipc::ProgressReply& p) {
  std::string reply;
  if (!c.call(ipc::kOpProgress, {}, reply)) return false;
  if (!ipc::decodeProgressReply(reply, p)) return c.malformed();
  return true;
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
    // The service resolves paths in its own working folder: send them absolute.
    for (const std::string& w : words) {
      std::error_code ec;
      const std::filesystem::path abs = std::filesystem::absolute(toPath(toWide(w)), ec);
      r.paths.push_back(ec ? toWide(w) : pathToWide(abs.lexically_normal()));
    }
  }
  std::string reply;
  if (!c.call(ipc::kOpStartScan, ipc::encodeStartScanRequest(r), reply)) return c.code();
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
  if (c.json()) {
    c.print(Json().str("state", toUtf8(p.progress.phase)).field("summary", summaryJson(p.summary))
                .done());
    return kOk;
  }
  c.endProgress();
  c.print("проверка завершена: " + toUtf8(p.progress.phase));
  printSummary(c, p.summary);
  return kOk;
}

bool fetchDetections(Client& c, std::vector<ipc::DetectionRecord>& list) {
  std::string reply;
  if (!c.call(ipc::kOpScanDetections, {}, reply)) return false;
  if (!ipc::decodeDetectionList(reply, list)) return c.malformed();
  return true;
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
  std::string reply;
  if (!c.call(ipc::kOpThreatDecision, ipc::encodeThreatDecisionRequest(r), reply)) return c.code();
  return c.ok();
}

int cmdQuarantine(Client& c, const std::vector<std::string>& words) {
  if (words.size() == 1 && words[0] == "list") {
    std::string reply;
    if (!c.call(ipc::kOpQuarantineList, {}, reply)) return c.code();
    std::vector<ipc::QuarantineRecord> list;
    if (!ipc::decodeQuarantineList(reply, list)) return c.malformed(), c.code();
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
    std::string reply;
    const uint32_t op = words[0] == "restore" ? ipc::kOpQuarantineRestore : ipc::kOpQuarantineDelete;
    if (!c.call(op, ipc::encodeU64Payload(*id), reply)) return c.code();
    return c.ok();
  }
  return c.fail(kUsageError, "quarantine list|restore ID|delete ID"), c.code();
}

int cmdConfig(Client& c, const std::vector<std::string>& words) {
  if (words.empty() || (words[0] != "get" && words[0] != "set") ||
      (words[0] == "get" && words.size() != 1) || (words[0] == "set" && words.size() < 2))
    return c.fail(kUsageError, "config get | config set KEY=VALUE..."), c.code();
  std::string reply;
  if (!c.call(ipc::kOpGetConfig, {}, reply)) return c.code();
  ipc::ConfigPayload current;
  if (!ipc::decodeConfigPayload(reply, current)) return c.malformed(), c.code();
  if (words[0] == "get") {
    Json json;
    for (const ConfigKey& k : kConfigKeys) {
      std::string value;
      if (k.flag) value = *k.flag(current) ? "1" : "0";
      else if (k.getNumber) value = std::to_string(k.getNumber(current));
      else value = toUtf8(*k.text(current));
      if (c.json()) {
        if (k.flag) json.flag(k.name, *k.flag(current));
        else if (k.getNumber) json.num(k.name, k.getNumber(current));
        else json.str(k.name, value);
      } else {
        c.print(std::string(k.name) + "=" + value);
      }
    }
    if (c.json()) c.print(json.done());
    return kOk;
  }
  ipc::ConfigPayload next = current;
  // Paths travel empty unless changed: an empty path keeps the service's current one, and only
  // a privileged caller may change them.
  next.signatureDb.clear();
  next.quarantineDir.clear();
  for (size_t i = 1; i < words.size(); ++i) {
    const size_t eq = words[i].find('=');
    const std::string key = words[i].substr(0, eq);
    const ConfigKey* found = nullptr;
    for (const ConfigKey& k : kConfigKeys)
      if (asciiLower(k.name) == asciiLower(key)) found = &k;
    if (eq == std::string::npos || !found)
      return c.fail(kUsageError, "неизвестный параметр: " + words[i]), c.code();
    const std::string value = words[i].substr(eq + 1);
    if (found->flag) {
      const auto v = parseFlag(value);
      if (!v) return c.fail(kUsageError, "ожидается 0 или 1: " + words[i]), c.code();
      *found->flag(next) = *v;
    } else if (found->setNumber) {
      const auto v = parseNumber(value);
      if (!v || (found->getNumber == kConfigKeys[7].getNumber && *v > 23))
        return c.fail(kUsageError, "неверное число: " + words[i]), c.code();
      found->setNumber(next, *v);
    } else {
      *found->text(next) = toWide(value);
    }
  }
  if (!c.call(ipc::kOpSetConfig, ipc::encodeConfigPayload(next), reply)) return c.code();
  return c.ok();
}

int cmdSimple(Client& c, uint32_t opcode) {
  std::string reply;
  if (!c.call(opcode, {}, reply)) return c.code();
  return c.ok();
}

int cmdUpdate(Client& c, const std::vector<std::string>& words) {
  if (words.size() != 1 || (words[0] != "live" && words[0] != "self"))
    return c.fail(kUsageError, "update live|self"), c.code();
  std::string reply;
  if (!c.call(words[0] == "live" ? ipc::kOpLiveUpdate : ipc::kOpSelfUpdate, {}, reply))
    return c.code();
  if (c.json()) c.print("{\"started\":true}");
  else c.print("обновление запущено; ход виден в zorvekctl status");
  return kOk;
}

int cmdFirewall(Client& c, const std::vector<std::string>& words) {
  if (words.size() != 1 || words[0] != "status") return c.fail(kUsageError, "firewall status"), c.code();
  std::string reply;
  if (!c.call(ipc::kOpFirewallStatus, {}, reply)) return c.code();
  if (c.json()) c.print(Json().str("status", reply).done());
  else c.print(reply);
  return kOk;
}

}  // namespace

int runZorvekctl(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err,
                 bool errIsTerminal) {
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
  Client c(out, err, json);
  c.setTerminal(errIsTerminal);
  const std::string command = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  const auto noArgs = [&](uint32_t opcode) {
    if (!rest.empty()) return c.fail(kUsageError, command + ": лишние аргументы"), c.code();
    return cmdSimple(c, opcode);
  };
  if (command == "status" && rest.empty()) return cmdStatus(c);
  if (command == "scan") return cmdScan(c, rest);
  if (command == "progress" && rest.empty()) return cmdProgress(c);
  if (command == "cancel") return noArgs(ipc::kOpCancelScan);
  if (command == "detections" && rest.empty()) return cmdDetections(c);
  if (command == "decide") return cmdDecide(c, rest);
  if (command == "quarantine") return cmdQuarantine(c, rest);
  if (command == "config") return cmdConfig(c, rest);
  if (command == "reload") return noArgs(ipc::kOpUpdateSignatures);
  if (command == "update") return cmdUpdate(c, rest);
  if (command == "firewall") return cmdFirewall(c, rest);
  if (command == "shutdown") return noArgs(ipc::kOpShutdown);
  put(err, kUsage);
  return kUsageError;
}

}  // namespace zorvek
