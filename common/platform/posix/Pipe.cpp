#include "common/Fail.h"
#include "common/platform/Pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/Frame.h"
#include "common/Text.h"

namespace zorvek::ipc {
namespace {

constexpr char kSocketName[] = "ZorvekAV.sock";
constexpr int kBacklog = 16;
// How long finish() lets a client read the last reply before the socket closes.
constexpr int kLingerMs = 1000;

std::string withErrno(const char* text, int err) {
  return std::string(text) + " (errno=" + std::to_string(err) + ")";
}

int fdOf(const PipeHandle& h) { return static_cast<int>(h.get()); }

bool fillAddress(const std::string& path, sockaddr_un& addr, std::string* error) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return fail(error, "pipe path too long");
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// Socket folders must belong to root or to us and be writable by nobody else, so another user
// cannot put a socket of their own in the service's place. 0 when safe, else an errno value
// (ENOENT when the folder does not exist yet).
int checkFolder(const std::string& folder) {
  struct stat st{};
  if (::lstat(folder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode) || (st.st_uid != 0 && st.st_uid != ::geteuid()) ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return EACCES;
  }
  return 0;
}

// A path set through ZORVEK_PIPE is the administrator's choice and is used as it stands.
bool isOverride(const std::string& path) {
  const char* env = std::getenv("ZORVEK_PIPE");
  return env != nullptr && *env != '\0' && path == env;
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNoDeadline = Clock::time_point::max();

Clock::time_point deadlineAfter(uint32_t timeoutMs) {
  return timeoutMs == kWaitForever ? kNoDeadline
                                   : Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Milliseconds left until `deadline` for poll (-1: no deadline), at least 0.
int msLeft(Clock::time_point deadline) {
  if (deadline == kNoDeadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits until the socket or the stop event (when given) is ready. 0: ready; 1: stop; 2: time-out;
// -1: poll failed.
int waitReady(int fd, short events, const Event* stop, int timeoutMs = -1) {
  pollfd fds[2] = {{fd, events, 0}, {stop ? static_cast<int>(stop->nativeHandle()) : -1, POLLIN, 0}};
  for (;;) {
    const int n = ::poll(fds, stop ? 2 : 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (stop && fds[1].revents != 0) return 1;
    return n == 0 ? 2 : 0;
  }
}

// What ends a transfer early: the server's stop event, and a deadline that fails the transfer
// with `timedOut`.
struct Bound {
  const Event* stop = nullptr;
  Clock::time_point deadline = kNoDeadline;
  const char* timedOut = kTimedOutText;
};

// Moves exactly `size` bytes, at most kTransferChunk per call; with `moved`, only what the first
// call moves (at least one byte), whose count it receives. With a stop event (server) or a
// deadline, every call first waits on the socket and on what ends the wait early.
bool transfer(int fd, bool reading, void* buffer, size_t size, const Bound& bound,
              std::string* error, size_t* moved = nullptr) {
  auto* p = static_cast<char*>(buffer);
  const char* failure = reading ? "ReadFile failed" : "WriteFile failed";
  const bool waits = bound.stop != nullptr || bound.deadline != kNoDeadline;
  while (size > 0) {
    if (waits) {
      const int ready =
          waitReady(fd, reading ? POLLIN : POLLOUT, bound.stop, msLeft(bound.deadline));
      if (ready == 1) {
        errno = ECANCELED;
        return fail(error, "stopping");
      }
      if (ready == 2) {
        errno = ETIMEDOUT;
        return fail(error, bound.timedOut);
      }
      if (ready < 0) return fail(error, withErrno(failure, errno));
    }
    const size_t chunk = size < kTransferChunk ? size : kTransferChunk;
    const int flags = MSG_NOSIGNAL | (waits ? MSG_DONTWAIT : 0);
    const ssize_t n = reading ? ::recv(fd, p, chunk, flags) : ::send(fd, p, chunk, flags);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return fail(error, withErrno(failure, errno));
    }
    if (n == 0) {
      if (!reading) return fail(error, withErrno(failure, 0));
      // The client form carries the error number, as the Windows client's does.
      return fail(error, bound.stop ? std::string("connection closed")
                                    : withErrno("connection closed", 0));
    }
    if (moved) {
      *moved = static_cast<size_t>(n);
      return true;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// readFrameVia's `first`: some bytes of a frame, their count, 0 on failure.
size_t transferSome(int fd, void* buffer, size_t size, const Bound& bound, std::string* error) {
  size_t moved = 0;
  return transfer(fd, true, buffer, size, bound, error, &moved) ? moved : 0;
}

}  // namespace

void PipeHandle::reset(intptr_t h) {
  if (h_ != kInvalid) ::close(static_cast<int>(h_));
  h_ = h;
}

std::wstring pipePath() {
  const char* env = std::getenv("ZORVEK_PIPE");
  if (env && *env) return toWide(env);
  if (::geteuid() == 0) return toWide(std::string("/run/zorvek/") + kSocketName);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') return toWide(std::string(runtime) + "/" + kSocketName);
  return toWide("/tmp/zorvek-" + std::to_string(::geteuid()) + "/" + kSocketName);
}

PipeHandle connectPipe(const std::wstring& path, std::string* error, uint32_t timeoutMs,
                       unsigned* attempts) {
  const std::string native = toUtf8(path);
  sockaddr_un addr{};
  if (!fillAddress(native, addr, error)) return {};
  unsigned tries = 0;
  int err = 0;
  for (uint32_t waited = 0;; waited += 200) {
    ++tries;
    PipeHandle sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock) {
      err = errno;
      break;
    }
    // A socket is only trusted in a folder nobody else could have put it in.
    err = isOverride(native) ? 0 : checkFolder(parentOf(native));
    if (err == EACCES) break;
    if (err == 0) {
      if (::connect(fdOf(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        if (attempts) *attempts = tries;
        return sock;
      }
      err = errno;
    }
    // No socket file, or one nobody listens on: the pipe does not exist and the wait returns
    // at once, as WaitNamedPipe does. A full backlog is a busy pipe: wait the 200 ms.
    const bool missing = err == ENOENT || err == ECONNREFUSED;
    if (!missing && err != EAGAIN) break;
    if (waited >= timeoutMs) break;
    if (!missing) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (attempts) *attempts = tries;
  fail(error, withErrno("cannot connect to service pipe", err));
  return {};
}

bool exchange(PipeHandle& pipe, uint32_t opcode, std::string_view payload, uint32_t& replyOpcode,
              std::string& replyPayload, std::string* error, uint32_t timeoutMs) {
  const int fd = fdOf(pipe);
  Bound bound{nullptr, deadlineAfter(timeoutMs)};
  const auto write = [&](void* p, size_t n) { return transfer(fd, false, p, n, bound, error); };
  const auto read = [&](void* p, size_t n) { return transfer(fd, true, p, n, bound, error); };
  const auto some = [&](void* p, size_t n) { return transferSome(fd, p, n, bound, error); };
  if (!writeFrameVia(write, opcode, payload, error)) return false;
  // The reply's time starts once the request is written.
  bound.deadline = deadlineAfter(timeoutMs);
  return readFrameVia(some, read, replyOpcode, replyPayload, error);
}

bool writeRaw(PipeHandle& pipe, std::string_view bytes, std::string* error, uint32_t timeoutMs) {
  return transfer(fdOf(pipe), false, const_cast<char*>(bytes.data()), bytes.size(),
                  {nullptr, deadlineAfter(timeoutMs)}, error);
}

bool readFrame(PipeHandle& pipe, const Event& stop, uint32_t& opcode, std::string& payload,
               std::string* error, const SessionLimits& limits) {
  const int fd = fdOf(pipe);
  const auto first = [&](void* p, size_t n) {
    return transferSome(fd, p, n, {&stop, deadlineAfter(limits.idleMs), kSessionIdleText}, error);
  };
  // Once the request has begun, all of it must follow within frameMs.
  Bound rest{&stop, kNoDeadline, kSessionTimedOutText};
  bool begun = false;
  const auto read = [&](void* p, size_t n) {
    if (!begun) rest.deadline = deadlineAfter(limits.frameMs);
    begun = true;
    return transfer(fd, true, p, n, rest, error);
  };
  return readFrameVia(first, read, opcode, payload, error);
}

bool writeFrame(PipeHandle& pipe, const Event& stop, uint32_t opcode, std::string_view payload,
                std::string* error, const SessionLimits& limits) {
  const Bound bound{&stop, deadlineAfter(limits.replyMs), kSessionTimedOutText};
  const auto write = [&](void* p, size_t n) { return transfer(fdOf(pipe), false, p, n, bound, error); };
  return writeFrameVia(write, opcode, payload, error);
}

bool isQuietEnd(std::string_view error) {
  return error.rfind("connection closed", 0) == 0 || error == "stopping" ||
         error == kSessionIdleText || error.find("(errno=104)") != std::string_view::npos ||  // ECONNRESET
         error.find("(errno=32)") != std::string_view::npos;     // EPIPE
}

PipeServer::PipeServer(std::wstring path) : path_(std::move(path)) {}

PipeServer::~PipeServer() {
  if (!listener_) return;
  // Remove the socket file only while it is still ours: a newer server may own the path now.
  const std::string native = toUtf8(path_);
  struct stat st{};
  if (::lstat(native.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_ino) == boundInode_) {
    ::unlink(native.c_str());
  }
}

bool PipeServer::listen(std::string* error) {
  if (listener_) return true;
  const std::string native = toUtf8(path_);
  sockaddr_un addr{};
  if (!fillAddress(native, addr, error)) return false;
  if (!isOverride(native)) {
    const std::string folder = parentOf(native);
    // Traversable by everyone, whatever the umask: any local user may connect.
    if (::mkdir(folder.c_str(), 0755) == 0) {
      ::chmod(folder.c_str(), 0755);
    } else if (errno != EEXIST) {
      fail(error, withErrno("CreateNamedPipe failed, cannot create pipe folder", errno));
      return false;
    }
    if (const int err = checkFolder(folder); err != 0) {
      fail(error, withErrno("CreateNamedPipe failed, unsafe pipe folder", err));
      return false;
    }
  }
  // A socket file nobody answers on is left over from a server that died: replace it. One
  // that answers belongs to a running server, which keeps it.
  struct stat st{};
  if (::lstat(native.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
    PipeHandle probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (probe &&
        ::connect(fdOf(probe), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      fail(error, withErrno("CreateNamedPipe failed, pipe in use", EADDRINUSE));
      return false;
    }
    ::unlink(native.c_str());
  }
  PipeHandle sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock ||
      ::bind(fdOf(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    fail(error, withErrno("CreateNamedPipe failed", errno));
    return false;
  }
  if (::chmod(native.c_str(), 0666) != 0 || ::listen(fdOf(sock), kBacklog) != 0 ||
      ::lstat(native.c_str(), &st) != 0) {
    const int err = errno;
    ::unlink(native.c_str());
    fail(error, withErrno("CreateNamedPipe failed", err));
    return false;
  }
  boundInode_ = static_cast<uint64_t>(st.st_ino);
  listener_ = std::move(sock);
  return true;
}

PipeServer::Accept PipeServer::accept(const Event& stop, PipeHandle& client, std::string* error) {
  if (!listen(error)) return Accept::CreateFailed;
  for (;;) {
    const int ready = waitReady(fdOf(listener_), POLLIN, &stop);
    if (ready == 1) return Accept::Stopped;
    if (ready < 0) {
      fail(error, withErrno("ConnectNamedPipe failed", errno));
      return Accept::Failed;
    }
    const int fd = ::accept4(fdOf(listener_), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      client.reset(fd);
      return Accept::Connected;
    }
    // A client that gave up between poll and accept is not worth a log line.
    if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
    fail(error, withErrno("ConnectNamedPipe failed", errno));
    return Accept::Failed;
  }
}

void PipeServer::finish(PipeHandle& client, const Event* cutShort) {
  if (!client) return;
  // Our half-close tells the client no more is coming; wait (bounded) for its close so a reply
  // still in flight is not cut off.
  ::shutdown(fdOf(client), SHUT_WR);
  char sink[256];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (waitReady(fdOf(client), POLLIN, cutShort, static_cast<int>(left.count())) != 0) break;
    const ssize_t n = ::recv(fdOf(client), sink, sizeof sink, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
  }
  client.reset();
}

bool clientIsPrivileged(const PipeHandle& client) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fdOf(client), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  return cred.uid == 0 || cred.uid == ::geteuid();
}

}  // namespace zorvek::ipc
