#pragma once
// The engine's settings record and its settings.ini. Readers take copies; nothing holds the lock
// while the file is written.

#include <functional>
#include <mutex>
#include <string>

#include "common/ServiceConfig.h"

namespace zorvek::svc {

class SettingsStore {
 public:
  // Holds `initial` until load(); `path` is the settings.ini the store reads and writes.
  SettingsStore(std::wstring path, ServiceConfig initial);

  // Reads the file over `defaults`; a missing file is logged and written with them. A malformed
  // ScheduledHour throws (ServiceConfig::parse) and leaves the store unloaded and the file alone.
  void load(ServiceConfig defaults);
  // The record came from (or went to) the file: from here on a save keeps the user's values.
  bool loaded() const;

  ServiceConfig copy() const;
  void update(const std::function<void(ServiceConfig&)>& change);
  // A client's whole record: empty paths keep the current ones, and the update server, which
  // clients cannot carry, always stays. Returns the record it replaced.
  ServiceConfig replace(ServiceConfig next);

  // Writes a copy taken now. Saves are serialised so that the file never goes back to an older
  // copy than one already written.
  bool save(std::string* error = nullptr) const;
  const std::wstring& path() const { return path_; }

 private:
  const std::wstring path_;
  mutable std::mutex mutex_;  // config_, loaded_
  ServiceConfig config_;
  bool loaded_ = false;
  mutable std::mutex saveMutex_;  // one writer at a time; taken before mutex_
};

}  // namespace zorvek::svc
