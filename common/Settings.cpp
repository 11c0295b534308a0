#include "common/Settings.h"

#include "common/Text.h"

namespace zorvek {

std::string settingText(bool value) { return value ? "1" : "0"; }
std::string settingText(uint64_t value) { return std::to_string(value); }
std::string settingText(const std::wstring& value) { return toUtf8(value); }
std::string settingText(const std::string& value) { return value; }

void assignWireSettings(const Settings& from, Settings& to) {
  forEachSetting([&](const auto& field) {
    if (field.onWire) to.*field.member = from.*field.member;
  });
}

}  // namespace zorvek
