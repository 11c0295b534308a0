#pragma once
// Every setting of the service, listed once. The record below, its equality, the settings.ini
// reader and writer, the GetConfig/SetConfig payload and `zorvekctl config` are all generated
// from ZORVEK_SETTINGS: a new setting is one line there.

#include <cstdint>
#include <string>

namespace zorvek {

// How a setting is stored, read and shown.
enum class SettingKind {
  Flag,   // bool; 1 or 0
  Hour,   // uint32_t hour of the day in UTC, 0-23
  Count,  // uint64_t; times in seconds since 1970 and counters
  Path,   // std::wstring; UTF-8 in settings.ini and on the wire
  Text,   // std::string, raw bytes
};

// kind, member, settings.ini key, default, carried by GetConfig/SetConfig. In settings.ini's
// order, which is the wire order too. The two paths get their defaults from ServiceConfig.
#define ZORVEK_SETTINGS(X)                                        \
  X(Flag, protectionEnabled, "ProtectionEnabled", true, true)     \
  X(Flag, realTimeEnabled, "RealTimeEnabled", true, true)         \
  X(Flag, scanArchives, "ScanArchives", false, true)              \
  X(Flag, scanRemovable, "ScanRemovable", false, true)            \
  X(Flag, showThreatModal, "ShowThreatModal", true, true)         \
  X(Flag, quarantineOnDetect, "QuarantineOnDetect", false, true)  \
  X(Flag, scheduledScan, "ScheduledScan", true, true)             \
  X(Hour, scheduledHour, "ScheduledHour", 4, true)                \
  X(Count, lastScanUtc, "LastScanUtc", 0, true)                   \
  X(Count, lastThreatCount, "LastThreatCount", 0, true)           \
  X(Path, signatureDb, "SignatureDb", {}, true)                   \
  X(Path, quarantineDir, "QuarantineDir", {}, true)               \
  X(Flag, liveUpdates, "LiveUpdates", true, true)                 \
  X(Count, lastLiveUpdateUtc, "LastLiveUpdateUtc", 0, true)       \
  X(Flag, webShield, "WebShield", true, true)                     \
  X(Text, updateServer, "UpdateServer", {}, false)

template <SettingKind K> struct SettingTypeOf;
template <> struct SettingTypeOf<SettingKind::Flag> { using type = bool; };
template <> struct SettingTypeOf<SettingKind::Hour> { using type = uint32_t; };
template <> struct SettingTypeOf<SettingKind::Count> { using type = uint64_t; };
template <> struct SettingTypeOf<SettingKind::Path> { using type = std::wstring; };
template <> struct SettingTypeOf<SettingKind::Text> { using type = std::string; };
template <SettingKind K> using SettingType = typename SettingTypeOf<K>::type;

// The values of every setting with their defaults. Plain data: nothing is computed, so the
// desktop program and the installer can hold one without the service's paths.
struct Settings {
#define ZORVEK_SETTING_MEMBER(kind, member, key, def, wire) \
  SettingType<SettingKind::kind> member = def;
  ZORVEK_SETTINGS(ZORVEK_SETTING_MEMBER)
#undef ZORVEK_SETTING_MEMBER

  bool operator==(const Settings&) const = default;
};

// One row of the table, typed by its kind.
template <SettingKind K>
struct SettingField {
  static constexpr SettingKind kind = K;
  using Value = SettingType<K>;
  const char* key;
  Value Settings::*member;
  bool onWire;
};

// Calls fn(field) for every setting in table order; fn takes any SettingField<K>.
template <typename Fn>
void forEachSetting(Fn&& fn) {
#define ZORVEK_SETTING_VISIT(kind, member, key, def, wire) \
  fn(SettingField<SettingKind::kind>{key, &Settings::member, wire});
  ZORVEK_SETTINGS(ZORVEK_SETTING_VISIT)
#undef ZORVEK_SETTING_VISIT
}

// A value as settings.ini and `zorvekctl config get` write it: 1 or 0, decimal, UTF-8.
std::string settingText(bool value);
std::string settingText(uint64_t value);
std::string settingText(const std::wstring& value);
std::string settingText(const std::string& value);
inline std::string settingText(uint32_t value) { return settingText(uint64_t{value}); }

// Copies the settings that travel on the wire; the others keep `to`'s values.
void assignWireSettings(const Settings& from, Settings& to);

}  // namespace zorvek
