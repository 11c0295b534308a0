#pragma once
// What the pages and the threat dialog say about the service: the emblem's state, the scan's
// percentage, level words and the status lines, each with the tone it is drawn in. Texts are
// UTF-8; the window converts them once when it draws.

#include <cstdint>
#include <string>

#include "gui/model/ServiceView.h"

namespace zorvek::gui {

// The program's own version, shown by the Settings page.
inline constexpr char kProgramVersion[] = "1.2.0";

// The states of the status emblem; its colours and labels live with the drawing.
enum class EmblemState : int { Protected = 0, Scanning = 1, Threat = 2, Off = 3, ServiceDown = 4 };
EmblemState overviewEmblem(const ServiceView& view);

// The filled share of the progress bar: done / total as a whole percent, clamped to 0-100, 0
// when the total is 0.
int scanPercent(const ipc::ScanProgress& progress);

// "нет", "низкая", "средняя", "высокая", "критическая"; any other level "неизвестно".
const char* levelWord(uint32_t level);

enum class Tone { Body, Secondary, Warning, Good };
struct Line {
  std::string text;
  Tone tone = Tone::Secondary;
  bool operator==(const Line&) const = default;
};

// Overview.
std::string signatureLine(const ServiceView& view);
std::string lastScanLine(const ipc::ScanSummary& summary);
std::string checkedObjectsLine(const ipc::ScanSummary& summary);

// Scan page.
std::string scanSubtitle(const ServiceView& view);
std::string scanCountsLine(const ipc::ScanProgress& progress);
// Empty text when there is no result to show (a scan runs, or none has scanned a file).
Line scanResultLine(const ServiceView& view);

// Quarantine page.
std::string quarantineCountLine(size_t entries);

// Settings page.
std::string databaseLine(const ServiceView& view);
Line liveUpdateLine(const ServiceView& view);
Line selfUpdateLine(const ServiceView& view);
// The label of the program-update button.
const char* programUpdateLabel(const ServiceView& view);

// Firewall page.
Line firewallStatusLine(const ServiceView& view);
std::string firewallRulesTitle(const ServiceView& view);

// The threat dialog's "Уровень: ...   Размер: ..." line and its details panel.
std::string threatFactsLine(const ipc::ThreatRecord& threat);
std::vector<std::string> threatDetails(const ipc::ThreatRecord& threat);

}  // namespace zorvek::gui
