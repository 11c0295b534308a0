#include "service/main/ClientModes.h"

#include "common/Messages.h"
#include "common/Text.h"

namespace zorvek::svc {
namespace {

using ipc::CallFailure;
constexpr std::chrono::seconds kPause{1};
constexpr int kConnectAttempts = 3;
constexpr int kUpdatePolls = 120;

class Console {
 public:
  explicit Console(const ClientModeContext& context) : context_(context) {}
  void operator()(const std::wstring& text) const { context_.print(text); }
  void operator()(const std::string& utf8) const { context_.print(toWide(utf8)); }
  void operator()(const char* utf8) const { context_.print(toWide(utf8)); }

 private:
  const ClientModeContext& context_;
};

}  // namespace

int runPing(const ClientModeContext& context) {
  const Console print(context);
  ipc::ServiceClient client(context.client);
  ipc::HelloReply hello;
  for (int attempt = 1;; ++attempt) {
    std::string error;
    if (client.hello(hello, &error)) break;
    if (client.failure() == CallFailure::Exchange) {
      print("обмен не удался: " + error);
      return 2;
    }
    if (client.failure() != CallFailure::Connect) {
      print("непонятный ответ службы");
      return 3;
    }
    print("попытка " + std::to_string(attempt) + ": " + error);
    context.sleep(kPause);
    if (attempt == kConnectAttempts) {
      print("служба не запущена или канал не создан");
      return 1;
    }
  }
  const auto onOff = [](bool on) { return std::string(on ? "вкл" : "выкл"); };
  print("служба отвечает");
  print("  версия:      " + hello.version);
  print("  сигнатуры:   " + std::to_string(hello.signatureCount) + " (" + hello.databaseVersion + ")");
  print("  защита:      " + onOff(hello.protectionEnabled));
  print("  real-time:   " + onOff(hello.realTimeEnabled));
  print("  minifilter:  " + std::string(hello.minifilter ? "подключён" : "нет"));
  return 0;
}

int runUpdateCheck(const ClientModeContext& context) {
  const Console print(context);
  ipc::ServiceClient client(context.client);
  std::string error;
  if (!client.startSelfUpdate(&error)) {
    if (client.failure() == CallFailure::Connect) {
      print("канал не открыт: " + error);
      return 1;
    }
    print("запуск проверки не удался: " + error);
    return 2;
  }
  for (int poll = 0; poll < kUpdatePolls; ++poll) {
    context.sleep(kPause);
    ipc::HelloReply hello;
    if (!client.hello(hello, &error)) {
      print("опрос состояния не удался: " + error);
      return 3;
    }
    if (hello.selfUpdateRunning) continue;
    if (!hello.selfUpdateError.empty()) {
      print("обновление не удалось: " + hello.selfUpdateError);
      return 4;
    }
    if (!hello.installerPath.empty()) {
      print(L"установщик скачан: " + hello.installerPath);
    } else {
      print("обновлений нет — версия актуальна");
    }
    return 0;
  }
  print("проверка не завершилась за 120 с");
  return 5;
}

int runFirewallStatus(const ClientModeContext& context) {
  const Console print(context);
  ipc::ServiceClient client(context.client);
  std::string status, error;
  if (client.firewallStatus(status, &error)) {
    print(status);
    return 0;
  }
  switch (client.failure()) {
    case CallFailure::Connect:
      print("канал не открыт: " + error);
      break;
    case CallFailure::Exchange:
      print("обмен не удался: " + error);
      break;
    case CallFailure::ErrorReply:
      print("служба ответила ошибкой: " + error);
      break;
    default:
      print("непонятный ответ службы");
      break;
  }
  return 1;
}

}  // namespace zorvek::svc
