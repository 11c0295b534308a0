#include "service/engine/SettingsStore.h"

#include "common/Logger.h"

namespace zorvek::svc {

SettingsStore::SettingsStore(std::wstring path, ServiceConfig initial)
    : path_(std::move(path)), config_(std::move(initial)) {}

void SettingsStore::load(ServiceConfig defaults) {
  // A malformed ScheduledHour throws here, before the store counts as loaded: a later save would
  // otherwise overwrite the user's file with defaults.
  if (!defaults.load(path_)) {
    logWarning("config not found, using defaults");
    defaults.save(path_);
  }
  std::lock_guard lock(mutex_);
  config_ = std::move(defaults);
  loaded_ = true;
}

bool SettingsStore::loaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

ServiceConfig SettingsStore::copy() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void SettingsStore::update(const std::function<void(ServiceConfig&)>& change) {
  std::lock_guard lock(mutex_);
  change(config_);
}

ServiceConfig SettingsStore::replace(ServiceConfig next) {
  std::lock_guard lock(mutex_);
  if (next.signatureDb.empty()) next.signatureDb = config_.signatureDb;
  if (next.quarantineDir.empty()) next.quarantineDir = config_.quarantineDir;
  next.updateServer = config_.updateServer;
  std::swap(config_, next);
  return next;
}

bool SettingsStore::save(std::string* error) const {
  std::lock_guard writer(saveMutex_);
  return copy().save(path_, error);
}

}  // namespace zorvek::svc
