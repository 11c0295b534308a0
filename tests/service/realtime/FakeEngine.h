#pragma once
// The engine as real-time protection sees it, with a real scanner over a database the test
// builds, and a record of every report.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "common/Hash.h"
#include "common/SignatureDatabase.h"
#include "service/engine/EngineAccess.h"
#include "service/engine/ScanController.h"

namespace zorvek::svc::test {

// Contents the test database knows, by level.
inline const std::string kThreat = zorvek::test::kEicar;
inline const std::string kThreatTwo = "a second, longer sample that the database lists as high";
inline const std::string kSuspicious = "a sample that the database lists as medium";

inline std::string sha256Of(const std::string& bytes) {
  hash::Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.finalDigest();
}

inline std::string databaseText() {
  return "ZORVEKDB/1\nVERSION t1\n" + sha256Of(kThreat) + ":0:Test:high:Test.Eicar:r\n" +
         sha256Of(kThreatTwo) + ":0:Test:high:Test.Two:r\n" + sha256Of(kSuspicious) +
         ":0:Test:medium:Test.Suspicious:r\n";
}

inline std::shared_ptr<const SignatureDatabase> testDatabase() {
  auto db = std::make_shared<SignatureDatabase>();
  db->parse(databaseText(), "test");
  return db;
}

class FakeEngine final : public RealTimeAccess {
 public:
  explicit FakeEngine(bool withDatabase = true)
      : database_(withDatabase ? testDatabase() : nullptr) {}

  bool realTimeCheck(const std::wstring&) override { return true; }
  void addRealTimeDetection(const FileVerdict& verdict) override {
    std::lock_guard lock(mutex_);
    reports_.push_back(verdict);
  }
  std::unique_ptr<FileScanner> makeScanner() const override {
    if (onMakeScanner) onMakeScanner();
    if (!database_) return nullptr;
    return std::make_unique<FileScanner>(database_, engineScannerOptions(ServiceConfig{}));
  }
  std::vector<std::wstring> serviceFolders() const override { return ownFolders; }
  bool waitForStop(uint64_t) override { return stopping(); }
  bool stopping() const override { return stop.load(); }

  std::vector<std::wstring> reportedPaths() {
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> out;
    for (const auto& v : reports_) out.push_back(v.path);
    return out;
  }
  std::vector<FileVerdict> reports() {
    std::lock_guard lock(mutex_);
    return reports_;
  }

  std::atomic<bool> stop{false};
  std::function<void()> onMakeScanner;  // set before the watcher starts
  std::vector<std::wstring> ownFolders;  // the service's folders, never watched

 private:
  std::shared_ptr<const SignatureDatabase> database_;
  std::mutex mutex_;
  std::vector<FileVerdict> reports_;
};

}  // namespace zorvek::svc::test
