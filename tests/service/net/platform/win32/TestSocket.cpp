#include "TestSocket.h"

#include <winsock2.h>

#include <mutex>

namespace zorvek::test {
namespace {
SOCKET asSocket(Socket s) { return static_cast<SOCKET>(s); }
}  // namespace

Socket listenLoopback(uint16_t* port) {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::closesocket(s);
    return kNoSocket;
  }
  *port = ntohs(addr.sin_port);
  return static_cast<Socket>(s);
}

bool waitReadable(Socket s, int ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(asSocket(s), &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

Socket acceptConnection(Socket listener) {
  const SOCKET c = ::accept(asSocket(listener), nullptr, nullptr);
  if (c == INVALID_SOCKET) return kNoSocket;
  // A client that stops reading without closing (Wine's WinHTTP after a cancelled call) must
  // not hold the server's destructor for ever.
  const DWORD timeoutMs = kSendTimeoutMs;
  setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
  return static_cast<Socket>(c);
}

long long receiveSome(Socket s, char* buffer, size_t size) {
  const int n = ::recv(asSocket(s), buffer, static_cast<int>(size > (1 << 30) ? (1 << 30) : size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool sendAll(Socket s, const char* data, size_t size) {
  while (size > 0) {
    const int chunk = static_cast<int>(size > (1 << 20) ? (1 << 20) : size);
    const int n = ::send(asSocket(s), data, chunk, 0);
    if (n == SOCKET_ERROR) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void closeSocket(Socket s) {
  if (s != kNoSocket) ::closesocket(asSocket(s));
}

}  // namespace zorvek::test
