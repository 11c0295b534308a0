#pragma once
// An in-memory Filter Manager port: the test plays the driver, queueing requests and reading
// the answers; the listener sees what it would see through the real port.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "service/realtime/FilterPort.h"

namespace zorvek::svc::test {

class FakeDriver {
 public:
  void send(std::vector<uint8_t> message) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(message));
    cv_.notify_all();
  }
  // The driver unloads: the pending get-message call and all later ones fail.
  void closePort() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    cv_.notify_all();
  }
  // Waits until `count` answers arrived (false after a few seconds).
  bool waitForAnswers(size_t count) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return answers_.size() >= count; });
  }
  // Waits until the listener waits for a message again.
  bool waitUntilIdle() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return waiting_ && queue_.empty(); });
  }
  std::vector<std::vector<uint8_t>> answers() {
    std::lock_guard lock(mutex_);
    return answers_;
  }
  bool interrupted() {
    std::lock_guard lock(mutex_);
    return interrupted_;
  }

  // The factory the client connects with; each connection shares this driver.
  FilterPortFactory factory() {
    return [this](const std::wstring&, uint32_t*) -> std::unique_ptr<FilterPort> {
      std::lock_guard lock(mutex_);
      closed_ = interrupted_ = false;
      return std::make_unique<Port>(*this);
    };
  }

 private:
  class Port final : public FilterPort {
   public:
    explicit Port(FakeDriver& d) : d_(d) {}
    bool getMessage(std::span<uint8_t> buffer) override {
      std::unique_lock lock(d_.mutex_);
      d_.waiting_ = true;
      d_.cv_.notify_all();
      d_.cv_.wait(lock, [&] { return !d_.queue_.empty() || d_.closed_ || d_.interrupted_; });
      d_.waiting_ = false;
      if (d_.interrupted_ || d_.queue_.empty()) return false;
      const std::vector<uint8_t> m = std::move(d_.queue_.front());
      d_.queue_.pop_front();
      for (size_t i = 0; i < m.size() && i < buffer.size(); ++i) buffer[i] = m[i];
      return true;
    }
    bool sendAnswer(std::span<const uint8_t> answer) override {
      std::lock_guard lock(d_.mutex_);
      d_.answers_.emplace_back(answer.begin(), answer.end());
      d_.cv_.notify_all();
      return !d_.closed_;
    }
    void interrupt() override {
      std::lock_guard lock(d_.mutex_);
      d_.interrupted_ = true;
      d_.cv_.notify_all();
    }

   private:
    FakeDriver& d_;
  };

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<std::vector<uint8_t>> answers_;
  bool closed_ = false, interrupted_ = false, waiting_ = false;
};

}  // namespace zorvek::svc::test
