#include "common/platform/Pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <cstdlib>
#include <thread>

#include "TestUtil.h"
#include "common/Frame.h"
#include "common/Messages.h"
#include "common/Text.h"
#include "common/Wire.h"

namespace zorvek::ipc {
namespace {

using Clock = std::chrono::steady_clock;

bool windowsPipes() { return pipePath().rfind(L"\\\\.\\pipe\\", 0) == 0; }

// A pipe name of our own per test, so tests never meet each other or a running service.
class PipeFixture : public ::testing::Test {
 protected:
  PipeFixture() { path_ = test::privatePipePath(dir_, L"p"); }

  std::wstring path_;
  test::TempDir dir_;
  Event stop_;
};

std::string frame(uint32_t opcode, std::string_view payload) {
  const FrameHeader h = encodeFrameHeader(opcode, static_cast<uint32_t>(payload.size()));
  return std::string(h.begin(), h.end()) + std::string(payload);
}

std::string rawHeader(std::string_view magic, uint32_t version, uint32_t length) {
  return std::string(magic) + WireWriter().u32(version).u32(1).u32(length).u64(0).take();
}

// Accepts one client on a thread and records what readFrame gives.
struct ReadOnce {
  bool ok = false;
  uint32_t opcode = 0;
  std::string payload;
  std::string error;
};

std::future<ReadOnce> serveOneRead(PipeServer& server, const Event& stop) {
  return std::async(std::launch::async, [&server, &stop] {
    ReadOnce r;
    PipeHandle client;
    if (server.accept(stop, client, &r.error) != PipeServer::Accept::Connected) return r;
    r.ok = readFrame(client, stop, r.opcode, r.payload, &r.error);
    server.finish(client, &stop);
    return r;
  });
}

TEST_F(PipeFixture, EchoesPayloadsOfEverySize) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  // Sizes around the 64 KiB transfer chunk and a payload of several chunks.
  const size_t sizes[] = {0, 1, 0xFFFF, 0x10000, 0x10001, 0x50003};
  auto done = std::async(std::launch::async, [&] {
    for (size_t i = 0; i < std::size(sizes); ++i) {
      PipeHandle client;
      std::string error;
      if (server.accept(stop_, client, &error) != PipeServer::Accept::Connected) return error;
      uint32_t opcode = 0;
      std::string payload;
      if (!readFrame(client, stop_, opcode, payload, &error)) return error;
      if (!writeFrame(client, stop_, opcode, payload, &error)) return error;
      server.finish(client, &stop_);
    }
    return std::string();
  });
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 7 + 3);
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    uint32_t replyOpcode = 0;
    std::string reply;
    ASSERT_TRUE(exchange(pipe, kOpProgress, payload, replyOpcode, reply, &error)) << error;
    EXPECT_EQ(replyOpcode, kOpProgress);
    EXPECT_EQ(reply, payload);
  }
  EXPECT_EQ(done.get(), "");
}

TEST_F(PipeFixture, ServerRefusesBadHeadersWithoutReadingThePayload) {
  const struct {
    const char* what;
    std::string bytes;
    const char* error;
  } cases[] = {
      {"bad magic before the version", rawHeader("ZRVK", 2, 0), "bad magic"},
      {"version 2", rawHeader("KVRZ", 2, 0), "unsupported protocol version"},
      // Only the header is sent: reading the payload would block until the stop below.
      {"declared length 0x2000001", rawHeader("KVRZ", 1, 0x2000001), "declared payload too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto served = serveOneRead(server, stop_);
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    ASSERT_TRUE(writeRaw(pipe, c.bytes, &error)) << error;
    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const ReadOnce r = served.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST_F(PipeFixture, LargestPayloadIsAccepted) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = serveOneRead(server, stop_);
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  const std::string payload(kMaxPayloadSize, 'z');
  ASSERT_TRUE(writeRaw(pipe, frame(kOpSetConfig, payload), &error)) << error;
  const ReadOnce r = served.get();
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.opcode, kOpSetConfig);
  EXPECT_EQ(r.payload.size(), kMaxPayloadSize);
}

TEST_F(PipeFixture, OversizedPayloadIsRefusedBeforeSending) {
  std::string error;
  PipeHandle none;
  uint32_t opcode = 0;
  std::string reply;
  const std::string payload(kMaxPayloadSize + 1, 'z');
  EXPECT_FALSE(exchange(none, 1, payload, opcode, reply, &error));
  EXPECT_EQ(error, "payload too large");
  EXPECT_FALSE(writeFrame(none, stop_, 1, payload, &error));
  EXPECT_EQ(error, "payload too large");
}

TEST_F(PipeFixture, EmptyPayloadSendsOnlyTheHeader) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = std::async(std::launch::async, [&] {
    std::vector<ReadOnce> reads(2);
    PipeHandle client;
    if (server.accept(stop_, client) != PipeServer::Accept::Connected) return reads;
    for (auto& r : reads) r.ok = readFrame(client, stop_, r.opcode, r.payload, &r.error);
    return reads;
  });
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  // An empty frame followed at once by a second frame: any byte sent after the first header
  // would show up as a broken second frame.
  ASSERT_TRUE(writeRaw(pipe, frame(kOpHello, "") + frame(kOpPing, "x"), &error)) << error;
  const auto reads = served.get();
  ASSERT_TRUE(reads[0].ok) << reads[0].error;
  EXPECT_EQ(reads[0].opcode, kOpHello);
  EXPECT_EQ(reads[0].payload, "");
  ASSERT_TRUE(reads[1].ok) << reads[1].error;
  EXPECT_EQ(reads[1].opcode, kOpPing);
  EXPECT_EQ(reads[1].payload, "x");
}

