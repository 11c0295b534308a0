// The self-update check: the release description reader, the checks on what the server sends,
// and the download into the updates folder, against a local HTTP server; then the engine's
// one-shot run of it.

#include "service/net/SelfUpdate.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestHttpServer.h"
#include "TestUtil.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "service/engine/EngineAccess.h"
#include "service/engine/ScanWorker.h"
#include "tests/service/engine/Gate.h"

namespace zorvek::svc {
namespace {

std::string installerBytes(size_t size, const char* start = "MZ") {
  std::string bytes(size, '\x90');
  bytes.replace(0, 2, start, 2);
  return bytes;
}

std::string sha256Of(const std::string& bytes) {
  hash::Sha256 sha;
  sha.update(bytes.data(), bytes.size());
  return sha.finalDigest();
}

std::string releases(const std::string& version, const std::string& url,
                     const std::string& extra = "") {
  return R"({"windows": {"version": ")" + version + R"(", "url": ")" + url + "\"" + extra + "}}";
}

TEST(JsonStringValueTest, ReadsTheValueAfterTheQuotedKey) {
  const struct {
    const char* text;
    const char* key;
    bool found;
    std::string value;
  } cases[] = {
      {R"({"version": "1.3.0"})", "version", true, "1.3.0"},
      {R"({"version":"a\"b"})", "version", true, "a\"b"},
      {R"({"url":"C:\\x\n"})", "url", true, "C:\\xn"},  // no escape decoding beyond "take next"
      {R"({"version" : 13, "x": "y"})", "version", true, "x"},  // whatever quote comes next
      {R"({"version": ""})", "version", true, ""},
      {R"({"versions": "1"})", "version", false, ""},
      {R"({"version" "1"})", "version", false, ""},
      {R"({"version": "1.3)", "version", false, ""},
      {R"({"version": "1.3\")", "version", false, ""},
      {R"({"version": "1.3\)", "version", false, ""},
      {"", "version", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string value = "untouched";
    EXPECT_EQ(jsonStringValue(c.text, c.key, &value), c.found);
    EXPECT_EQ(value, c.found ? c.value : "untouched");
  }
}

