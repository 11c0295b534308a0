#include "common/Fail.h"
#include "common/platform/Pipe.h"

#include "common/platform/win32/Handle.h"

#include <sddl.h>

#include "common/Frame.h"

namespace zorvek::ipc {
namespace {

constexpr wchar_t kDefaultPipe[] = L"\\\\.\\pipe\\ZorvekAV";
// Full access for LocalSystem and for the built-in Users group.
constexpr wchar_t kPipeSddl[] = L"D:(A;;GA;;;SY)(A;;GA;;;BU)";
constexpr DWORD kMaxInstances = 255;
constexpr DWORD kBufferSize = 0x10000;
constexpr DWORD kDefaultTimeoutMs = 30000;
constexpr DWORD kWaitStepMs = 200;
// How long finish() lets a client read the last reply before the instance is disconnected.
constexpr DWORD kLingerMs = 1000;

std::string withWin32(const char* text, DWORD err) {
  return std::string(text) + " (win32=" + std::to_string(err) + ")";
}

HANDLE handleOf(const PipeHandle& h) { return reinterpret_cast<HANDLE>(h.get()); }

UniqueKernelHandle manualEvent() {
  return UniqueKernelHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// The event overlapped transfers wait on; false with the transfer's error when it cannot be made.
bool ioEvent(UniqueKernelHandle& event, std::string* error) {
  event = manualEvent();
  return event ? true : fail(error, withWin32("CreateEvent failed", GetLastError()));
}

// What ends an overlapped transfer early: the server's stop event, and a deadline (a
// GetTickCount64 value) that fails the transfer with `timedOut`.
// `io`, when given, is the event every transfer of one exchange waits on; each Wine kernel object
// is a round trip to its server, which one event per frame instead of per call saves.
struct Bound {
  const Event* stop = nullptr;
  ULONGLONG deadline = kNoDeadline;
  const char* timedOut = kTimedOutText;
  HANDLE io = nullptr;
  static constexpr ULONGLONG kNoDeadline = ~0ull;
};

ULONGLONG deadlineAfter(uint32_t timeoutMs) {
  return timeoutMs == kWaitForever ? Bound::kNoDeadline : GetTickCount64() + timeoutMs;
}

DWORD msLeft(ULONGLONG deadline) {
  if (deadline == Bound::kNoDeadline) return INFINITE;
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now < INFINITE ? deadline - now : INFINITE - 1);
}

void cancelAndWait(HANDLE h, OVERLAPPED& ov) {
  CancelIoEx(h, &ov);
  DWORD ignored = 0;
  GetOverlappedResult(h, &ov, &ignored, TRUE);
}

// Overlapped I/O of exactly `size` bytes in chunks of at most 64 KiB (every handle of the
// transport is overlapped); with `moved`, only the first chunk (at least one byte), whose count it
// receives. Ends with bound.timedOut at the deadline. The server's form also ends with "stopping"
// as soon as the stop event is set; the client's texts carry the error number: "connection closed
// (win32=N)" where the server says "connection closed".
bool transfer(HANDLE h, bool reading, void* buffer, size_t size, Bound bound,
              std::string* error, size_t* moved = nullptr) {
  auto* p = static_cast<char*>(buffer);
  const char* failure = reading ? "ReadFile failed" : "WriteFile failed";
  const bool client = bound.stop == nullptr;
  // The peer closing its end mid-frame shows as a broken pipe. The server leaves the last error
  // at ERROR_BROKEN_PIPE for callers that look at it.
  const auto closed = [&](DWORD err) {
    if (client) return fail(error, withWin32("connection closed", err));
    SetLastError(ERROR_BROKEN_PIPE);
    return fail(error, "connection closed");
  };
  const auto isClosed = [&](DWORD err) {
    return reading && (err == ERROR_BROKEN_PIPE || (client && err == ERROR_PIPE_NOT_CONNECTED));
  };
  UniqueKernelHandle own;
  if (!bound.io && size > 0) {
    if (!ioEvent(own, error)) return false;
    bound.io = own.get();
  }
  while (size > 0) {
    // Starting the I/O resets the event.
    OVERLAPPED ov{};
    ov.hEvent = bound.io;
    const DWORD chunk = static_cast<DWORD>(size < kTransferChunk ? size : kTransferChunk);
    const BOOL started =
        reading ? ReadFile(h, p, chunk, nullptr, &ov) : WriteFile(h, p, chunk, nullptr, &ov);
    if (!started) {
      const DWORD err = GetLastError();
      if (isClosed(err)) return closed(err);
      if (err != ERROR_IO_PENDING) return fail(error, withWin32(failure, err));
    }
    const HANDLE handles[2] = {
        bound.io, bound.stop ? reinterpret_cast<HANDLE>(bound.stop->nativeHandle()) : nullptr};
    // Done at once (the bytes were there): no wait.
    const DWORD wait = started ? WAIT_OBJECT_0
                               : WaitForMultipleObjects(bound.stop ? 2 : 1, handles, FALSE,
                                                        msLeft(bound.deadline));
    if (wait == WAIT_OBJECT_0) {
      DWORD done = 0;
      if (!GetOverlappedResult(h, &ov, &done, FALSE)) {
        const DWORD err = GetLastError();
        if (isClosed(err)) return closed(err);
        return fail(error, withWin32(failure, err));
      }
      if (done == 0) {
        if (!client) return fail(error, "connection closed");
        return reading ? closed(0) : fail(error, withWin32(failure, 0));
      }
      if (moved) {
        *moved = done;
        return true;
      }
      p += done;
      size -= done;
    } else if (bound.stop && wait == WAIT_OBJECT_0 + 1) {
      cancelAndWait(h, ov);
      SetLastError(ERROR_OPERATION_ABORTED);
      return fail(error, "stopping");
    } else if (wait == WAIT_TIMEOUT) {
      cancelAndWait(h, ov);
      SetLastError(ERROR_TIMEOUT);
      return fail(error, bound.timedOut);
    } else {
      const DWORD err = GetLastError();
      cancelAndWait(h, ov);
      return fail(error, withWin32("WaitForMultipleObjects failed", err));
    }
  }
  return true;
}

// readFrameVia's `first`: some bytes of a frame, their count, 0 on failure.
size_t transferSome(HANDLE h, void* buffer, size_t size, const Bound& bound, std::string* error) {
  size_t moved = 0;
  return transfer(h, true, buffer, size, bound, error, &moved) ? moved : 0;
}

// One pipe instance. The first instance of a server is created with FILE_FLAG_FIRST_PIPE_INSTANCE:
// if someone else already holds the name, clients would be talking to them, so we refuse.
PipeHandle createServerPipe(const std::wstring& name, bool first) {
  UniqueLocal<PSECURITY_DESCRIPTOR> sd;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPipeSddl, SDDL_REVISION_1, sd.put(),
                                                            nullptr)) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return {};
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, sd.get(), FALSE};
  const DWORD openMode =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  // PIPE_REJECT_REMOTE_CLIENTS: this pipe controls quarantine; local callers only.
  const HANDLE h = CreateNamedPipeW(
      name.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      kMaxInstances, kBufferSize, kBufferSize, kDefaultTimeoutMs, &sa);
  const DWORD err = GetLastError();
  sd.reset();
  SetLastError(err);
  return PipeHandle(reinterpret_cast<intptr_t>(h));
}

}  // namespace

