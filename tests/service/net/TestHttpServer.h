#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the network tests: every request is answered by a
// handler, which can also stall, cut the body short or send a large generated body.

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSocket.h"

namespace zorvek::test {

struct HttpReply {
  HttpReply() = default;
  HttpReply(int s, std::string b, std::string h = {})
      : status(s), body(std::move(b)), headers(std::move(h)) {}

  int status = 200;
  std::string body;
  uint64_t generatedBytes = 0;  // when not 0: this many bytes of patternByte() instead of body
  std::string headers;          // extra header lines, each ending in CRLF
  bool stall = false;           // read the request, then send nothing
  uint64_t cutAfter = std::numeric_limits<uint64_t>::max();  // close after this many body bytes
  bool stallAtCut = false;      // at cutAfter, go silent instead of closing
};

// Byte `i` of a generated body.
inline char patternByte(uint64_t i) { return static_cast<char>((i * 131 + (i >> 12)) & 0xFF); }

class TestHttpServer {
 public:
  using Handler = std::function<HttpReply(const std::string& target)>;

  explicit TestHttpServer(Handler handler);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  bool listening() const { return listener_ != kNoSocket; }
  uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" + target.
  std::string url(const std::string& target) const;
  // The request heads received so far (request line and headers), in order.
  std::vector<std::string> requests() const;

 private:
  void acceptLoop();
  void serve(Socket connection);

  Handler handler_;
  Socket listener_ = kNoSocket;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> connections_;
};

}  // namespace zorvek::test