// Frames arrive as the peer wrote them, in pieces that split the header anywhere: the server
// and the client each put a frame together from whatever the first read brings.
TEST_F(PipeFixture, FramesArrivingInPiecesArePutTogether) {
  const std::string request = frame(kOpSetConfig, std::string(40, 'q'));
  const std::string reply = frame(kOpSetConfig, "done");
  const size_t cuts[][2] = {{1, 2}, {5, kFrameHeaderSize}, {kFrameHeaderSize - 1, kFrameHeaderSize + 3}};
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut[0]);
    const auto inPieces = [&](PipeHandle& pipe, const std::string& bytes) {
      const size_t at[] = {0, cut[0], cut[1], bytes.size()};
      for (size_t i = 0; i + 1 < std::size(at); ++i) {
        if (!writeRaw(pipe, bytes.substr(at[i], at[i + 1] - at[i]))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      }
      return true;
    };
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto served = std::async(std::launch::async, [&] {
      ReadOnce r;
      PipeHandle client;
      if (server.accept(stop_, client, &r.error) != PipeServer::Accept::Connected) return r;
      r.ok = readFrame(client, stop_, r.opcode, r.payload, &r.error) && inPieces(client, reply);
      server.finish(client, &stop_);
      return r;
    });
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    ASSERT_TRUE(inPieces(pipe, request));
    uint32_t opcode = 0;
    std::string payload;
    // The request is already written: exchange sends an empty ping first, which the server never
    // reads; what comes back is the reply to the pieces.
    ASSERT_TRUE(exchange(pipe, kOpPing, "", opcode, payload, &error)) << error;
    EXPECT_EQ(opcode, kOpSetConfig);
    EXPECT_EQ(payload, "done");
    const ReadOnce r = served.get();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.opcode, kOpSetConfig);
    EXPECT_EQ(r.payload, std::string(40, 'q'));
  }
}

TEST_F(PipeFixture, PeerClosingMidFrameIsConnectionClosed) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"nothing sent", ""},
      {"half a header", frame(kOpHello, "").substr(0, 10)},
      {"half a payload", frame(kOpPing, "abcdef").substr(0, kFrameHeaderSize + 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto served = serveOneRead(server, stop_);
    {
      std::string error;
      PipeHandle pipe = connectPipe(path_, &error);
      ASSERT_TRUE(pipe) << error;
      if (!c.bytes.empty()) {
        ASSERT_TRUE(writeRaw(pipe, c.bytes, &error)) << error;
      }
    }
    const ReadOnce r = served.get();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "connection closed");
    EXPECT_TRUE(isQuietEnd(r.error));
  }
}

TEST_F(PipeFixture, ClientSeesAServerThatClosesInsteadOfReplying) {
  for (const bool viaFinish : {false, true}) {
    SCOPED_TRACE(viaFinish ? "finish" : "close");
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto served = std::async(std::launch::async, [&] {
      PipeHandle client;
      if (server.accept(stop_, client) != PipeServer::Accept::Connected) return;
      uint32_t opcode = 0;
      std::string payload;
      if (!readFrame(client, stop_, opcode, payload)) return;
      if (viaFinish) server.finish(client, &stop_);
      client.reset();
    });
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    uint32_t opcode = 0;
    std::string reply;
    EXPECT_FALSE(exchange(pipe, kOpPing, "", opcode, reply, &error));
    EXPECT_EQ(error.rfind("connection closed (", 0), 0u) << error;
    served.get();
  }
}

