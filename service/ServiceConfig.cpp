#include "service/ServiceConfig.h"

#include <cstdlib>
#include <stdexcept>

#include "common/DataPaths.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

bool parseBool(std::string_view value) { return value == "1" || value == "true"; }

}  // namespace

ServiceConfig::ServiceConfig()
    : signatureDb(seedDatabasePath()), quarantineDir(defaultQuarantineFolder()) {}

bool operator==(const ServiceConfig& a, const ServiceConfig& b) {
  return a.protectionEnabled == b.protectionEnabled && a.realTimeEnabled == b.realTimeEnabled &&
         a.scanArchives == b.scanArchives && a.scanRemovable == b.scanRemovable &&
         a.showThreatModal == b.showThreatModal && a.quarantineOnDetect == b.quarantineOnDetect &&
         a.scheduledScan == b.scheduledScan && a.scheduledHour == b.scheduledHour &&
         a.lastScanUtc == b.lastScanUtc && a.lastThreatCount == b.lastThreatCount &&
         a.liveUpdates == b.liveUpdates && a.lastLiveUpdateUtc == b.lastLiveUpdateUtc &&
         a.webShield == b.webShield && a.updateServer == b.updateServer &&
         a.signatureDb == b.signatureDb && a.quarantineDir == b.quarantineDir;
}

uint32_t parseStoul32(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digitsStart = i;
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (i == digitsStart) throw std::invalid_argument("invalid stoul argument");
  if (overflow) throw std::out_of_range("stoul argument out of range");
  return negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value))
                  : static_cast<uint32_t>(value);
}

void ServiceConfig::parse(std::string_view text) {
  forEachLine(text, [&](std::string_view line) {
    // Files saved by Windows editors end their lines with CR LF; a kept CR would turn every
    // switch off.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    if (line.empty() || eq == std::string_view::npos) return;
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    if (key == "ProtectionEnabled") protectionEnabled = parseBool(value);
    else if (key == "RealTimeEnabled") realTimeEnabled = parseBool(value);
    else if (key == "ScanArchives") scanArchives = parseBool(value);
    else if (key == "ScanRemovable") scanRemovable = parseBool(value);
    else if (key == "ShowThreatModal") showThreatModal = parseBool(value);
    else if (key == "QuarantineOnDetect") quarantineOnDetect = parseBool(value);
    else if (key == "ScheduledScan") scheduledScan = parseBool(value);
    else if (key == "ScheduledHour") scheduledHour = parseStoul32(value) % 24;
    else if (key == "LastScanUtc") lastScanUtc = parseLooseDecimal(value);
    else if (key == "LastThreatCount") lastThreatCount = parseLooseDecimal(value);
    else if (key == "LiveUpdates") liveUpdates = parseBool(value);
    else if (key == "LastLiveUpdateUtc") lastLiveUpdateUtc = parseLooseDecimal(value);
    else if (key == "WebShield") webShield = parseBool(value);
    else if (key == "UpdateServer") updateServer = std::string(value);
    else if (key == "SignatureDb") signatureDb = toWide(value);
    else if (key == "QuarantineDir") quarantineDir = toWide(value);
  });
}

bool ServiceConfig::load(const std::wstring& path, std::string* error) {
  std::string text;
  if (!readWholeFile(path, text, error)) return false;
  parse(text);
  return true;
}

std::string ServiceConfig::serialize() const {
  const auto flag = [](bool b) { return b ? "1\n" : "0\n"; };
  std::string out = "# Zorvek Antivirus settings\n";
  out += std::string("ProtectionEnabled=") + flag(protectionEnabled);
  out += std::string("RealTimeEnabled=") + flag(realTimeEnabled);
  out += std::string("ScanArchives=") + flag(scanArchives);
  out += std::string("ScanRemovable=") + flag(scanRemovable);
  out += std::string("ShowThreatModal=") + flag(showThreatModal);
  out += std::string("QuarantineOnDetect=") + flag(quarantineOnDetect);
  out += std::string("ScheduledScan=") + flag(scheduledScan);
  out += "ScheduledHour=" + std::to_string(scheduledHour) + "\n";
  out += "LastScanUtc=" + std::to_string(lastScanUtc) + "\n";
  out += "LastThreatCount=" + std::to_string(lastThreatCount) + "\n";
  out += "SignatureDb=" + singleLine(toUtf8(signatureDb)) + "\n";
  out += "QuarantineDir=" + singleLine(toUtf8(quarantineDir)) + "\n";
  out += std::string("LiveUpdates=") + flag(liveUpdates);
  out += "LastLiveUpdateUtc=" + std::to_string(lastLiveUpdateUtc) + "\n";
  out += std::string("WebShield=") + flag(webShield);
  out += "UpdateServer=" + singleLine(updateServer) + "\n";
  return out;
}

bool ServiceConfig::save(const std::wstring& path, std::string* error) const {
  return writeFileAtomically(path, serialize(), error);
}

}  // namespace zorvek
