#include "service/main/ServiceHost.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>

#include "common/DataPaths.h"
#include "common/Logger.h"
#include "common/Text.h"
#include "common/platform/Event.h"
#include "common/platform/Pipe.h"
#include "service/engine/ScanWorker.h"
#include "service/firewall/Firewall.h"
#include "service/main/ClientModes.h"
#include "service/main/Dispatcher.h"
#include "service/main/HostPlatform.h"
#include "service/realtime/RealTimeProtection.h"
#include "service/net/LiveUpdate.h"
#include "service/net/SelfUpdate.h"
#include "service/net/WebShield.h"

namespace zorvek::svc {

const char kUsageText[] =
    "launch it through the Service Control Manager:\n"
    "  sc create ZorvekService binPath= \"<path>\\ZorvekService.exe\" start= auto\n"
    "  sc start ZorvekService\n"
    "or run it without SCM rights:\n"
    "  ZorvekService.exe --console\n"
    "diagnostics against a running service:\n"
    "  ZorvekService.exe --ping\n"
    "  ZorvekService.exe --update-check\n"
    "  ZorvekService.exe --fw";

namespace {

// All that the control and console handlers reach: they run on threads of their own and may
// fire at any moment, even during exit. The engine belongs to the run mode that started it.
std::atomic<bool> g_stopping{false};
// Created once, before any handler can fire, and never replaced nor destroyed.
Event& stopEvent() {
  static Event* event = new Event(Event::Reset::Manual, false);
  return *event;
}

void print(const std::wstring& text) { host::printLine(text); }
void print(const std::string& utf8) { host::printLine(toWide(utf8)); }

// The engine of the program, with real-time protection on its hooks.
std::unique_ptr<ScanWorker> startProgramEngine(std::shared_ptr<RealTimeProtection>& realTime,
                                               std::string* error) {
  EngineOptions options;
  options.hooks.liveUpdate = [](LiveUpdateAccess& engine, std::string* why) {
    return updateSignaturesNow(engine, why);
  };
  options.hooks.webShield = [](WebShieldAccess& engine) { runWebShield(engine); };
  options.hooks.selfUpdate = [](SelfUpdateAccess& engine, std::string* why) {
    return checkForUpdate(engine, why);
  };
  RealTimeOptions realTimeOptions;
  realTimeOptions.watcher.folders = watchedFoldersFromEnvironment();
  realTime = RealTimeProtection::install(options.hooks, std::move(realTimeOptions));
  return startEngine(error, std::move(options));
}

DispatcherOptions dispatcherOptions(std::shared_ptr<RealTimeProtection> realTime) {
  DispatcherOptions options;
  options.liveUpdate = true;
  options.selfUpdate = true;
  options.minifilterRegistered = [realTime] {
    return realTime->minifilterConnected() || host::minifilterRegistered();
  };
  options.notificationOverflows = [realTime] { return realTime->watcherCounters().lost.load(); };
  options.firewall = {fw::status, fw::request};
  options.requestStop = requestStop;
  return options;
}

int servePipe(ScanWorker& engine, std::shared_ptr<RealTimeProtection> realTime) {
  Dispatcher dispatcher(engine, dispatcherOptions(std::move(realTime)));
  ipc::PipeServer server;
  runPipeServer(server, stopEvent(), g_stopping, dispatcher);
  return 0;
}

// --- Service mode ---------------------------------------------------------------------------

void serviceMain() {
  if (!host::registerControlHandler(requestStop)) return;
  host::reportStatus(host::ServiceState::StartPending, 0, 30000);
  logStatus("initialising");
  std::string error;
  std::shared_ptr<RealTimeProtection> realTime;
  std::unique_ptr<ScanWorker> engine = startProgramEngine(realTime, &error);
  if (!engine) {
    logError("startup failed: " + error);
    host::reportStatus(host::ServiceState::Stopped, 1066);  // ERROR_SERVICE_SPECIFIC_ERROR
    return;
  }
  host::reportStatus(host::ServiceState::Running);
  logStatus("running");
  servePipe(*engine, realTime);
  host::reportStatus(host::ServiceState::StopPending, 0, 30000);
  stopEngine(engine);
  host::reportStatus(host::ServiceState::Stopped);
}

int runAsService() {
  uint32_t win32Error = 0;
  if (host::runServiceDispatcher(serviceMain, &win32Error)) return 0;
  logError("StartServiceCtrlDispatcher failed, win32=" + std::to_string(win32Error));
  logInfo(kUsageText);
  return static_cast<int>(win32Error);
}

// --- Console mode ---------------------------------------------------------------------------

int runConsole() {
  host::installConsoleStopHandler(requestStop);
  std::string error;
  std::shared_ptr<RealTimeProtection> realTime;
  std::unique_ptr<ScanWorker> engine = startProgramEngine(realTime, &error);
  if (!engine) {
    logError("startup failed: " + error);
    print("запуск не удался: " + error);
    return 1;
  }
  logInfo("running in console mode (Ctrl+C to stop)");
  print(L"служба запущена в консольном режиме. Ctrl+C для остановки.");
  servePipe(*engine, realTime);
  stopEngine(engine);
  logInfo("stopped");
  return 0;
}

}  // namespace

void requestStop() {
  g_stopping.store(true);
  stopEvent().set();
}

std::unique_ptr<ScanWorker> startEngine(std::string* error, EngineOptions options) {
  const auto failWith = [&](std::string text) {
    if (error) *error = std::move(text);
    return nullptr;
  };
  if (!stopEvent().valid()) return failWith("CreateEvent failed");
  std::unique_ptr<ScanWorker> engine;
  try {
    engine = std::make_unique<ScanWorker>(std::move(options));
  } catch (const std::exception& e) {
    return failWith(std::string("out of memory: ") + e.what());
  }
  try {
    logInfo("engine: creating worker");
    std::string why;
    if (!engine->init(&why)) {
      logError("engine: init failed: " + why);
      return failWith(why);
    }
    logInfo("engine: worker initialised");
    if (!engine->start(&why)) {
      logError("engine: start failed: " + why);
      return failWith(why);
    }
    logInfo("engine: started");
    return engine;
  } catch (const std::exception& e) {
    const std::string why = std::string("worker threw: ") + e.what();
    logError("engine: " + why);
    return failWith(why);
  }
}

void stopEngine(std::unique_ptr<ScanWorker>& engine) {
  if (!engine) return;
  engine->stop();
  engine.reset();
}

int serviceProgramMain(const std::vector<std::wstring>& args) {
  // Options count wherever they appear in the command line, even inside a longer word.
  std::wstring line;
  for (size_t i = 1; i < args.size(); ++i) line += args[i] + L" ";
  const auto has = [&](const wchar_t* option) { return line.find(option) != std::wstring::npos; };
  const bool ping = has(L"--ping"), updateCheck = has(L"--update-check"), fw = has(L"--fw"),
             console = has(L"--console");
  if (ping || updateCheck || fw || console) host::ensureConsole();

  const std::wstring logPath = logFilePath();
  // The service keeps the log from filling the disk; its client modes only append.
  if (!ping && !updateCheck && !fw) Logger::instance().setRotation(kServiceLogRotateBytes);
  Logger::instance().open(logPath);
  openCrashLog(logPath);
  host::installCrashHandler();

  const auto pause = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
  const ClientModeContext client{host::printLine, pause, {}};
  if (ping) return runPing(client);
  if (updateCheck) return runUpdateCheck(client);
  if (fw) return runFirewallStatus(client);
  if (console) return runConsole();
  return runAsService();
}

}  // namespace zorvek::svc
