#include "service/realtime/MinifilterClient.h"

#include <vector>

#include "common/Fail.h"

namespace zorvek::svc {

MinifilterClient::MinifilterClient(FilterPortFactory factory, std::wstring portName)
    : factory_(factory ? std::move(factory) : FilterPortFactory(connectFilterPort)),
      portName_(std::move(portName)) {}

MinifilterClient::~MinifilterClient() {
  disconnect();
  // Only a disconnect from the listener itself leaves it running: it is on its way out.
  if (listener_.joinable()) listener_.detach();
}

bool MinifilterClient::connect(Check check, std::string* error) {
  std::lock_guard lock(mutex_);
  if (connected_.load()) return fail(error, "already connected");
  // What is left of a connection the driver ended: its listener is on its way out.
  if (listener_.joinable()) listener_.join();
  port_.reset();
  uint32_t hr = 0;
  std::unique_ptr<FilterPort> port = factory_(portName_, &hr);
  if (!port) return fail(error, filterUnavailableText(hr));
  port_ = std::move(port);
  check_ = std::move(check);
  stopRequested_.store(false);
  connected_.store(true);
  listener_ = std::thread([this] { listen(); });
  return true;
}

void MinifilterClient::disconnect() {
  std::unique_ptr<FilterPort> port;
  {
    std::lock_guard lock(mutex_);
    stopRequested_.store(true);
    if (port_) port_->interrupt();
    if (listener_.joinable() && listener_.get_id() != std::this_thread::get_id()) listener_.join();
    if (listener_.joinable()) return;  // called by the check on the listener: it closes later
    port = std::move(port_);
  }
  connected_.store(false);
}

void MinifilterClient::listen() {
  std::vector<uint8_t> buffer(kDriverRequestBytes);
  while (!stopRequested_.load()) {
    // A short message must not be read with the tail of the one before.
    std::fill(buffer.begin(), buffer.end(), uint8_t{0});
    if (!port_->getMessage(buffer)) break;
    bool fileCheck = false;
    const auto answer = answerDriverRequest(buffer, check_, &fileCheck);
    if (!answer) continue;  // not a message of ours: the driver gets no answer
    // Counted first, so that whoever sees the answer also sees the count.
    if (fileCheck) answered_.fetch_add(1);
    port_->sendAnswer(*answer);
  }
  connected_.store(false);
}

}  // namespace zorvek::svc
