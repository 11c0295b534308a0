#pragma once
// The few socket calls the test HTTP server needs (Winsock on Windows, BSD sockets elsewhere).

#include <cstddef>
#include <cstdint>

namespace zorvek::test {

using Socket = intptr_t;
inline constexpr Socket kNoSocket = -1;

// A listening TCP socket on 127.0.0.1 with a port the system picks; kNoSocket on failure.
Socket listenLoopback(uint16_t* port);
// True when the socket is readable (or a connection waits) within `ms`.
bool waitReadable(Socket s, int ms);
// A send to a client that reads nothing fails after this long.
inline constexpr int kSendTimeoutMs = 10000;
// Accepted connections get the send time-out.
Socket acceptConnection(Socket listener);
// Bytes received, 0 when the peer closed, -1 on an error.
long long receiveSome(Socket s, char* buffer, size_t size);
bool sendAll(Socket s, const char* data, size_t size);
void closeSocket(Socket s);

}  // namespace zorvek::test
