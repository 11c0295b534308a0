// The desktop program's one-second tick with a long quarantine: the poll (hello and progress),
// the quarantine list fetched while its page shows and the list has changed, and one paint of
// the window, against an in-process service that answers with N quarantine entries. The
// reference, measured in the same run, is the same tick on the Overview page, which fetches no
// list. The worst case, a quarantine that changes between every two polls, is shown too.
//
//   gui_bench [--entries N] [--ticks N]
// Needs a display (under Wine: run through tests/gui/gui_test.sh with GUI_PROGRAM=gui_bench.exe).

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/Messages.h"
#include "common/platform/Event.h"
#include "common/platform/Pipe.h"
#include "common/platform/System.h"
#include "common/platform/win32/Handle.h"
#include "gui/win32/MainWindow.h"
#include "gui/win32/toolkit/Toolkit.h"

using namespace zorvek;
using Clock = std::chrono::steady_clock;

namespace {

// Answers every request of the desktop program like an idle, protected service.
class BenchService {
 public:
  BenchService(std::wstring pipe, size_t entries) : server_(std::move(pipe)) {
    std::vector<ipc::QuarantineRecord> list(entries);
    for (size_t i = 0; i < entries; ++i) {
      auto& e = list[i];
      e.id = 1700000000000 + i;
      e.name = L"sample" + std::to_wstring(i) + L".exe";
      e.originPath = L"C:\\Users\\Public\\Downloads\\" + e.name;
      e.storedPath = L"C:\\ProgramData\\ZORVEK Antivirus\\Quarantine\\" + std::to_wstring(e.id) + L".q";
      e.sha256 = std::string(64, 'a');
      e.threat = i % 2 ? "Trojan.Agent" : "Adware.Toolbar";
      e.code = "SIG.MATCH";
      e.severity = static_cast<uint32_t>(i % 5);
      e.size = 4096 + i;
    }
    quarantine_ = ipc::encodeQuarantineList(list);
    ipc::HelloReply hello;
    hello.version = "1.2.0";
    hello.signatureCount = 4000000;
    hello.databaseVersion = "2026.12.09";
    hello.protectionEnabled = true;
    hello.quarantineGeneration = 1;
    hello_ = hello;
    std::string error;
    if (!server_.listen(&error)) {
      std::fprintf(stderr, "gui_bench: %s\n", error.c_str());
      std::exit(2);
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~BenchService() {
    stop_.set();
    thread_.join();
  }

  std::atomic<bool> churn{false};

 private:
  void serve() {
    for (;;) {
      ipc::PipeHandle client;
      const auto accepted = server_.accept(stop_, client);
      if (accepted == ipc::PipeServer::Accept::Stopped || accepted == ipc::PipeServer::Accept::CreateFailed)
        return;
      if (accepted != ipc::PipeServer::Accept::Connected) continue;
      uint32_t opcode = 0;
      std::string payload;
      if (ipc::readFrame(client, stop_, opcode, payload)) {
        std::string reply;
        if (opcode == ipc::kOpHello) {
          // A churning quarantine changes between any two polls.
          if (churn) ++hello_.quarantineGeneration;
          reply = ipc::encodeHelloReply(hello_);
        }
        else if (opcode == ipc::kOpProgress) reply = ipc::encodeProgressReply({});
        else if (opcode == ipc::kOpGetConfig) reply = ipc::encodeConfigPayload(Settings{});
        else if (opcode == ipc::kOpQuarantineList) reply = quarantine_;
        (void)ipc::writeFrame(client, stop_, opcode, reply);
      }
      server_.finish(client, &stop_);
    }
  }

  ipc::PipeServer server_;
  Event stop_;
  ipc::HelloReply hello_;
  std::string quarantine_;
  std::thread thread_;
};

// Average milliseconds of one tick: the timer's poll and one paint into a memory bitmap.
double tickMs(HWND hwnd, int ticks, bool poll = true, bool paint = true) {
  RECT client{};
  GetClientRect(hwnd, &client);
  const HDC screen = GetDC(hwnd);
  UniqueMemoryDc memory(CreateCompatibleDC(screen));
  UniqueGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen, client.right, client.bottom));
  ReleaseDC(hwnd, screen);
  const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  const auto start = Clock::now();
  for (int i = 0; i < ticks; ++i) {
    if (poll) SendMessageW(hwnd, WM_TIMER, 1, 0);
    if (paint) SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.get()), PRF_CLIENT);
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / ticks;
  SelectObject(memory.get(), old);
  return ms;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  size_t entries = 5000;
  int ticks = 100;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--entries") == 0) entries = std::wcstoul(argv[i + 1], nullptr, 10);
    if (std::wcscmp(argv[i], L"--ticks") == 0) ticks = std::max(1, _wtoi(argv[i + 1]));
  }
  const std::wstring pipe = L"\\\\.\\pipe\\ZorvekGuiBench-" + std::to_wstring(currentProcessId());
  BenchService service(pipe, entries);

  ui::GdiplusSession gdiplus;
  gui::SessionOptions options;
  options.client.pipe = pipe;
  options.logWarning = [](std::string_view line) { std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data()); };
  gui::MainWindow window(options);
  if (!window.create(GetModuleHandleW(nullptr), true)) {
    std::fprintf(stderr, "gui_bench: cannot create the window\n");
    return 2;
  }
  const HWND hwnd = window.hwnd();
  tickMs(hwnd, 5);  // fonts and the first connection
  const double overview = tickMs(hwnd, ticks);
  SendMessageW(hwnd, WM_COMMAND, gui::kCmdShowQuarantine, 0);
  tickMs(hwnd, 5);
  const double quarantine = tickMs(hwnd, ticks);
  const double pollOnly = tickMs(hwnd, ticks, true, false);
  const double paintOnly = tickMs(hwnd, ticks, false, true);
  service.churn = true;
  const double churning = tickMs(hwnd, ticks);
  service.churn = false;
  DestroyWindow(hwnd);

  // What a change costs: the list's round trip with its decoding, and the decoding alone.
  gui::SessionClient client(options);
  std::vector<ipc::QuarantineRecord> list;
  auto start = Clock::now();
  for (int i = 0; i < ticks; ++i) (void)client.quarantineList(list);
  const double fetch = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / ticks;
  ipc::HelloReply hello;
  start = Clock::now();
  for (int i = 0; i < ticks; ++i) (void)client.hello(hello);
  const double request = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / ticks;
  const std::string encoded = ipc::encodeQuarantineList(list);
  start = Clock::now();
  for (int i = 0; i < ticks; ++i) (void)ipc::decodeQuarantineList(encoded, list);
  const double decode = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / ticks;

  std::printf("gui tick (poll + paint), %zu quarantine entries, %d ticks\n", entries, ticks);
  std::printf("%-34s %10s\n", "", "ms/tick");
  std::printf("%-34s %10.3f\n", "Overview (reference)", overview);
  std::printf("%-34s %10.3f\n", "Quarantine page", quarantine);
  std::printf("%-34s %10.3f\n", "  of which the poll", pollOnly);
  std::printf("%-34s %10.3f\n", "  of which the paint", paintOnly);
  std::printf("%-34s %10.3f\n", "  one request (hello)", request);
  std::printf("%-34s %10.3f\n", "Quarantine changing every tick", churning);
  std::printf("%-34s %10.3f\n", "  a change: the list's round trip", fetch);
  std::printf("%-34s %10.3f  (%zu bytes)\n", "  a change: decoding the list", decode, encoded.size());
  std::printf("%-34s %10.2f\n", "ratio to the reference", quarantine / overview);
  std::printf("%-34s %10.2f  (target below 1)\n", "ratio to the 5 ms budget", quarantine / 5.0);
  return 0;
}
