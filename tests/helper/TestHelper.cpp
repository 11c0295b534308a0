// A second process for the tests: appends to a shared log, or saves files in a loop until it is
// killed, so the tests can check what concurrent writers and interrupted saves leave behind.

#include <string>
#include <vector>

#include "common/Logger.h"
#include "common/ServiceConfig.h"
#include "common/Text.h"
#include "common/entry/ProgramEntry.h"
#include "service/QuarantineStore.h"
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
  if (command == L"crash" && args.size() == 3) {
    openCrashLog(path);
    char text[256];
    formatUnhandledException(text, sizeof text, 0xC0000005u, nullptr, currentThreadId());
    writeCrashRecord(text);
    return 0;
  }
  return 2;
}