void PipeHandle::reset(intptr_t h) {
  if (h_ != kInvalid) FileTraits::close(reinterpret_cast<HANDLE>(h_));
  h_ = h;
}

std::wstring pipePath() {
  wchar_t buffer[512];
  const DWORD n = GetEnvironmentVariableW(L"ZORVEK_PIPE", buffer, 512);
  if (n > 0 && n < 512) return std::wstring(buffer, n);
  return kDefaultPipe;
}

PipeHandle connectPipe(const std::wstring& path, std::string* error, uint32_t timeoutMs,
                       unsigned* attempts) {
  unsigned tries = 0;
  DWORD err = 0;
  for (uint32_t waited = 0;; waited += kWaitStepMs) {
    ++tries;
    // Identification only: a process squatting on the pipe name learns who we are but cannot
    // act as us. Overlapped, so every wait for the service can end at a deadline.
    const HANDLE h = CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (attempts) *attempts = tries;
      return PipeHandle(reinterpret_cast<intptr_t>(h));
    }
    err = GetLastError();
    if (err != ERROR_PIPE_BUSY && err != ERROR_FILE_NOT_FOUND) break;
    WaitNamedPipeW(path.c_str(), kWaitStepMs);
    if (waited >= timeoutMs) break;
  }
  if (attempts) *attempts = tries;
  fail(error, withWin32("cannot connect to service pipe", err));
  SetLastError(err);
  return {};
}

