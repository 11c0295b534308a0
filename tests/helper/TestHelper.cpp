// A second process for the tests: appends to a shared log, or saves files in a loop until it is
// killed, so the tests can check what concurrent writers and interrupted saves leave behind.

#include <string>
#include <vector>

#include "common/Logger.h"
#include "common/ServiceConfig.h"
#include "common/Text.h"
#include "common/entry/ProgramEntry.h"
#include "common/platform/File.h"
#include "service/QuarantineStore.h"
#include "service/net/LiveUpdate.h"
#include "setup/SetupLog.h"
#include "tests/helper/HelperContent.h"

namespace {

unsigned long count(const std::wstring& text) { return std::stoul(zorvek::toUtf8(text)); }

}  // namespace

int zorvekMain(std::vector<std::wstring> args) {
  using namespace zorvek;
  if (args.size() < 3) return 2;
  const std::wstring& command = args[1];
  const std::wstring& path = args[2];
  if (command == L"log" && (args.size() == 5 || args.size() == 6)) {
    // log <file> <tag> <lines> [rotate-at-bytes]
    if (args.size() == 6) Logger::instance().setRotation(count(args[5]));
    Logger::instance().open(path);
    const std::string tag = toUtf8(args[3]);
    for (unsigned long i = 0, n = count(args[4]); i < n; ++i) {
      Logger::instance().write(kLogInfo, test::helperLogMessage(tag, i));
    }
    return Logger::instance().isOpen() ? 0 : 1;
  }
  if (command == L"setup-log" && args.size() == 5) {
    // setup-log <file> <tag> <lines>: the installer's log, one open and close per line.
    for (unsigned long i = 0, n = count(args[4]); i < n; ++i) {
      setup::appendSetupLog(path, args[3] + L" " + std::to_wstring(i));
    }
    return 0;
  }
  if (command == L"save-settings" && args.size() == 4) {
    // save-settings <file> <rounds>: alternates between the two test configurations.
    for (unsigned long i = 0, n = count(args[3]); n == 0 || i < n; ++i) {
      if (!test::helperConfig(i % 2).save(path)) return 1;
    }
    return 0;
  }
  if (command == L"save-quarantine" && args.size() == 4) {
    // save-quarantine <folder> <rounds>
    QuarantineStore store(path);
    for (unsigned long i = 0, n = count(args[3]); n == 0 || i < n; ++i) {
      if (!store.save(test::helperRecords(i % 2))) return 1;
    }
    return 0;
  }
  if (command == L"quarantine-churn" && args.size() == 5) {
    // quarantine-churn <quarantine folder> <source folder> <seed>: adds, restores and deletes
    // until killed, starting as the service does, with recover().
    QuarantineStore store(path);
    if (!store.ensureFolder() || !store.recover()) return 1;
    const std::wstring source = args[3];
    unsigned long state = count(args[4]) * 2654435761u + 1;
    const auto next = [&state] {
      state = state * 1103515245u + 12345u;
      return (state >> 8) & 0xFFFF;
    };
    for (unsigned long i = 0;; ++i) {
      const auto records = store.list();
      const unsigned long r = next();
      if (!records.empty() && r % 3 != 0) {
        const auto& pick = records[r % records.size()];
        if (r % 2) store.restore(pick.id);
        else store.remove(pick.id);
      } else {
        const std::wstring name = L"f-" + args[4] + L"-" + std::to_wstring(i) + L".exe";
        const std::wstring file = source + pathSeparator() + name;
        // The content names the file: the test finds every copy of it afterwards.
        test::writeFileOrFail(file, toUtf8(name) + std::string(r % 50000, 'z'));
        store.add(file, test::helperDigest(i), "Test.Threat", "SIG.MATCH", ThreatLevel::High);
      }
    }
  }
  if (command == L"live-update" && args.size() == 4) {
    // live-update <live database> <rounds>: alternates between the two test feeds.
    const std::string feeds[] = {test::helperLiveFeed(0), test::helperLiveFeed(1)};
    for (unsigned long i = 0, n = count(args[3]); n == 0 || i < n; ++i) {
      svc::LiveUpdateOptions options;
      options.livePath = path;
      options.unixSeconds = [] { return uint64_t(1740789000); };
      options.fetch = [&](const std::string&, std::string* body, std::string*) {
        *body = feeds[i % 2];
        return true;
      };
      if (!svc::fetchLiveSignatures("http://helper.test", nullptr, nullptr, options)) return 1;
    }
    return 0;
  }
  if (command == L"crash" && args.size() == 3) {
    openCrashLog(path);
    char text[256];
    formatUnhandledException(text, sizeof text, 0xC0000005u, nullptr, currentThreadId());
    writeCrashRecord(text);
    return 0;
  }
  return 2;
}
