#include "gui/model/PageText.h"

#include <algorithm>

#include "common/Text.h"
#include "gui/model/Formats.h"
#include "gui/model/Headline.h"

namespace zorvek::gui {
namespace {

using ull = unsigned long long;

bool protectionOn(const ServiceView& view) {
  return view.settingsLoaded ? view.settings.protectionEnabled : view.status.protectionEnabled;
}

}  // namespace

EmblemState overviewEmblem(const ServiceView& view) {
  if (!view.connected) return EmblemState::ServiceDown;
  if (view.status.scanRunning) return EmblemState::Scanning;
  if (!view.pendingThreats.empty() || view.summary.threats != 0) return EmblemState::Threat;
  return protectionOn(view) ? EmblemState::Protected : EmblemState::Off;
}

int scanPercent(const ipc::ScanProgress& progress) {
  if (progress.filesTotal == 0) return 0;
  const uint64_t done = progress.filesDone, total = progress.filesTotal;
  if (done >= total) return 100;
  // done * 100 wraps for huge counters; then total / 100 is at least 1.
  const uint64_t percent = done <= UINT64_MAX / 100 ? done * 100 / total : done / (total / 100);
  // Truncated, an unfinished scan never reads 100.
  return static_cast<int>(std::min<uint64_t>(percent, 99));
}

const char* levelWord(uint32_t level) {
  static const char* const kWords[] = {"нет", "низкая", "средняя", "высокая", "критическая"};
  return level < std::size(kWords) ? kWords[level] : "неизвестно";
}

std::string signatureLine(const ServiceView& view) {
  if (view.connected && view.status.signatureCount != 0)
    return formatText("База сигнатур: %llu записей, версия ", static_cast<ull>(view.status.signatureCount)) +
           view.status.databaseVersion;
  return "База сигнатур недоступна — сканирование идёт по эвристикам";
}

std::string lastScanLine(const ipc::ScanSummary& s) {
  return formatText("Файлов: %llu   Угроз: %llu   Подозрительных: %llu   Время: %llu с",
               static_cast<ull>(s.filesScanned), static_cast<ull>(s.threats),
               static_cast<ull>(s.suspicious), static_cast<ull>(s.elapsedMs / 1000));
}

std::string checkedObjectsLine(const ipc::ScanSummary& s) {
  if (s.filesScanned == 0) return {};
  return formatText("Проверено объектов: %llu", static_cast<ull>(s.filesScanned));
}

std::string scanSubtitle(const ServiceView& view) {
  if (view.status.scanRunning) return "Проверка выполняется, не выключайте компьютер";
  return view.summary.cancelled ? "Проверка остановлена" : "Проверка завершена";
}

std::string scanCountsLine(const ipc::ScanProgress& p) {
  return formatText("Проверено %llu из %llu объектов   Объём: ", static_cast<ull>(p.filesDone),
               static_cast<ull>(p.filesTotal)) +
         formatSize(p.bytesDone);
}

Line scanResultLine(const ServiceView& view) {
  if (view.status.scanRunning || view.summary.filesScanned == 0) return {};
  return {formatText("Найдено угроз: %llu, подозрительных файлов: %llu", static_cast<ull>(view.summary.threats),
                static_cast<ull>(view.summary.suspicious)),
          view.summary.threats != 0 ? Tone::Warning : Tone::Good};
}

std::string quarantineCountLine(size_t entries) {
  return formatText("В изоляции: %zu объект(ов)", entries);
}

std::string databaseLine(const ServiceView& view) {
  return formatText("Записей в базе: %llu   Версия: ", static_cast<ull>(view.status.signatureCount)) +
         view.status.databaseVersion;
}

Line liveUpdateLine(const ServiceView& view) {
  if (view.status.liveUpdateRunning) return {"Обновление базы из интернета выполняется…", Tone::Secondary};
  if (!view.status.liveUpdateError.empty())
    return {"Обновление не удалось: " + view.status.liveUpdateError, Tone::Warning};
  // The settings copy is loaded once per connection; hello carries the time of an update made
  // since, so the later of the two is the last one.
  const uint64_t last = std::max(view.settings.lastLiveUpdateUtc, view.status.lastLiveUpdateUtc);
  return {"Обновление базы: " + formatLocalDateTime(last), Tone::Secondary};
}

Line selfUpdateLine(const ServiceView& view) {
  if (view.status.selfUpdateRunning) return {"Проверка обновлений программы выполняется…", Tone::Secondary};
  if (!view.status.selfUpdateError.empty())
    return {"Обновление программы: " + view.status.selfUpdateError, Tone::Secondary};
  if (!view.status.installerPath.empty())
    return {"Установщик обновления скачан — нажмите «Установить обновление»", Tone::Secondary};
  return {std::string("Программа актуальна (версия ") + kProgramVersion + ")", Tone::Secondary};
}

const char* programUpdateLabel(const ServiceView& view) {
  return view.status.installerPath.empty() ? "Обновить программу" : "Установить обновление";
}

Line firewallStatusLine(const ServiceView& view) {
  if (!view.connected) return {"Служба не отвечает — изменения недоступны.", Tone::Warning};
  if (!view.firewallError.empty()) return {view.firewallError, Tone::Warning};
  if (view.firewall.allProfilesOn())
    return {"Брандмауэр включён во всех профилях (домен, частный, публичный).", Tone::Secondary};
  return {"Брандмауэр выключен хотя бы в одном профиле.", Tone::Secondary};
}

std::string firewallRulesTitle(const ServiceView& view) {
  return formatText("Правила для программ (%zu)", view.firewall.rules.size());
}

std::string threatFactsLine(const ipc::ThreatRecord& threat) {
  return std::string("Уровень: ") + levelWord(threat.level) + "   Размер: " + formatSize(threat.size);
}

std::vector<std::string> threatDetails(const ipc::ThreatRecord& threat) {
  // The progress reply carries no reason lines; everything the record does carry is listed,
  // what the dialog does not show above the panel first, since the panel may fit only a few.
  std::vector<std::string> lines;
  if (!threat.secondText.empty()) lines.push_back("Правило: " + threat.secondText);
  lines.push_back(formatText("Размер: %llu байт", static_cast<ull>(threat.size)));
  lines.push_back("Угроза: " + threat.threatName);
  lines.push_back(std::string("Уровень опасности: ") + levelWord(threat.level));
  lines.push_back("Файл: " + toUtf8(threat.path));
  return lines;
}

}  // namespace zorvek::gui