bool exchange(PipeHandle& pipe, uint32_t opcode, std::string_view payload, uint32_t& replyOpcode,
              std::string& replyPayload, std::string* error, uint32_t timeoutMs) {
  const HANDLE h = handleOf(pipe);
  UniqueKernelHandle io;
  if (!ioEvent(io, error)) return false;
  Bound bound{nullptr, deadlineAfter(timeoutMs), kTimedOutText, io.get()};
  const auto write = [&](void* p, size_t n) { return transfer(h, false, p, n, bound, error); };
  const auto read = [&](void* p, size_t n) { return transfer(h, true, p, n, bound, error); };
  const auto some = [&](void* p, size_t n) { return transferSome(h, p, n, bound, error); };
  if (!writeFrameVia(write, opcode, payload, error)) return false;
  // The reply's time starts once the request is written.
  bound.deadline = deadlineAfter(timeoutMs);
  return readFrameVia(some, read, replyOpcode, replyPayload, error);
}

bool writeRaw(PipeHandle& pipe, std::string_view bytes, std::string* error, uint32_t timeoutMs) {
  return transfer(handleOf(pipe), false, const_cast<char*>(bytes.data()), bytes.size(),
                  {nullptr, deadlineAfter(timeoutMs)}, error);
}

bool readFrame(PipeHandle& pipe, const Event& stop, uint32_t& opcode, std::string& payload,
               std::string* error, const SessionLimits& limits) {
  const HANDLE h = handleOf(pipe);
  UniqueKernelHandle io;
  if (!ioEvent(io, error)) return false;
  const auto first = [&](void* p, size_t n) {
    return transferSome(h, p, n, {&stop, deadlineAfter(limits.idleMs), kSessionIdleText, io.get()},
                        error);
  };
  // Once the request has begun, all of it must follow within frameMs.
  Bound rest{&stop, Bound::kNoDeadline, kSessionTimedOutText, io.get()};
  bool begun = false;
  const auto read = [&](void* p, size_t n) {
    if (!begun) rest.deadline = deadlineAfter(limits.frameMs);
    begun = true;
    return transfer(h, true, p, n, rest, error);
  };
  return readFrameVia(first, read, opcode, payload, error);
}

bool writeFrame(PipeHandle& pipe, const Event& stop, uint32_t opcode, std::string_view payload,
                std::string* error, const SessionLimits& limits) {
  // Most replies are one transfer (writeFrameVia), whose own event is all it needs.
  const Bound bound{&stop, deadlineAfter(limits.replyMs), kSessionTimedOutText};
  const auto write = [&](void* p, size_t n) {
    return transfer(handleOf(pipe), false, p, n, bound, error);
  };
  return writeFrameVia(write, opcode, payload, error);
}

bool isQuietEnd(std::string_view error) {
  return error.rfind("connection closed", 0) == 0 || error == "stopping" ||
         error == kSessionIdleText ||
         error.find("(win32=109)") != std::string_view::npos ||  // ERROR_BROKEN_PIPE
         error.find("(win32=233)") != std::string_view::npos;    // ERROR_PIPE_NOT_CONNECTED
}

PipeServer::PipeServer(std::wstring path) : path_(std::move(path)) {}

PipeServer::~PipeServer() = default;

bool PipeServer::listen(std::string* error) {
  if (listener_) return true;
  // Holding no instance at all: this one must be the first of the name.
  listener_ = createServerPipe(path_, true);
  if (listener_) return true;
  return fail(error, "CreateNamedPipe failed, win32=" + std::to_string(GetLastError()));
}