TEST(ReadWindowsReleaseTest, CutsTheWindowsSectionAndChecksItsFields) {
  const struct {
    const char* what;
    std::string body;
    const char* error;  // empty: read
    const char* version;
    const char* url;
  } cases[] = {
      {"plain", releases("1.3.0", "http://h/s.exe"), "", "1.3.0", "http://h/s.exe"},
      {"android after windows ends the section",
       R"({"windows":{"version":"2"},"android":{"version":"9","url":"http://a"}})",
       "в секции windows нет version/url", "", ""},
      {"android first: windows runs to the end",
       R"({"android":{"version":"9","url":"a"},"windows":{"version":"2","url":"w"}})", "", "2",
       "w"},
      {"no windows section", R"({"android":{"version":"9","url":"a"}})",
       "в releases.json нет секции windows", "", ""},
      {"shorter than the key", "windows", "в releases.json нет секции windows", "", ""},
      {"url missing", R"({"windows":{"version":"2"}})", "в секции windows нет version/url", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WindowsRelease release;
    std::string error;
    EXPECT_EQ(readWindowsRelease(c.body, release, &error), *c.error == 0);
    EXPECT_EQ(error, c.error);
    if (!*c.error) {
      EXPECT_EQ(release.version, c.version);
      EXPECT_EQ(release.url, c.url);
    }
  }
}

TEST(CheckReleaseTest, OnlyPlainVersionsAndWellFormedDigestsPass) {
  const std::string digest(64, 'a');
  const struct {
    std::string version;
    bool hasSha256;
    std::string sha256;
    std::string error;  // empty: accepted
  } cases[] = {
      {"1.3.0-beta_2", false, "", ""},
      {std::string(64, '9'), false, "", ""},
      {std::string(65, '9'), false, "", "недопустимая версия в releases.json: " + std::string(65, '9')},
      {"", false, "", "недопустимая версия в releases.json: "},
      {"../../../Windows/x", false, "", "недопустимая версия в releases.json: ../../../Windows/x"},
      {"..\\..\\x", false, "", "недопустимая версия в releases.json: ..\\..\\x"},
      {"1.3\"0", false, "", "недопустимая версия в releases.json: 1.3\"0"},
      {"1.3:stream", false, "", "недопустимая версия в releases.json: 1.3:stream"},
      {"1.3 0", false, "", "недопустимая версия в releases.json: 1.3 0"},
      {"1.3\xC3\xA9", false, "", "недопустимая версия в releases.json: 1.3\xC3\xA9"},
      {"1.3.0", true, std::string(64, 'A'), ""},
      {"1.3.0", true, digest.substr(1), "недопустимая контрольная сумма в releases.json: " + digest.substr(1)},
      {"1.3.0", true, digest.substr(1) + "g", "недопустимая контрольная сумма в releases.json: " + digest.substr(1) + "g"},
      {"1.3.0", true, "", "недопустимая контрольная сумма в releases.json: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version + " " + c.sha256);
    WindowsRelease release{c.version, "http://h/x.exe", c.hasSha256, c.sha256};
    std::string error;
    EXPECT_EQ(checkRelease(release, &error), c.error.empty());
    EXPECT_EQ(error, c.error);
    if (c.error.empty() && c.hasSha256) {
      EXPECT_EQ(release.sha256, std::string(64, 'a'));
    }
  }
}

class FakeEngine : public SelfUpdateAccess {
 public:
  explicit FakeEngine(std::wstring data) : data_(std::move(data)) {}
  ServiceConfig snapshotConfig() const override { return config; }
  const std::wstring& dataFolder() const override { return data_; }
  void setDownloadedInstaller(const std::wstring& path) override { installer = path; }
  bool stopping() const override { return false; }

  ServiceConfig config;
  std::wstring installer = L"earlier";

 private:
  std::wstring data_;
};

class CheckForUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Logger::instance().open(dir_.file(L"zorvek.log"));
    engine_.config.updateServer = server_.url("//");
  }
  void TearDown() override { Logger::instance().close(); }

  std::wstring updates(const std::wstring& name = L"") const {
    const std::wstring folder = dir_.file(L"updates");
    return name.empty() ? folder : folder + pathSeparator() + name;
  }
  std::string log() {
    Logger::instance().close();
    return test::readFile(dir_.file(L"zorvek.log"));
  }
  bool run(std::string* error, const SelfUpdateOptions& options = {}) {
    *error = "stale";
    return checkForUpdate(engine_, error, options);
  }

  test::TempDir dir_;
  std::string releases_;
  int releasesStatus_ = 200, installerStatus_ = 200;
  std::string installer_ = installerBytes(kMinInstallerBytes);
  test::TestHttpServer server_{[this](const std::string& target) {
    if (target == "/api/v1/releases") return test::HttpReply{releasesStatus_, releases_};
    if (target == "/files/setup.exe") return test::HttpReply{installerStatus_, installer_};
    return test::HttpReply{404, ""};
  }};
  std::string installerUrl_ = server_.url("/files/setup.exe");
  FakeEngine engine_{pathToWide(dir_.path())};
};

