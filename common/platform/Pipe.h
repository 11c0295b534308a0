#pragma once
// The pipe transport: framed request/reply exchanges between the service and its clients.
// Windows: the named pipe \\.\pipe\ZorvekAV. POSIX: a Unix-domain stream socket. ZORVEK_PIPE
// overrides the pipe name or socket path on both. Frames are those of common/Frame.h; error
// texts are the same on both ("connection closed", "stopping", "ReadFile failed (win32=N)",
// where POSIX reports "(errno=N)").

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform/Event.h"

namespace zorvek::ipc {

// One end of a connection (Windows: HANDLE; POSIX: socket descriptor), closed on destruction.
class PipeHandle {
 public:
  PipeHandle() = default;
  explicit PipeHandle(intptr_t h) : h_(h) {}
  PipeHandle(PipeHandle&& o) noexcept : h_(o.release()) {}
  PipeHandle& operator=(PipeHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~PipeHandle() { reset(); }
  PipeHandle(const PipeHandle&) = delete;
  PipeHandle& operator=(const PipeHandle&) = delete;

  intptr_t get() const { return h_; }
  intptr_t release() {
    const intptr_t h = h_;
    h_ = kInvalid;
    return h;
  }
  void reset(intptr_t h = kInvalid);
  explicit operator bool() const { return h_ != kInvalid; }

 private:
  static constexpr intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE and -1 alike
  intptr_t h_ = kInvalid;
};

// The budget every client of the system gives connectPipe.
inline constexpr uint32_t kConnectBudgetMs = 3000;
// How long a client waits for the service to take its request and, once it is written, for the
// whole reply. kWaitForever waits without bound.
inline constexpr uint32_t kReplyTimeoutMs = 30000;
// The error of a client transfer that ran out of time.
inline constexpr char kTimedOutText[] = "timed out waiting for the service";

// ZORVEK_PIPE when set and not empty. Otherwise Windows: \\.\pipe\ZorvekAV; POSIX:
// /run/zorvek/ZorvekAV.sock for root, else $XDG_RUNTIME_DIR/ZorvekAV.sock, else
// /tmp/zorvek-<uid>/ZorvekAV.sock.
std::wstring pipePath();

// --- Client (blocking, bounded by a time-out) -------------------------------------------------

// Opens the pipe. While it is busy or missing, waits up to 200 ms for it and tries again until
// the waits add up to `timeoutMs`; a wait on a pipe that does not exist returns at once.
// `attempts`, when given, receives the number of opens tried.
PipeHandle connectPipe(const std::wstring& path, std::string* error,
                       uint32_t timeoutMs = kConnectBudgetMs, unsigned* attempts = nullptr);
inline PipeHandle connectPipe(std::string* error, uint32_t timeoutMs = kConnectBudgetMs) {
  return connectPipe(pipePath(), error, timeoutMs);
}

// Sends one request frame and reads one reply frame, each within `timeoutMs` (else
// kTimedOutText). After a failure the stream position is undefined: close the handle.
[[nodiscard]] bool exchange(PipeHandle& pipe, uint32_t opcode, std::string_view payload,
                            uint32_t& replyOpcode, std::string& replyPayload,
                            std::string* error = nullptr, uint32_t timeoutMs = kReplyTimeoutMs);

// Writes bytes as they are, for clients that build frames by hand (protocol tests and tools)
// and for test servers that answer with them. Any handle of the transport will do.
[[nodiscard]] bool writeRaw(PipeHandle& pipe, std::string_view bytes, std::string* error = nullptr,
                            uint32_t timeoutMs = kReplyTimeoutMs);

// --- Server (every blocking step also waits on the stop event) --------------------------------

// How long one session may keep the server waiting, so a client that stalls cannot keep every
// other client out. The service uses the defaults; tests give shorter ones.
struct SessionLimits {
  uint32_t idleMs = 30000;   // for the first byte of the next request (kSessionIdleText)
  uint32_t frameMs = 10000;  // for the rest of a request once it has begun (kSessionTimedOutText)
  uint32_t replyMs = 10000;  // for the client to take a whole reply (kSessionTimedOutText)
};
// The server's errors for a session that ran out of time.
inline constexpr char kSessionIdleText[] = "session idle";
inline constexpr char kSessionTimedOutText[] = "timed out";

// Reads one frame within `limits`; fails with "stopping" as soon as `stop` is set.
[[nodiscard]] bool readFrame(PipeHandle& pipe, const Event& stop, uint32_t& opcode,
                             std::string& payload, std::string* error = nullptr,
                             const SessionLimits& limits = {});
// Writes one frame within limits.replyMs; fails with "stopping" as soon as `stop` is set.
[[nodiscard]] bool writeFrame(PipeHandle& pipe, const Event& stop, uint32_t opcode,
                              std::string_view payload, std::string* error = nullptr,
                              const SessionLimits& limits = {});

// True for the failures of readFrame that end a session without anything worth logging: the
// client closed the connection or stayed idle too long, or the server is stopping.
bool isQuietEnd(std::string_view error);

// Accepts one client at a time on the pipe. Windows: one pipe instance (created with the
// service's security descriptor, local clients only) waits for a client and becomes the session;
// the next instance is created when the session ends, so other clients find the pipe busy and
// wait meanwhile. POSIX: a listening socket that any local user may connect to.
class PipeServer {
 public:
  explicit PipeServer(std::wstring path = pipePath());
  ~PipeServer();
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Creates the pipe (Windows: the first instance; POSIX: the listening socket) if it does not
  // exist yet, so clients can connect from now on. accept() calls it too. Fails with
  // "CreateNamedPipe failed, win32=N" (POSIX: a reason and "(errno=N)").
  [[nodiscard]] bool listen(std::string* error = nullptr);

  enum class Accept {
    Connected,     // `client` holds the session
    Stopped,       // the stop event was set
    CreateFailed,  // the pipe could not be created: error "CreateNamedPipe failed, win32=N"
    Failed,        // the connect failed; error is empty when not worth logging
  };
  Accept accept(const Event& stop, PipeHandle& client, std::string* error = nullptr);

  // Ends a session: gives the client a moment (bounded) to read the last reply, disconnects it
  // and gets the pipe ready for the next client. `cutShort`, when given, ends the wait as soon as
  // it is set; a session whose own request stopped the server passes none, or its reply would
  // be thrown away unread.
  void finish(PipeHandle& client, const Event* cutShort);

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  PipeHandle listener_;  // Windows: the instance waiting for a client; POSIX: the listening socket
  uint64_t boundInode_ = 0;  // POSIX: the socket file we created, removed on destruction
};

// True when the connected client runs as LocalSystem or an elevated administrator (Windows,
// from the pipe client's token) or as root or the server's own user (POSIX, from the peer's
// credentials). On Windows the client must have written to the pipe first.
bool clientIsPrivileged(const PipeHandle& client);

}  // namespace zorvek::ipc