PipeServer::Accept PipeServer::accept(const Event& stop, PipeHandle& client, std::string* error) {
  if (!listen(error)) return Accept::CreateFailed;
  const HANDLE h = handleOf(listener_);
  const UniqueKernelHandle connected = manualEvent();
  if (!connected) {
    fail(error, withWin32("CreateEvent failed", GetLastError()));
    listener_.reset();
    return Accept::Failed;
  }
  OVERLAPPED ov{};
  ov.hEvent = connected.get();
  if (!ConnectNamedPipe(h, &ov)) {
    const DWORD err = GetLastError();
    if (err == ERROR_IO_PENDING) {
      const HANDLE handles[2] = {connected.get(), reinterpret_cast<HANDLE>(stop.nativeHandle())};
      const DWORD wait = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      DWORD ignored = 0;
      if (wait != WAIT_OBJECT_0) {
        const DWORD waitError = GetLastError();
        CancelIoEx(h, &ov);
        GetOverlappedResult(h, &ov, &ignored, TRUE);
        listener_.reset();
        if (wait == WAIT_OBJECT_0 + 1) return Accept::Stopped;
        fail(error, "ConnectNamedPipe failed, win32=" + std::to_string(waitError));
        return Accept::Failed;
      }
      if (!GetOverlappedResult(h, &ov, &ignored, FALSE)) {
        // The client went away before we saw it; a fresh instance takes its place.
        listener_.reset();
        if (error) error->clear();
        return Accept::Failed;
      }
    } else if (err != ERROR_PIPE_CONNECTED && err != ERROR_NO_DATA) {
      // ERROR_NO_DATA: the client came and already closed its end. It counts as a session that
      // ends with "connection closed" once what it wrote has been read, as on POSIX.
      listener_.reset();
      fail(error, "ConnectNamedPipe failed, win32=" + std::to_string(err));
      return Accept::Failed;
    }
  }
  client = std::move(listener_);
  return Accept::Connected;
}

void PipeServer::finish(PipeHandle& client, const Event* cutShort) {
  if (!client) return;
  const HANDLE h = handleOf(client);
  // DisconnectNamedPipe throws away what the client has not read yet. Wait (bounded) for the
  // client to close its end, which it does once it has the reply.
  const UniqueKernelHandle io = manualEvent();
  if (io) {
    OVERLAPPED ov{};
    ov.hEvent = io.get();
    char sink[256];
    const ULONGLONG deadline = GetTickCount64() + kLingerMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
      if (!ReadFile(h, sink, sizeof sink, nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) break;
      const HANDLE handles[2] = {
          io.get(), cutShort ? reinterpret_cast<HANDLE>(cutShort->nativeHandle()) : nullptr};
      const DWORD wait = WaitForMultipleObjects(cutShort ? 2 : 1, handles, FALSE,
                                                static_cast<DWORD>(deadline - now));
      DWORD done = 0;
      if (wait != WAIT_OBJECT_0) {
        CancelIoEx(h, &ov);
        GetOverlappedResult(h, &ov, &done, TRUE);
        break;
      }
      if (!GetOverlappedResult(h, &ov, &done, FALSE) || done == 0) break;
      ResetEvent(io.get());
    }
  }
  DisconnectNamedPipe(h);
  // The next instance exists before the used one closes, so the name never disappears while
  // the server runs.
  if (!listener_) listener_ = createServerPipe(path_, false);
  client.reset();
}

bool clientIsPrivileged(const PipeHandle& client) {
  if (!ImpersonateNamedPipeClient(handleOf(client))) return false;
  UniqueKernelHandle token;
  const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put());
  RevertToSelf();
  if (!opened) return false;
  bool privileged = false;
  for (const WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    BOOL member = FALSE;
    if (CreateWellKnownSid(type, nullptr, sid, &sidSize) &&
        CheckTokenMembership(token.get(), sid, &member) && member) {
      privileged = true;
    }
  }
  return privileged;
}

}  // namespace zorvek::ipc
