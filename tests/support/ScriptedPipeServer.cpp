#include "ScriptedPipeServer.h"

#include <stdexcept>

#include "common/Frame.h"

namespace zorvek::test {

ScriptedPipeServer::Step ScriptedPipeServer::reply(uint32_t opcode, std::string_view payload) {
  const ipc::FrameHeader h = ipc::encodeFrameHeader(opcode, static_cast<uint32_t>(payload.size()));
  return {std::string(h.begin(), h.end()) + std::string(payload), false};
}

ScriptedPipeServer::ScriptedPipeServer(std::vector<Step> script, Responder responder)
    : path_(privatePipePath(dir_, L"scripted")),
      script_(std::move(script)),
      responder_(std::move(responder)),
      server_(path_) {
  // Listening before the thread starts: a client may connect as soon as we return.
  std::string error;
  if (!server_.listen(&error)) throw std::runtime_error("scripted pipe server: " + error);
  thread_ = std::thread([this] { serve(); });
}

ScriptedPipeServer::~ScriptedPipeServer() {
  stop_.set();
  thread_.join();
}

std::vector<ScriptedPipeServer::Request> ScriptedPipeServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedPipeServer::serve() {
  for (size_t step = 0;; ++step) {
    ipc::PipeHandle client;
    const auto accepted = server_.accept(stop_, client);
    if (accepted == ipc::PipeServer::Accept::Stopped ||
        accepted == ipc::PipeServer::Accept::CreateFailed)
      return;
    if (accepted != ipc::PipeServer::Accept::Connected) continue;
    Request request;
    bool cut = false;
    if (ipc::readFrame(client, stop_, request.opcode, request.payload)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      Step answer;
      if (step >= script_.size() && responder_) answer = responder_(request);
      if (step < script_.size() || responder_) {
        const Step& s = step < script_.size() ? script_[step] : answer;
        cut = s.cut;
        if (!s.bytes.empty()) (void)ipc::writeRaw(client, s.bytes);
        // Whatever the client sends now is read and dropped until it closes or we stop.
        while (s.hold && ipc::readFrame(client, stop_, request.opcode, request.payload)) {
        }
      }
    }
    // A set event cuts finish()'s wait for the client short.
    const Event now(Event::Reset::Manual, true);
    server_.finish(client, cut ? &now : &stop_);
  }
}

std::wstring unusedPipePath(const TempDir& dir) { return privatePipePath(dir, L"nobody"); }

}  // namespace zorvek::test
