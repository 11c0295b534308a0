#pragma once
// What each later subsystem may reach of the engine: a narrow view each, never the engine itself.
// The engine hands these to its hooks; tests of a subsystem implement them with fakes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ServiceConfig.h"
#include "service/FileScanner.h"
#include "service/FileVerdict.h"

namespace zorvek::svc {

// Real-time protection: the minifilter port client and the directory watcher.
class RealTimeAccess {
 public:
  // The kernel path's question: false (block) for a file of level high or above, which is also
  // reported. Allows when there is no database or the check fails.
  virtual bool realTimeCheck(const std::wstring& path) = 0;
  // The watcher's detection: queued for the clients and decidable until decided.
  virtual void addRealTimeDetection(const FileVerdict& verdict) = 0;
  // A file scanner over the current database with the engine's options; its shouldScan is the
  // file filter. Null when no database is loaded.
  virtual std::unique_ptr<FileScanner> makeScanner() const = 0;
  // The folders the service itself writes (its data folder, the quarantine). Never watched: the
  // file the engine has just quarantined would come back as a detection nobody can decide on.
  virtual std::vector<std::wstring> serviceFolders() const = 0;
  // Waits up to `ms` or until the engine stops; true when stopping.
  virtual bool waitForStop(uint64_t ms) = 0;
  virtual bool stopping() const = 0;

 protected:
  ~RealTimeAccess() = default;
};

// The live signature update.
class LiveUpdateAccess {
 public:
  virtual ServiceConfig snapshotConfig() const = 0;
  // Where the update writes signatures.live.txt.
  virtual std::wstring liveDatabasePath() const = 0;
  // Loads the main and the live database afresh and swaps them in.
  virtual bool reloadSignatures(std::string* error) = 0;
  // Sets LastLiveUpdateUtc to the engine's current time and saves the settings.
  virtual bool recordLiveUpdate(std::string* error) = 0;
  // The engine's wall clock (milliseconds since 1970 UTC): virtual time in tests.
  virtual uint64_t unixMs() = 0;
  // True once the engine stops: a run in progress gives up rather than hold up the stop.
  virtual bool stopping() const = 0;

 protected:
  ~LiveUpdateAccess() = default;
};

// The self-update check.
class SelfUpdateAccess {
 public:
  virtual ServiceConfig snapshotConfig() const = 0;
  // The data folder; downloads go to its "updates" folder.
  virtual const std::wstring& dataFolder() const = 0;
  // The installer the status reply offers the user ("" when there is none).
  virtual void setDownloadedInstaller(const std::wstring& path) = 0;
  // True once the engine stops: a download in progress gives up.
  virtual bool stopping() const = 0;

 protected:
  ~SelfUpdateAccess() = default;
};

// The web shield.
class WebShieldAccess {
 public:
  virtual ServiceConfig snapshotConfig() const = 0;
  // True once the engine stops: a download in progress gives up.
  virtual bool stopping() const = 0;

 protected:
  ~WebShieldAccess() = default;
};

}  // namespace zorvek::svc