// Serves one request as Shutdown is served: the reply, then the end of the session straight
// away. `stopping`: the request stopped the server, so its stop event is set and the linger is
// given nothing to cut it short.
std::future<void> serveLastReply(PipeServer& server, Event& stop, std::string reply,
                                 bool stopping) {
  return std::async(std::launch::async, [&server, &stop, reply = std::move(reply), stopping] {
    PipeHandle client;
    if (server.accept(stop, client) != PipeServer::Accept::Connected) return;
    uint32_t opcode = 0;
    std::string payload;
    if (!readFrame(client, stop, opcode, payload)) return;
    if (!writeFrame(client, stop, opcode, reply)) return;
    if (stopping) stop.set();
    server.finish(client, stopping ? nullptr : &stop);
  });
}

TEST_F(PipeFixture, LastReplySurvivesTheEndOfTheSession) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = serveLastReply(server, stop_, std::string(3 * kTransferChunk, 's'), false);
  // The reply is larger than the pipe's buffer, so its tail is still in flight when the
  // session ends.
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  uint32_t opcode = 0;
  std::string reply;
  ASSERT_TRUE(exchange(pipe, kOpShutdown, "", opcode, reply, &error)) << error;
  EXPECT_EQ(opcode, kOpShutdown);
  EXPECT_EQ(reply.size(), 3 * kTransferChunk);
  pipe.reset();
  served.get();
}

// A session whose own request stopped the server (Shutdown) lingers without regard to the stop
// event, so a client that is slow to read still gets its reply.
TEST_F(PipeFixture, LingerOfAStoppingSessionWaitsForALateReader) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = serveLastReply(server, stop_, "", true);
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  ASSERT_TRUE(writeRaw(pipe, frame(kOpShutdown, ""), &error)) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // The reply is still there for the reading (the server's reader serves any handle).
  const Event never;
  uint32_t opcode = 0;
  std::string reply;
  ASSERT_TRUE(readFrame(pipe, never, opcode, reply, &error)) << error;
  EXPECT_EQ(opcode, kOpShutdown);
  pipe.reset();
  served.get();
}

