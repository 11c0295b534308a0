#include "common/ServiceConfig.h"

#include <cstdlib>
#include <stdexcept>

#include "common/DataPaths.h"
#include "common/Text.h"
#include "common/platform/File.h"

namespace zorvek {
namespace {

bool parseBool(std::string_view value) { return value == "1" || value == "true"; }

template <typename Field>
void readSetting(const Field&, std::string_view value, typename Field::Value& out) {
  constexpr SettingKind kind = Field::kind;
  if constexpr (kind == SettingKind::Flag) out = parseBool(value);
  else if constexpr (kind == SettingKind::Hour) out = parseStoul32(value) % 24;
  else if constexpr (kind == SettingKind::Count) out = parseLooseDecimal(value);
  else if constexpr (kind == SettingKind::Path) out = toWide(value);
  else out = std::string(value);
}

}  // namespace

ServiceConfig::ServiceConfig() {
  signatureDb = seedDatabasePath();
  quarantineDir = defaultQuarantineFolder();
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
    forEachSetting([&](const auto& field) {
      if (key == field.key) readSetting(field, value, this->*field.member);
    });
  });
}

bool ServiceConfig::load(const std::wstring& path, std::string* error) {
  std::string text;
  if (!readWholeFile(path, text, error)) return false;
  parse(text);
  return true;
}

std::string ServiceConfig::serialize() const {
  std::string out = "# Zorvek Antivirus settings\n";
  forEachSetting([&](const auto& field) {
    out += field.key;
    out += '=';
    out += singleLine(settingText(this->*field.member));
    out += '\n';
  });
  return out;
}

bool ServiceConfig::save(const std::wstring& path, std::string* error) const {
  // Owner-only: the paths in it are the service's business.
  return writeFileAtomically(path, serialize(), error, Privacy::OwnerOnly);
}

}  // namespace zorvek
