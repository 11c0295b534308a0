#pragma once
// What the desktop program's model hands to the outside world, recorded for the tests: the
// client's pauses and log lines, and the message boxes.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedPipeServer.h"
#include "gui/model/Prompts.h"
#include "gui/model/SessionClient.h"

namespace zorvek::gui::test {

struct Box {
  BoxIcon icon;
  std::string text;
  bool operator==(const Box&) const = default;
};

class RecordingPrompts : public Prompts {
 public:
  void show(BoxIcon icon, std::string_view text) override { boxes.push_back({icon, std::string(text)}); }
  bool ask(BoxIcon icon, std::string_view text) override {
    boxes.push_back({icon, std::string(text)});
    return answer;
  }
  std::vector<Box> boxes;
  bool answer = false;
};

// A session client on `pipe` whose pauses and warnings land in the vectors instead.
struct RecordedClient {
  explicit RecordedClient(const std::wstring& pipe)
      : client([&] {
          SessionOptions o;
          o.client.pipe = pipe;
          o.client.connectBudgetMs = 100;
          o.client.replyTimeoutMs = 2000;
          o.sleep = [this](std::chrono::milliseconds d) { sleeps.push_back(d); };
          o.logWarning = [this](std::string_view line) { warnings.emplace_back(line); };
          return o;
        }()) {}
  RecordedClient(const RecordedClient&) = delete;
  RecordedClient& operator=(const RecordedClient&) = delete;

  std::vector<std::chrono::milliseconds> sleeps;
  std::vector<std::string> warnings;
  SessionClient client;
};

}  // namespace zorvek::gui::test
