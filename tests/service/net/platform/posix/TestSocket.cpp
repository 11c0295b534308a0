#include "TestSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace zorvek::test {

Socket listenLoopback(uint16_t* port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return kNoSocket;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 16) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(s);
    return kNoSocket;
  }
  *port = ntohs(addr.sin_port);
  return s;
}

bool waitReadable(Socket s, int ms) {
  pollfd p{static_cast<int>(s), POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

Socket acceptConnection(Socket listener) {
  const int c = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return kNoSocket;
  // A client that stops reading without closing must not hold the server's destructor for ever.
  const timeval timeout{kSendTimeoutMs / 1000, 0};
  ::setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return c;
}

long long receiveSome(Socket s, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(s), buffer, size, 0);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool sendAll(Socket s, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void closeSocket(Socket s) {
  if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace zorvek::test
