#include "common/platform/win32/Win.h"

#include "common/client/ServiceClient.h"
#include "setup/win32/Services.h"

namespace setup {
namespace {

constexpr int kHelloAttempts = 10;
constexpr DWORD kHelloPauseMs = 500;
constexpr uint32_t kHelloConnectMs = 2000;
// The installed service's own pipe: ZORVEK_PIPE of this process is not the service's.
constexpr wchar_t kServicePipe[] = L"\\\\.\\pipe\\ZorvekAV";

}  // namespace

bool serviceAnswersHello() {
  zorvek::ipc::ClientOptions options;
  options.pipe = kServicePipe;
  options.connectBudgetMs = kHelloConnectMs;
  zorvek::ipc::ServiceClient client(options);
  for (int attempt = 1; attempt <= kHelloAttempts; ++attempt) {
    // Only a complete HelloReply counts: the client checks the opcode and decodes the payload.
    zorvek::ipc::HelloReply reply;
    if (client.hello(reply)) return true;
    if (attempt < kHelloAttempts) Sleep(kHelloPauseMs);
  }
  return false;
}

}  // namespace setup
