// Requests from an untrusted pipe client: any opcode with any payload against a live engine. Every
// request must produce exactly one reply, an error reply carrying its text.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "common/Messages.h"
#include "common/Text.h"
#include "common/platform/System.h"
#include "service/engine/ScanWorker.h"
#include "service/main/Dispatcher.h"

using namespace zorvek;

namespace {

struct Fixture {
  Fixture() {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zorvek-dispatcher-fuzz-" + std::to_string(currentProcessId()));
    std::filesystem::create_directories(dir);
    setEnvironmentVariable(L"ZORVEK_DATA_DIR", pathToWide(dir));
    svc::EngineOptions options;
    options.dataFolder = pathToWide(dir);
    // Quick and full scans would walk the real disks.
    options.hooks.quickTargets = [] { return std::vector<ScanTarget>{}; };
    options.hooks.fullTargets = [](bool) { return std::vector<ScanTarget>{}; };
    engine = std::make_unique<svc::ScanWorker>(options);
    if (!engine->init()) std::abort();
    dispatcher = std::make_unique<svc::Dispatcher>(*engine, svc::DispatcherOptions{});
  }
  std::unique_ptr<svc::ScanWorker> engine;
  std::unique_ptr<svc::Dispatcher> dispatcher;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  if (size < 1) return 0;
  const uint32_t opcode = data[0] % 24u;
  const std::string_view payload(reinterpret_cast<const char*>(data + 1), size - 1);
  if (opcode == ipc::kOpStartScan) {
    // A list of paths would scan whatever the input names.
    ipc::StartScanRequest r;
    if (ipc::decodeStartScanRequest(payload, r) && !r.paths.empty()) return 0;
  }
  const bool privileged = size > 1 && (data[1] & 1) != 0;
  const svc::Caller caller{[&] { return privileged; },
                           [] { return ClientIdentity::ofUser(65534, 65534, {}); }};
  const svc::Reply reply = fixture.dispatcher->handle(opcode, payload, caller);
  if (reply.opcode != opcode && reply.opcode != ipc::kOpError) std::abort();
  if (reply.opcode == ipc::kOpError && reply.error.empty()) std::abort();
  if (reply.stopService && opcode != ipc::kOpShutdown) std::abort();
  return 0;
}
