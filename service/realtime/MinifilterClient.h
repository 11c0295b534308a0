#pragma once
// The client of the minifilter's port: connects, answers the driver's requests on a listener
// thread of its own, one at a time, and disconnects. The driver waits while the file is checked.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/realtime/FilterPort.h"
#include "service/realtime/MinifilterProtocol.h"

namespace zorvek::svc {

class MinifilterClient {
 public:
  // true = allow the file.
  using Check = std::function<bool(const std::wstring& path)>;

  // An empty factory uses the platform's port.
  explicit MinifilterClient(FilterPortFactory factory = {},
                            std::wstring portName = kFilterPortName);
  ~MinifilterClient();  // disconnect()
  MinifilterClient(const MinifilterClient&) = delete;
  MinifilterClient& operator=(const MinifilterClient&) = delete;

  // Connects and starts the listener; false with filterUnavailableText(hr) when the port cannot
  // be reached, or when already connected.
  bool connect(Check check, std::string* error = nullptr);
  // Ends the listener's wait, joins it and closes the port. Safe to call at any time, repeatedly.
  void disconnect();

  // Cleared when the listener ends, also when the driver closes the port.
  bool connected() const { return connected_.load(); }
  // File checks answered since construction.
  uint64_t answered() const { return answered_.load(); }

 private:
  void listen();

  FilterPortFactory factory_;
  const std::wstring portName_;
  std::mutex mutex_;  // connect and disconnect
  std::unique_ptr<FilterPort> port_;
  Check check_;
  std::thread listener_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<uint64_t> answered_{0};
};

}  // namespace zorvek::svc
