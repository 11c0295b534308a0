// scripts/update_server.py, the reference update server, driven by the service's own client.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestUtil.h"
#include "common/Text.h"
#include "common/platform/File.h"
#include "common/platform/Process.h"
#include "service/net/HttpClient.h"
#include "service/net/LiveUpdate.h"

namespace zorvek::svc {
namespace {

class UpdateServerScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The script is a Linux-side program; under Wine the service end-to-end test drives it.
    if (pathSeparator() == L'\\') GTEST_SKIP() << "the reference server runs on the Linux side";
    ASSERT_TRUE(createDirectories(dir_.file(L"site") + L"/files"));
  }
  void TearDown() override {
    server_.kill();
    server_.wait();
  }

  std::wstring site(const std::wstring& name) { return dir_.file(L"site") + L"/" + name; }

  // Starts the script with `extra` arguments; the base URL, or empty.
  std::string start(std::vector<std::wstring> extra = {}) {
    const std::wstring portFile = dir_.file(L"port");
    std::vector<std::wstring> args = {L"/usr/bin/env", L"python3",
                                      test::sourcePath(L"scripts/update_server.py"),
                                      dir_.file(L"site"), L"--port", L"0", L"--port-file", portFile,
                                      L"--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    EXPECT_TRUE(server_.start(args, &error)) << error;
    std::string port;
    for (int i = 0; i < 400 && port.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      readWholeFile(portFile, port);
    }
    if (port.empty()) return "";
    return "127.0.0.1:" + port.substr(0, port.find('\n'));
  }

  test::TempDir dir_;
  ChildProcess server_;
};

TEST_F(UpdateServerScriptTest, ServesTheFolderAndNothingElse) {
  const std::string installer = std::string("MZ\0\x90", 4) + std::string(70000, '\xCC');
  test::writeFile(site(L"signatures.txt"), "# feed\n" + std::string(64, 'a') + "\n");
  test::writeFile(site(L"releases.json"), R"({"windows": {"version": "1.3.0", "url": "x"}})");
  test::writeFile(site(L"files/ZorvekSetup-1.3.0.exe"), installer);
  const std::string base = start();
  ASSERT_FALSE(base.empty());
  const struct {
    std::string path;
    std::string body;  // empty with an error: the request must fail with it
    const char* error;
  } cases[] = {
      {"/api/v1/signatures", "# feed\n" + std::string(64, 'a') + "\n", ""},
      {"/api/v1/releases", R"({"windows": {"version": "1.3.0", "url": "x"}})", ""},
      {"/files/ZorvekSetup-1.3.0.exe", installer, ""},
      {"/api/v1/blocklist", "", "http status 404"},  // no blocklist.txt in the folder
      {"/api/v1/other", "", "http status 404"},
      {"/signatures.txt", "", "http status 404"},
      {"/files/..%2fsignatures.txt", "", "http status 404"},
      {"/files/.hidden", "", "http status 404"},
      {"/files/", "", "http status 404"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string body, error;
    EXPECT_EQ(httpGet("http://" + base + c.path, &body, &error), *c.error == 0);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(body, c.body);
  }
  // Files are read afresh on every request.
  test::writeFile(site(L"blocklist.txt"), "evil.example\n");
  std::string body;
  EXPECT_TRUE(httpGet("http://" + base + "/api/v1/blocklist", &body, nullptr));
  EXPECT_EQ(body, "evil.example\n");
}

TEST_F(UpdateServerScriptTest, LiveUpdateFromTheServer) {
  std::string feed;
  for (char c : std::string("0123456789abcdef")) feed += std::string(64, c) + " Name\n";
  test::writeFile(site(L"signatures.txt"), feed);
  const std::string base = start();
  ASSERT_FALSE(base.empty());
  LiveUpdateOptions options;
  options.livePath = dir_.file(L"signatures.live.txt");
  uint64_t count = 0;
  std::string error;
  ASSERT_TRUE(fetchLiveSignatures("http://" + base + "/", &count, &error, options)) << error;
  EXPECT_EQ(count, 16u);
}

// With --tls the server speaks HTTPS; a certificate nobody vouches for is refused by the client,
// so the check is on.
TEST_F(UpdateServerScriptTest, TlsWithAnUntrustedCertificateIsRefused) {
  test::writeFile(site(L"signatures.txt"), std::string(64, 'b') + "\n");
  const std::wstring cert = dir_.file(L"cert.pem"), key = dir_.file(L"key.pem");
  ChildProcess openssl;
  uint32_t code = 1;
  ASSERT_TRUE(openssl.start({L"/usr/bin/env", L"openssl", L"req", L"-x509", L"-newkey", L"rsa:2048",
                             L"-nodes", L"-keyout", key, L"-out", cert, L"-days", L"2", L"-subj",
                             L"/CN=127.0.0.1", L"-batch"}));
  ASSERT_TRUE(openssl.wait(&code));
  if (code != 0 || !pathExists(cert)) GTEST_SKIP() << "openssl could not make a certificate";
  const std::string base = start({L"--tls", cert, key});
  ASSERT_FALSE(base.empty());
  std::string body, error;
  EXPECT_FALSE(httpGet("https://" + base + "/api/v1/signatures", &body, &error));
  EXPECT_NE(error.find("curl error"), std::string::npos) << error;
  EXPECT_TRUE(body.empty());
  // Plain HTTP to the TLS port is no answer either.
  EXPECT_FALSE(httpGet("http://" + base + "/api/v1/signatures", &body, &error));
}

}  // namespace
}  // namespace zorvek::svc
