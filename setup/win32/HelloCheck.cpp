#include "common/platform/win32/Win.h"

#include "common/Messages.h"
#include "common/platform/Pipe.h"
#include "setup/win32/Services.h"

namespace setup {
namespace {

constexpr int kHelloAttempts = 10;
constexpr DWORD kHelloPauseMs = 500;
constexpr uint32_t kHelloConnectMs = 2000;
// The installed service's own pipe: ZORVEK_PIPE of this process is not the service's.
constexpr wchar_t kServicePipe[] = L"\\\\.\\pipe\\ZorvekAV";

bool helloOnce() {
  zorvek::ipc::PipeHandle pipe = zorvek::ipc::connectPipe(kServicePipe, nullptr, kHelloConnectMs);
  if (!pipe) return false;
  uint32_t opcode = 0;
  std::string payload;
  zorvek::ipc::HelloReply reply;
  return zorvek::ipc::exchange(pipe, zorvek::ipc::kOpHello, {}, opcode, payload) &&
         opcode == zorvek::ipc::kOpHello && zorvek::ipc::decodeHelloReply(payload, reply);
}

}  // namespace

bool serviceAnswersHello() {
  for (int attempt = 1; attempt <= kHelloAttempts; ++attempt) {
    if (helloOnce()) return true;
    if (attempt < kHelloAttempts) Sleep(kHelloPauseMs);
  }
  return false;
}

}  // namespace setup