TEST_F(CheckForUpdateTest, OutcomesOfOneCheck) {
  const std::string big = installerBytes(kMinInstallerBytes + 12345);
  const struct {
    const char* what;
    int releasesStatus;
    std::string releases;
    int installerStatus;
    std::string installer;
    std::string error;          // empty: success
    const wchar_t* saved;       // the file offered afterwards, "" none
    const char* logLine;
    size_t requests;            // releases, then the installer
  } cases[] = {
      {"same version: nothing to do", 200, releases("1.2.0", installerUrl_), 200, big, "", L"", "", 1},
      {"newer version", 200, releases("1.3.0", installerUrl_), 200, big, "", L"ZorvekSetup-1.3.0.exe",
       "self update: installer 1.3.0 saved to updates (releases.json gives no sha256: digest not "
       "checked)\n", 2},
      {"older version is offered too", 200, releases("1.1.9", installerUrl_), 200, big, "",
       L"ZorvekSetup-1.1.9.exe", "installer 1.1.9 saved", 2},
      {"smallest installer", 200, releases("1.3.0", installerUrl_), 200,
       installerBytes(kMinInstallerBytes), "", L"ZorvekSetup-1.3.0.exe", "saved to updates", 2},
      {"one byte short", 200, releases("1.3.0", installerUrl_), 200,
       installerBytes(kMinInstallerBytes - 1), "по ссылке не похоже на Windows-установщик", L"", "", 2},
      {"not MZ", 200, releases("1.3.0", installerUrl_), 200, installerBytes(100000, "ZM"),
       "по ссылке не похоже на Windows-установщик", L"", "", 2},
      {"digest matches", 200, releases("1.3.0", installerUrl_, ", \"sha256\": \"" + sha256Of(big) + "\""),
       200, big, "", L"ZorvekSetup-1.3.0.exe", "saved to updates (sha256 checked)\n", 2},
      {"digest differs", 200,
       releases("1.3.0", installerUrl_, ", \"sha256\": \"" + sha256Of(big + "x") + "\""), 200, big,
       "контрольная сумма установщика не совпала", L"", "", 2},
      {"releases fail", 500, "", 200, big, "http status 500", L"", "", 1},
      {"installer fails", 200, releases("1.3.0", installerUrl_), 404, big,
       "загрузка установщика: http status 404", L"", "", 2},
      {"hostile version", 200, releases("..\\\\..\\\\evil", installerUrl_), 200, big,
       "недопустимая версия в releases.json: ..\\..\\evil", L"", "", 1},
      {"escaped quote in the version", 200, releases("1.3\\\"0", installerUrl_), 200, big,
       "недопустимая версия в releases.json: 1.3\"0", L"", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    Logger::instance().open(dir.file(L"zorvek.log"));
    FakeEngine engine(dir.file(L"data"));
    engine.config.updateServer = engine_.config.updateServer;
    releasesStatus_ = c.releasesStatus;
    releases_ = c.releases;
    installerStatus_ = c.installerStatus;
    installer_ = c.installer;
    const size_t requestsBefore = server_.requests().size();

    std::string error = "stale";
    EXPECT_EQ(checkForUpdate(engine, &error), c.error.empty());
    EXPECT_EQ(error, c.error);
    const std::wstring folder = dir.file(L"data") + pathSeparator() + L"updates";
    if (*c.saved) {
      const std::wstring path = folder + pathSeparator() + c.saved;
      EXPECT_EQ(engine.installer, path);
      EXPECT_TRUE(test::readFile(path) == c.installer);
      EXPECT_FALSE(pathExists(path + L".tmp"));
    } else {
      // Success without a download clears what was offered; a failure leaves it to the engine,
      // which cleared it when it accepted the request.
      EXPECT_EQ(engine.installer, c.error.empty() ? L"" : L"earlier");
      EXPECT_FALSE(pathExists(folder + pathSeparator() + L"ZorvekSetup-1.3.0.exe"));
      EXPECT_FALSE(pathExists(folder + pathSeparator() + L"ZorvekSetup-1.3.0.exe.tmp"));
    }
    Logger::instance().close();
    const std::string text = test::readFile(dir.file(L"zorvek.log"));
    if (*c.logLine) {
      EXPECT_NE(text.find(c.logLine), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find("self update"), std::string::npos) << text;
    }
    // Nothing is fetched for a release that is current or refused before the download.
    EXPECT_EQ(server_.requests().size(), requestsBefore + c.requests);
  }
}

TEST_F(CheckForUpdateTest, NoServerConfigured) {
  engine_.config.updateServer.clear();
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_EQ(error, "не задан сервер обновлений (строка UpdateServer в settings.ini)");
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(CheckForUpdateTest, ASecondDownloadOfTheSameVersionReplacesTheFirst) {
  releases_ = releases("1.3.0", installerUrl_);
  std::string error;
  ASSERT_TRUE(run(&error)) << error;
  const std::wstring path = updates(L"ZorvekSetup-1.3.0.exe");
  installer_ = installerBytes(kMinInstallerBytes + 1);
  ASSERT_TRUE(run(&error)) << error;
  EXPECT_TRUE(test::readFile(path) == installer_);
  EXPECT_EQ(engine_.installer, path);
}

TEST_F(CheckForUpdateTest, FailedSavesKeepTheEarlierDownloadAndLeaveNoTemporary) {
  releases_ = releases("1.3.0", installerUrl_);
  const std::wstring path = updates(L"ZorvekSetup-1.3.0.exe");
  const std::string earlier = "an earlier download";
  ASSERT_TRUE(createDirectories(updates()));
  installer_ = installerBytes(3 << 20);  // several write pieces

  const struct {
    const char* what;
    uint64_t failAt;
  } faults[] = {{"first write", 0}, {"a later write", 2 << 20}};
  for (const auto& f : faults) {
    SCOPED_TRACE(f.what);
    test::writeFile(path, earlier);
    SelfUpdateOptions options;
    options.writeFault = [&](uint64_t offset) { return offset < f.failAt; };
    std::string error;
    EXPECT_FALSE(run(&error, options));
    EXPECT_EQ(error, "не удалось записать " + toUtf8(path + L".tmp"));
    EXPECT_EQ(test::readFile(path), earlier);
    EXPECT_FALSE(pathExists(path + L".tmp"));
    EXPECT_EQ(engine_.installer, L"earlier");
  }

  // The final name is taken by a folder that cannot be replaced.
  ASSERT_TRUE(removeFile(path));
  ASSERT_TRUE(createDirectories(path + pathSeparator() + L"inside"));
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_EQ(error.rfind("не удалось сохранить установщик, win32=", 0), 0u) << error;
  EXPECT_NE(error, "не удалось сохранить установщик, win32=0");
  EXPECT_FALSE(pathExists(path + L".tmp"));
  EXPECT_TRUE(pathExists(path + pathSeparator() + L"inside"));
}

TEST_F(CheckForUpdateTest, AnUpdatesFolderThatCannotBeCreatedFailsTheWrite) {
  releases_ = releases("1.3.0", installerUrl_);
  test::writeFile(updates(), "a file where the folder belongs");
  std::string error;
  EXPECT_FALSE(run(&error));
  EXPECT_EQ(error, "не удалось записать " + toUtf8(updates(L"ZorvekSetup-1.3.0.exe.tmp")));
  EXPECT_EQ(test::readFile(updates()), "a file where the folder belongs");
}

TEST_F(CheckForUpdateTest, LinksPlantedInUpdatesRedirectNothing) {
  namespace fs = std::filesystem;
  releases_ = releases("1.3.0", installerUrl_);
  const fs::path elsewhere = dir_.path() / "elsewhere", victim = dir_.path() / "victim.exe";
  const fs::path folder = toPath(updates());
  const struct {
    const char* what;
    fs::path link;  // made a link to `elsewhere` (a folder) or `victim` (a file)
    bool toFolder;
  } cases[] = {
      {"updates is a link to another folder", folder, true},
      {"the temporary name is a link", folder / "ZorvekSetup-1.3.0.exe.tmp", false},
      {"the final name is a link", folder / "ZorvekSetup-1.3.0.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(folder);
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    test::writeFile(pathToWide(victim), "precious");
    if (!c.toFolder) fs::create_directories(folder);
    std::error_code ec;
    if (c.toFolder) {
      fs::create_directory_symlink(elsewhere, c.link, ec);
    } else {
      fs::create_symlink(victim, c.link, ec);
    }
    if (ec || !fs::is_symlink(fs::symlink_status(c.link)))
      GTEST_SKIP() << "symbolic links cannot be made here: " << ec.message();
    engine_.installer = L"earlier";

    std::string error;
    const bool ok = run(&error);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(test::readFile(pathToWide(victim)), "precious");
    if (c.toFolder) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, "не удалось записать " + toUtf8(updates(L"ZorvekSetup-1.3.0.exe.tmp")));
      EXPECT_EQ(engine_.installer, L"earlier");
      EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder)));
    } else {
      // The link itself is replaced by the download.
      ASSERT_TRUE(ok) << error;
      const fs::path saved = folder / "ZorvekSetup-1.3.0.exe";
      EXPECT_FALSE(fs::is_symlink(fs::symlink_status(saved)));
      EXPECT_TRUE(test::readFile(pathToWide(saved)) == installer_);
      EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "ZorvekSetup-1.3.0.exe.tmp")));
    }
  }
}