// A session's bounds: the wait for a request to begin ends quietly; a request or a reply that
// stalls midway ends with "timed out". Short bounds stand in for the service's 30 s and 10 s.
TEST_F(PipeFixture, StalledSessionsEndAtTheirBounds) {
  const SessionLimits limits{300, 300, 300};
  const struct {
    const char* what;
    std::string sent;     // what the client sends, then it stalls
    bool serverWrites;    // the server answers a large reply the client never reads
    const char* error;
  } cases[] = {
      {"nothing sent", "", false, kSessionIdleText},
      {"half a header", frame(kOpHello, "").substr(0, 10), false, kSessionTimedOutText},
      {"half a payload", frame(kOpPing, std::string(100, 'p')).substr(0, kFrameHeaderSize + 50),
       false, kSessionTimedOutText},
      {"reply never taken", frame(kOpPing, ""), true, kSessionTimedOutText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto served = std::async(std::launch::async, [&] {
      PipeHandle client;
      std::string error;
      if (server.accept(stop_, client, &error) != PipeServer::Accept::Connected) return error;
      uint32_t opcode = 0;
      std::string payload;
      const auto start = Clock::now();
      bool ok = readFrame(client, stop_, opcode, payload, &error, limits);
      // More than the pipe buffers: the write waits for a reader that never comes.
      if (ok && c.serverWrites)
        ok = writeFrame(client, stop_, opcode, std::string(4 << 20, 'r'), &error, limits);
      if (ok) return std::string("no failure");
      if (Clock::now() - start < std::chrono::milliseconds(250)) return "too soon: " + error;
      if (Clock::now() - start > std::chrono::seconds(5)) return "too late: " + error;
      server.finish(client, &stop_);
      return error;
    });
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    if (!c.sent.empty()) {
      ASSERT_TRUE(writeRaw(pipe, c.sent, &error)) << error;
    }
    ASSERT_EQ(served.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string got = served.get();
    EXPECT_EQ(got, c.error);
    EXPECT_EQ(isQuietEnd(got), got == kSessionIdleText);
  }
}

// A client that keeps sending within the idle bound keeps its session however long it lasts.
TEST_F(PipeFixture, ASteadyClientKeepsItsSession) {
  const SessionLimits limits{400, 400, 400};
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = std::async(std::launch::async, [&] {
    PipeHandle client;
    int answered = 0;
    if (server.accept(stop_, client) != PipeServer::Accept::Connected) return answered;
    uint32_t opcode = 0;
    std::string payload;
    while (readFrame(client, stop_, opcode, payload, nullptr, limits) &&
           writeFrame(client, stop_, opcode, payload, nullptr, limits)) {
      ++answered;
    }
    server.finish(client, &stop_);
    return answered;
  });
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  for (int i = 0; i < 6; ++i) {  // 1.2 s in all, three times the idle bound
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    uint32_t opcode = 0;
    std::string reply;
    ASSERT_TRUE(exchange(pipe, kOpPing, "x", opcode, reply, &error)) << i << ": " << error;
  }
  pipe.reset();
  EXPECT_EQ(served.get(), 6);
}

TEST_F(PipeFixture, BlockedReadEndsWithStoppingWhenTheStopEventFires) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = serveOneRead(server, stop_);
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);  // connects and stays silent
  ASSERT_TRUE(pipe) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(served.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  const auto start = Clock::now();
  stop_.set();
  ASSERT_EQ(served.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  const ReadOnce r = served.get();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "stopping");
  EXPECT_TRUE(isQuietEnd(r.error));
}

// The client's side of a stuck server: one that takes no request, and one that takes it and
// never answers. Both end at the client's time-out.
TEST_F(PipeFixture, ClientGivesUpOnAServerThatNeitherReadsNorAnswers) {
  const struct {
    const char* what;
    size_t requestBytes;  // more than the pipe buffers: the write itself blocks
    bool serverReads;
  } cases[] = {{"request never taken", 4 << 20, false}, {"reply never sent", 10, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Event stop;
    PipeServer server(path_);
    ASSERT_TRUE(server.listen());
    auto held = std::async(std::launch::async, [&] {
      PipeHandle client;
      if (server.accept(stop, client) != PipeServer::Accept::Connected) return;
      uint32_t opcode = 0;
      std::string payload;
      if (c.serverReads) (void)readFrame(client, stop, opcode, payload);
      stop.wait();
    });
    std::string error;
    PipeHandle pipe = connectPipe(path_, &error);
    ASSERT_TRUE(pipe) << error;
    uint32_t opcode = 0;
    std::string reply;
    const auto start = Clock::now();
    EXPECT_FALSE(exchange(pipe, kOpStartScan, std::string(c.requestBytes, 'x'), opcode, reply,
                          &error, 300));
    EXPECT_EQ(error, kTimedOutText);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    stop.set();
    held.get();
  }
}

TEST_F(PipeFixture, AcceptWithoutClientsEndsWhenTheStopEventFires) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto accepted = std::async(std::launch::async, [&] {
    PipeHandle client;
    return server.accept(stop_, client);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop_.set();
  ASSERT_EQ(accepted.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(accepted.get(), PipeServer::Accept::Stopped);
}

TEST_F(PipeFixture, ConnectWithoutServerGivesUpAfterSixteenAttempts) {
  std::string error;
  unsigned attempts = 0;
  const auto start = Clock::now();
  PipeHandle pipe = connectPipe(path_, &error, kConnectBudgetMs, &attempts);
  EXPECT_FALSE(pipe);
  EXPECT_EQ(attempts, 16u);
  EXPECT_EQ(error.rfind("cannot connect to service pipe (", 0), 0u) << error;
  // The waits return at once when there is no pipe at all.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kConnectBudgetMs));
}

TEST_F(PipeFixture, SecondClientWaitsForTheFirstSession) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  std::atomic<int> sessions{0};
  auto served = std::async(std::launch::async, [&] {
    for (int i = 0; i < 2; ++i) {
      PipeHandle client;
      if (server.accept(stop_, client) != PipeServer::Accept::Connected) return;
      ++sessions;
      uint32_t opcode = 0;
      std::string payload;
      while (readFrame(client, stop_, opcode, payload)) {
        const std::string reply = encodeU32Payload(static_cast<uint32_t>(sessions.load()));
        if (!writeFrame(client, stop_, opcode, reply)) break;
      }
      server.finish(client, &stop_);
    }
  });
  std::string error;
  PipeHandle first = connectPipe(path_, &error);
  ASSERT_TRUE(first) << error;
  uint32_t opcode = 0;
  std::string reply;
  ASSERT_TRUE(exchange(first, kOpPing, "", opcode, reply, &error)) << error;
  auto second = std::async(std::launch::async, [&] {
    std::string e;
    PipeHandle pipe = connectPipe(path_, &e);
    uint32_t op = 0, session = 0;
    std::string r;
    if (!pipe || !exchange(pipe, kOpPing, "", op, r, &e) || !decodeU32Payload(r, session)) return 0u;
    return session;
  });
  // While the first session is open, the second client is not served.
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
  first.reset();
  ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(second.get(), 2u);
  served.get();
}

TEST_F(PipeFixture, SecondServerOnTheSameNameIsRefused) {
  std::string error;
  {
    PipeServer first(path_);
    ASSERT_TRUE(first.listen(&error)) << error;
    PipeServer second(path_);
    const bool created = second.listen(&error);
    if (created && windowsPipes()) {
      GTEST_SKIP() << "this Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE";
    }
    EXPECT_FALSE(created);
    EXPECT_EQ(error.rfind("CreateNamedPipe failed", 0), 0u) << error;
  }
  // Once the first server is gone the name is free again.
  PipeServer third(path_);
  EXPECT_TRUE(third.listen(&error)) << error;
}

TEST_F(PipeFixture, ServerIdentifiesAPrivilegedClient) {
  PipeServer server(path_);
  ASSERT_TRUE(server.listen());
  auto served = std::async(std::launch::async, [&] {
    PipeHandle client;
    if (server.accept(stop_, client) != PipeServer::Accept::Connected) return -1;
    uint32_t opcode = 0;
    std::string payload;
    if (!readFrame(client, stop_, opcode, payload)) return -1;
    const int privileged = clientIsPrivileged(client) ? 1 : 0;
    (void)writeFrame(client, stop_, opcode, "");
    server.finish(client, &stop_);
    return privileged;
  });
  std::string error;
  PipeHandle pipe = connectPipe(path_, &error);
  ASSERT_TRUE(pipe) << error;
  uint32_t opcode = 0;
  std::string reply;
  ASSERT_TRUE(exchange(pipe, kOpHello, "", opcode, reply, &error)) << error;
  const int privileged = served.get();
  if (windowsPipes() && privileged == 0) {
    GTEST_SKIP() << "this Wine does not let the server identify a pipe client";
  }
  // The test runs as the server's own user (or root, or Wine's administrator).
  EXPECT_EQ(privileged, 1);
}

TEST_F(PipeFixture, ZorvekPipeOverridesTheNameForServerAndClient) {
  const std::wstring defaultPath = pipePath();
  EXPECT_NE(defaultPath, path_);
  std::optional<test::ScopedEnvironment> pipeOverride(std::in_place, L"ZORVEK_PIPE", path_);
  EXPECT_EQ(pipePath(), path_);
  PipeServer server;  // the default name, now the override
  std::string error;
  const bool listening = server.listen(&error);
  auto served = serveOneRead(server, stop_);
  PipeHandle pipe = connectPipe(&error);
  pipeOverride.reset();
  EXPECT_EQ(pipePath(), defaultPath);
  ASSERT_TRUE(listening) << error;
  ASSERT_TRUE(pipe) << error;
  ASSERT_TRUE(writeRaw(pipe, frame(kOpPing, ""), &error)) << error;
  pipe.reset();
  const ReadOnce r = served.get();
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.opcode, kOpPing);
}

TEST(EventTest, ManualResetStaysSetAutoResetWakesOnce) {
  Event manual(Event::Reset::Manual);
  EXPECT_FALSE(manual.wait(0));
  manual.set();
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.wait(0));
  EXPECT_TRUE(manual.isSet());
  manual.reset();
  EXPECT_FALSE(manual.wait(10));

  Event autoReset(Event::Reset::Auto, true);
  EXPECT_TRUE(autoReset.wait(0));
  EXPECT_FALSE(autoReset.wait(0));
}

TEST(EventTest, SetFromAnotherThreadWakesAWaiter) {
  Event e;
  auto waiter = std::async(std::launch::async, [&] { return e.wait(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  e.set();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(waiter.get());
}

}  // namespace
}  // namespace zorvek::ipc
