#include "TestHttpServer.h"

#include <algorithm>

namespace zorvek::test {

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = listenLoopback(&port_);
  if (listener_ != kNoSocket) acceptor_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  stopping_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& t : connections_) t.join();
  closeSocket(listener_);
}

std::string TestHttpServer::url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(port_) + target;
}

std::vector<std::string> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void TestHttpServer::acceptLoop() {
  while (!stopping_) {
    if (!waitReadable(listener_, 20)) continue;
    const Socket c = acceptConnection(listener_);
    if (c == kNoSocket) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, c] { serve(c); });
  }
}

void TestHttpServer::serve(Socket connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 && !stopping_) {
    if (!waitReadable(connection, 20)) continue;
    const long long n = receiveSome(connection, buffer, sizeof buffer);
    if (n <= 0) break;
    head.append(buffer, static_cast<size_t>(n));
  }
  const size_t end = head.find("\r\n\r\n");
  if (end == std::string::npos) {
    closeSocket(connection);
    return;
  }
  head.resize(end);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(head);
  }
  // "GET <target> HTTP/1.1"
  const size_t a = head.find(' '), b = head.find(' ', a + 1);
  const std::string target = a == std::string::npos ? "" : head.substr(a + 1, b - a - 1);
  const HttpReply reply = handler_(target);
  const auto stall = [&] {
    while (!stopping_) waitReadable(connection, 20);
  };
  if (reply.stall) {
    stall();
    closeSocket(connection);
    return;
  }
  const uint64_t length = reply.generatedBytes ? reply.generatedBytes : reply.body.size();
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " Test\r\n";
  if (reply.status != 204 && reply.status != 304) {
    out += "Content-Length: " + std::to_string(length) + "\r\n";
  }
  out += reply.headers + "Connection: close\r\n\r\n";
  bool ok = sendAll(connection, out.data(), out.size());
  const uint64_t send = std::min(length, reply.cutAfter);
  if (reply.generatedBytes == 0) {
    ok = ok && sendAll(connection, reply.body.data(), static_cast<size_t>(send));
  } else {
    std::string chunk;
    for (uint64_t at = 0; ok && at < send && !stopping_;) {
      const uint64_t n = std::min<uint64_t>(send - at, 1 << 20);
      chunk.resize(static_cast<size_t>(n));
      for (uint64_t i = 0; i < n; ++i) chunk[static_cast<size_t>(i)] = patternByte(at + i);
      ok = sendAll(connection, chunk.data(), chunk.size());
      at += n;
    }
  }
  if (ok && send < length && reply.stallAtCut) stall();
  closeSocket(connection);
}

}  // namespace zorvek::test
