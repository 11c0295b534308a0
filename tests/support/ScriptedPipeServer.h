#pragma once
// A pipe server on a name of its own whose answers the test writes down beforehand, for clients
// that must cope with whatever a service sends. Each connection is one step of the script: the
// server reads one request frame, records it, writes the step's bytes and closes (or, for a
// held step, waits until the client closes). Connections beyond the script go to the responder,
// or are closed unanswered without one.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "TestUtil.h"
#include "common/platform/Event.h"
#include "common/platform/Pipe.h"

namespace zorvek::test {

class ScriptedPipeServer {
 public:
  struct Step {
    std::string bytes;  // written as they are once the request is read
    bool hold = false;  // then keep the connection open until the client closes it
    bool cut = false;   // then disconnect at once, without waiting for the client to read
  };
  // One well-formed reply frame.
  static Step reply(uint32_t opcode, std::string_view payload = {});
  static Step raw(std::string bytes, bool hold = false) { return {std::move(bytes), hold}; }
  // Reads the request and answers nothing until the client gives up.
  static Step silent() { return {{}, true}; }
  // Hangs up after `bytes` (which a Windows client may not get to read).
  static Step hangUp(std::string bytes = {}) { return {std::move(bytes), false, true}; }

  struct Request {
    uint32_t opcode = 0;
    std::string payload;
    bool operator==(const Request&) const = default;
  };
  // Past the script, a responder answers each request (on the server's thread): a fake service
  // for a client that keeps polling.
  using Responder = std::function<Step(const Request&)>;

  explicit ScriptedPipeServer(std::vector<Step> script, Responder responder = {});
  ~ScriptedPipeServer();
  ScriptedPipeServer(const ScriptedPipeServer&) = delete;
  ScriptedPipeServer& operator=(const ScriptedPipeServer&) = delete;

  const std::wstring& path() const { return path_; }

  // The requests read so far, in order.
  std::vector<Request> requests() const;

 private:
  void serve();

  TempDir dir_;
  std::wstring path_;
  std::vector<Step> script_;
  Responder responder_;
  Event stop_;
  ipc::PipeServer server_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::thread thread_;
};

// A pipe name on which nobody listens.
std::wstring unusedPipePath(const TempDir& dir);

}  // namespace zorvek::test
