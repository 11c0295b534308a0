// The service acts for a client with the client's rights: the scan thread's file-system identity,
// and decisions only on files the client could delete itself. These need root to switch users.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>

#include "TestUtil.h"
#include "service/engine/Gate.h"
#include "common/Text.h"
#include "common/platform/ClientIdentity.h"
#include "common/platform/File.h"
#include "common/platform/Folder.h"
#include "common/platform/Pipe.h"
#include "common/Hash.h"
#include "common/Logger.h"
#include "common/ServiceConfig.h"
#include "service/QuarantineStore.h"
#include "service/engine/ScanWorker.h"

namespace zorvek {
namespace {

constexpr uint32_t kNobody = 65534;

ClientIdentity nobody() { return ClientIdentity::ofUser(kNobody, kNobody, {}); }

class ClientRightsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "switching users needs root";
    ::chmod(dir_.path().c_str(), 0755);
  }
  std::string at(const char* name) const { return (dir_.path() / name).string(); }
  void folder(const char* name, mode_t mode, uid_t owner = 0) {
    ASSERT_EQ(::mkdir(at(name).c_str(), mode), 0);
    ASSERT_EQ(::chmod(at(name).c_str(), mode), 0);
    ASSERT_EQ(::chown(at(name).c_str(), owner, owner), 0);
  }
  void file(const std::string& path, uid_t owner = 0, mode_t mode = 0644) {
    test::writeFile(toWide(path), "content");
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
  }
  test::TempDir dir_;
};

TEST_F(ClientRightsTest, TheIdentityIsTheThreadsAloneAndComesBack) {
  file(at("secret"), 0, 0600);
  InputFile probe;
  // Another thread of the service, started before (a thread takes its creator's identity).
  std::promise<void> go;
  auto other = std::async(std::launch::async, [&, started = go.get_future()]() mutable {
    started.wait();
    InputFile f;
    return f.open(toWide(at("secret")));
  });
  {
    const ActingAs acting(nobody());
    ASSERT_TRUE(acting.ok());
    EXPECT_FALSE(probe.open(toWide(at("secret"))));
    // Meanwhile the other thread reads it with the service's rights.
    go.set_value();
    EXPECT_TRUE(other.get());
    {
      const ActingAs service{ClientIdentity()};  // acting for the service changes nothing
      EXPECT_FALSE(probe.open(toWide(at("secret"))));
    }
  }
  EXPECT_TRUE(probe.open(toWide(at("secret"))));
  // A client whose identity could not be read may do nothing.
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ipc::PipeHandle mine(pair[0]), theirs(pair[1]);
  const ClientIdentity peer = ClientIdentity::ofPipeClient(mine);
  EXPECT_EQ(peer.describe(), "uid 0");
  const ipc::PipeHandle notASocket(::open("/dev/null", O_RDONLY));
  EXPECT_FALSE(ActingAs(ClientIdentity::ofPipeClient(notASocket)).ok());
}

TEST_F(ClientRightsTest, ADecisionActsOnlyOnFilesTheClientCouldDelete) {
  folder("root", 0755);
  folder("theirs", 0755, kNobody);
  folder("shared", 01777);  // like /tmp: anyone may create, only owners may delete
  folder("closed", 0700);
  file(at("root") + "/f.exe");
  file(at("theirs") + "/f.exe", 0, 0600);  // root's file in the client's folder: theirs to delete
  file(at("shared") + "/root.exe");
  file(at("shared") + "/own.exe", kNobody);
  file(at("closed") + "/f.exe");
  const struct {
    std::string path;
    bool allowed;
  } cases[] = {{at("root") + "/f.exe", false},   {at("theirs") + "/f.exe", true},
               {at("shared") + "/root.exe", false}, {at("shared") + "/own.exe", true},
               {at("closed") + "/f.exe", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    HeldFile held;
    OpenFailure why = OpenFailure::None;
    const bool ok = holdFile(toWide(c.path), held, nullptr, &why, nullptr, nobody());
    EXPECT_EQ(ok, c.allowed);
    if (!ok) {
      EXPECT_EQ(why, OpenFailure::AccessDenied);
    }
    // The service itself may act on all of them.
    HeldFile byService;
    EXPECT_TRUE(holdFile(toWide(c.path), byService));
  }
}

// A scan of paths asked for by a client reads only what the client could read; a decision on a
// detection in a folder the client may not change is refused, and the file stays.
TEST_F(ClientRightsTest, TheEngineScansAndDecidesWithTheClientsRights) {
  folder("closed", 0700);
  folder("open", 0755);
  file(at("closed") + "/eicar.com");
  file(at("open") + "/eicar.com");
  for (const char* f : {"/closed/eicar.com", "/open/eicar.com"})
    test::writeFile(toWide(dir_.path().string() + f), test::kEicar);
  const std::wstring data = toWide(at("data"));
  ASSERT_TRUE(createDirectories(data));
  ServiceConfig config;
  config.signatureDb = toWide(at("db.txt"));
  config.quarantineDir = data + L"/Quarantine";
  config.scheduledScan = false;
  ASSERT_TRUE(config.save(data + L"/settings.ini"));
  test::writeFile(config.signatureDb,
                  hash::sha256File(toWide(at("open") + "/eicar.com"), 4096) + ":EICAR:Test\n");
  svc::EngineOptions options;
  options.dataFolder = data;
  svc::ScanWorker engine(std::move(options));
  ASSERT_TRUE(engine.init());

  std::string error;
  ASSERT_TRUE(engine.requestScan(3, {toWide(at("closed")), toWide(at("open"))}, &error, nobody()))
      << error;
  ASSERT_TRUE(test::waitUntil([&] { return !engine.scanRunning(); }));
  const auto found = engine.detections();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, toWide(at("open") + "/eicar.com"));
  EXPECT_EQ(engine.lastSummary().foldersUnreadable, 1u);

  svc::ThreatDecision decision;
  decision.path = found[0].path;
  decision.action = svc::kActionDelete;
  EXPECT_FALSE(engine.decideThreat(decision, &error, nobody()));
  EXPECT_EQ(error, "access denied");
  EXPECT_TRUE(pathExists(found[0].path));
  EXPECT_TRUE(engine.decideThreat(decision, &error)) << error;
  EXPECT_FALSE(pathExists(found[0].path));
  engine.stop();
  Logger::instance().close();
}

}  // namespace
}  // namespace zorvek
