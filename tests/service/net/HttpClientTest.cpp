// httpGet against a server inside the test: natively through libcurl, under Wine through WinHTTP.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ScopedEnvironment.h"
#include "TestHttpServer.h"
#include "common/platform/File.h"
#include "service/net/HttpClient.h"

namespace zorvek::svc {
namespace {

using namespace std::string_literals;
using test::HttpReply;
using test::TestHttpServer;

bool onWindows() { return pathSeparator() == L'\\'; }

TEST(HttpClientTest, StatusDecidesAndOnlySuccessKeepsTheBody) {
  const struct {
    int status;
    std::string body;
    bool ok;
    const char* error;
  } cases[] = {
      {200, "hello\r\n\0world"s, true, ""},
      {204, "", true, ""},
      {299, "edge", true, ""},
      {404, "not here", false, "http status 404"},
      {500, "broken", false, "http status 500"},
      {503, "busy", false, "http status 503"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    TestHttpServer server([&](const std::string&) { return HttpReply{c.status, c.body}; });
    ASSERT_TRUE(server.listening());
    std::string body = "stale", error = "stale";
    EXPECT_EQ(httpGet(server.url("/x"), &body, &error), c.ok);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(body, c.ok ? c.body : "");
  }
}

TEST(HttpClientTest, RefusesWhatIsNotAnHttpUrl) {
  std::string body = "stale", error;
  EXPECT_FALSE(httpGet("ftp://127.0.0.1/file.txt", &body, &error));
  EXPECT_EQ(error, "http(s) required: ftp://127.0.0.1/file.txt");
  EXPECT_EQ(body, "");

  for (const char* url : {"not a url", "", "http//missing-colon", "://nothing"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(httpGet(url, &body, &error));
    // WinHTTP adds the system's code; curl has no counterpart to it.
    if (onWindows()) {
      ASSERT_EQ(error.rfind("bad url, win32=", 0), 0u) << error;
      EXPECT_GT(error.size(), sizeof "bad url, win32=" - 1);
    } else {
      EXPECT_EQ(error, "bad url");
    }
  }
}

TEST(HttpClientTest, BodyOfExactlyTheLimitPassesOneByteMoreDoesNot) {
  for (const uint64_t size : {kHttpMaxBody, kHttpMaxBody + 1}) {
    SCOPED_TRACE(size);
    TestHttpServer server([&](const std::string&) {
      HttpReply r;
      r.generatedBytes = size;
      return r;
    });
    std::string body, error;
    const bool ok = httpGet(server.url("/big"), &body, &error);
    if (size == kHttpMaxBody) {
      ASSERT_TRUE(ok) << error;
      ASSERT_EQ(body.size(), size);
      for (uint64_t at : {uint64_t(0), uint64_t(4095), uint64_t(1) << 26, size - 1}) {
        EXPECT_EQ(body[static_cast<size_t>(at)], test::patternByte(at)) << at;
      }
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(error, "response too large");
      EXPECT_TRUE(body.empty());
    }
  }
}

TEST(HttpClientTest, SendsPathQueryAndUserAgent) {
  TestHttpServer server([](const std::string&) { return HttpReply{200, "ok"}; });
  std::string body, error;
  ASSERT_TRUE(httpGet(server.url("/api/v1/signatures?since=2024-01-01&x=%41"), &body, &error))
      << error;
  const auto heads = server.requests();
  ASSERT_EQ(heads.size(), 1u);
  EXPECT_EQ(heads[0].rfind("GET /api/v1/signatures?since=2024-01-01&x=%41 HTTP/1.1\r\n", 0), 0u)
      << heads[0];
  EXPECT_NE(heads[0].find("User-Agent: ZORVEK Antivirus update/1.0\r\n"), std::string::npos)
      << heads[0];
}

TEST(HttpClientTest, FollowsARedirectToTheSameServer) {
  TestHttpServer server([](const std::string& target) {
    if (target == "/old") return HttpReply{302, "", "Location: /new\r\n"};
    return HttpReply{200, "moved here"};
  });
  std::string body, error;
  ASSERT_TRUE(httpGet(server.url("/old"), &body, &error)) << error;
  EXPECT_EQ(body, "moved here");
}

TEST(HttpClientTest, AStalledServerEndsInATimeOutNotAHang) {
  const struct {
    const char* what;
    bool beforeHead;
  } cases[] = {{"silent after the request", true}, {"silent in the middle of the body", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestHttpServer server([&](const std::string&) {
      HttpReply r;
      r.stall = c.beforeHead;
      r.generatedBytes = 100000;
      r.cutAfter = 1000;
      r.stallAtCut = true;
      return r;
    });
    std::string body, error;
    HttpOptions options;
    options.timeoutMs = 1000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(httpGet(server.url("/slow"), &body, &error, options));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(body.empty());
    EXPECT_LT(took, std::chrono::seconds(8)) << error;
  }
}

TEST(HttpClientTest, AConnectionCutMidBodyFailsWithoutAPartialBody) {
  for (const uint64_t cut : {uint64_t(0), uint64_t(1), uint64_t(70000)}) {
    SCOPED_TRACE(cut);
    TestHttpServer server([&](const std::string&) {
      HttpReply r;
      r.generatedBytes = 200000;
      r.cutAfter = cut;
      return r;
    });
    std::string body = "stale", error;
    EXPECT_FALSE(httpGet(server.url("/cut"), &body, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(body.empty());
  }
}

TEST(HttpClientTest, NoServerIsAFailure) {
  uint16_t port = 0;
  // A port that was free a moment ago and has nobody listening now.
  {
    TestHttpServer probe([](const std::string&) { return HttpReply{}; });
    port = probe.port();
  }
  std::string error;
  EXPECT_FALSE(httpGet("http://127.0.0.1:" + std::to_string(port) + "/", nullptr, &error));
  EXPECT_FALSE(error.empty());
}

TEST(HttpClientTest, LoopbackHosts) {
  const struct {
    const char* host;
    bool loopback;
  } cases[] = {
      {"localhost", true},      {"127.0.0.1", true},       {"127.255.0.9", true},
      {"[::1]", true},          {"::1", true},             {"128.0.0.1", false},
      {"127.0.0.1.example", false}, {"127.0.0", false},    {"127.0.0.256", false},
      {"1270.0.0.1", false},    {"127..0.1", false},       {"localhost.example", false},
      {"0.0.0.0", false},       {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isLoopbackHost(c.host), c.loopback) << c.host;
}

TEST(HttpClientTest, LoopbackOnlyRefusesOtherHostsBeforeSending) {
  TestHttpServer server([](const std::string&) { return HttpReply{200, "here"}; });
  // 0.0.0.0 reaches the local server on Linux, so nothing but the refusal keeps the request away.
  const std::string other = "http://0.0.0.0:" + std::to_string(server.port()) + "/x";
  test::ScopedEnvironment limited(kLoopbackOnlyVariable, L"1");
  ASSERT_TRUE(limited.ok());
  std::string body, error;
  EXPECT_FALSE(httpGet(other, &body, &error));
  EXPECT_EQ(error, "network limited to this machine: " + other);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(httpGet(server.url("/x"), &body, &error)) << error;
  EXPECT_EQ(body, "here");
  // Empty means not set.
  ASSERT_TRUE(limited.set(L""));
  EXPECT_TRUE(hostAllowed("example.org", "https://example.org/", &error));
}

TEST(HttpClientTest, WorksWithoutEitherOutput) {
  TestHttpServer server([](const std::string& target) {
    return target == "/ok" ? HttpReply{200, "fine"} : HttpReply{404, ""};
  });
  EXPECT_TRUE(httpGet(server.url("/ok"), nullptr, nullptr));
  EXPECT_FALSE(httpGet(server.url("/missing"), nullptr, nullptr));
}

TEST(HttpClientTest, CancelEndsTheCall) {
  TestHttpServer server([](const std::string&) {
    HttpReply r;
    r.generatedBytes = 32 << 20;
    return r;
  });
  HttpOptions options;
  options.cancelled = [] { return true; };
  std::string body, error;
  EXPECT_FALSE(httpGet(server.url("/big"), &body, &error, options));
  EXPECT_EQ(error, "cancelled");
  EXPECT_TRUE(body.empty());
}

TEST(HttpClientTest, ThreadsMayCallAtOnce) {
  TestHttpServer server([](const std::string& target) { return HttpReply{200, "reply to " + target}; });
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string target = "/t" + std::to_string(t) + "/" + std::to_string(i);
        std::string body;
        if (httpGet(server.url(target), &body, nullptr) && body == "reply to " + target) ++good;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good.load(), 20);
}

}  // namespace
}  // namespace zorvek::svc