TEST_F(CheckForUpdateTest, AReadOnlyEarlierDownloadIsReplaced) {
  namespace fs = std::filesystem;
  releases_ = releases("1.3.0", installerUrl_);
  ASSERT_TRUE(createDirectories(updates()));
  const std::wstring path = updates(L"ZorvekSetup-1.3.0.exe");
  test::writeFile(path, "earlier");
  fs::permissions(toPath(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  std::string error;
  ASSERT_TRUE(run(&error)) << error;
  EXPECT_TRUE(test::readFile(path) == installer_);
}

class SelfUpdateEngineTest : public CheckForUpdateTest {
 protected:
  void SetUp() override {
    CheckForUpdateTest::SetUp();
    ServiceConfig c;
    c.signatureDb = dir_.file(L"main.db");
    c.quarantineDir = dir_.file(L"Quarantine");
    c.scheduledScan = false;
    c.liveUpdates = false;
    c.updateServer = server_.url("");
    ASSERT_TRUE(c.save(dir_.file(L"settings.ini")));
    test::writeFile(c.signatureDb, "ZORVEKDB/1\n");
    EngineOptions options;
    options.dataFolder = pathToWide(dir_.path());
    options.hooks.selfUpdate = [](SelfUpdateAccess& e, std::string* error) {
      return checkForUpdate(e, error);
    };
    worker_ = std::make_unique<ScanWorker>(std::move(options));
    std::string error;
    ASSERT_TRUE(worker_->init(&error)) << error;
    ASSERT_TRUE(worker_->start(&error)) << error;
  }
  void TearDown() override {
    gate_.open();
    worker_.reset();
    CheckForUpdateTest::TearDown();
  }
  bool runOnce() {
    std::string error;
    EXPECT_TRUE(worker_->startSelfUpdate(&error)) << error;
    return test::waitUntil([&] { return !worker_->selfUpdateRunning(); });
  }

  test::Gate gate_;
  std::unique_ptr<ScanWorker> worker_;
};

TEST_F(SelfUpdateEngineTest, OneRunAtATimeAndTheOfferFollowsTheLatestCheck) {
  // The installer download waits at the gate: a second request meanwhile is refused.
  test::TestHttpServer slow([&](const std::string&) {
    gate_.wait();
    return test::HttpReply{200, installer_};
  });
  releases_ = releases("1.3.0", slow.url("/setup.exe"));
  std::string error;
  ASSERT_TRUE(worker_->startSelfUpdate(&error)) << error;
  ASSERT_TRUE(test::waitUntil([&] { return !slow.requests().empty(); }));
  EXPECT_FALSE(worker_->startSelfUpdate(&error));
  EXPECT_EQ(error, "обновление уже выполняется");
  gate_.open();
  ASSERT_TRUE(test::waitUntil([&] { return !worker_->selfUpdateRunning(); }));
  EXPECT_EQ(worker_->lastSelfUpdateError(), "");
  EXPECT_EQ(worker_->downloadedInstaller(), updates(L"ZorvekSetup-1.3.0.exe"));

  // A failure shows its error and offers nothing; the file of the earlier run stays.
  releases_ = releases("1.4.0", installerUrl_, ", \"sha256\": \"" + std::string(64, '0') + "\"");
  ASSERT_TRUE(runOnce());
  EXPECT_EQ(worker_->lastSelfUpdateError(), "контрольная сумма установщика не совпала");
  EXPECT_EQ(worker_->downloadedInstaller(), L"");
  EXPECT_TRUE(pathExists(updates(L"ZorvekSetup-1.3.0.exe")));
  EXPECT_FALSE(pathExists(updates(L"ZorvekSetup-1.4.0.exe")));

  releases_ = releases("1.3.0", installerUrl_);
  ASSERT_TRUE(runOnce());
  EXPECT_EQ(worker_->downloadedInstaller(), updates(L"ZorvekSetup-1.3.0.exe"));
  // Once the server's version is ours, nothing is offered any more.
  releases_ = releases("1.2.0", installerUrl_);
  ASSERT_TRUE(runOnce());
  EXPECT_EQ(worker_->lastSelfUpdateError(), "");
  EXPECT_EQ(worker_->downloadedInstaller(), L"");
}

}  // namespace
}  // namespace zorvek::svc
