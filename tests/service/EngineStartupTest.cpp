#include <gtest/gtest.h>

#include <optional>

#include "TestUtil.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/System.h"
#include "service/main/ServiceHost.h"

namespace zorvek::svc {
namespace {

// The run modes own the engine that startEngine hands them; a failed start leaves nothing behind.
TEST(EngineStartupTest, StartHandsOverARunningEngineOrNothingWithTheReason) {
  const struct {
    const char* what;
    std::string settings;  // over the defaults
    std::string error;     // expected prefix; empty: starts
  } cases[] = {
      {"starts", "", ""},
      {"quarantine cannot be created", "QuarantineDir=<plain>/q\n",
       "cannot create quarantine dir: "},
      {"malformed hour", "ScheduledHour=\n", "worker threw: invalid stoul argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const std::wstring data = dir.file(L"data");
    ASSERT_TRUE(createDirectories(data));
    const std::wstring plain = dir.file(L"plain");
    test::writeFile(plain, "a file, not a folder");
    std::string extra = c.settings;
    if (const auto at = extra.find("<plain>"); at != std::string::npos) {
      extra.replace(at, 7, toUtf8(plain));
    }
    const std::wstring settingsPath = data + pathSeparator() + L"settings.ini";
    test::writeFile(settingsPath, "ScheduledScan=0\nWebShield=0\nLiveUpdates=0\n" + extra);
    const std::string before = test::readFile(settingsPath);

    EngineOptions options;
    options.dataFolder = data;
    std::string error;
    std::unique_ptr<ScanWorker> engine = startEngine(&error, options);
    const std::string log = test::readFile(data + pathSeparator() + L"zorvek.log");
    if (c.error.empty()) {
      ASSERT_NE(engine, nullptr) << error;
      EXPECT_FALSE(engine->stopping());
      EXPECT_NE(log.find("[INF] engine: started\n"), std::string::npos);
      stopEngine(engine);
      EXPECT_EQ(engine, nullptr);
      EXPECT_NE(test::readFile(data + pathSeparator() + L"zorvek.log").find("workers stopped"),
                std::string::npos);
    } else {
      EXPECT_EQ(engine, nullptr);
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
      EXPECT_NE(log.find("[ERR] engine: "), std::string::npos);
      // The engine that failed was stopped without writing defaults over the user's file.
      if (c.error.rfind("worker threw", 0) == 0) {
        EXPECT_EQ(test::readFile(settingsPath), before);
      }
    }
    Logger::instance().close();
  }
}

}  // namespace
}  // namespace zorvek::svc
