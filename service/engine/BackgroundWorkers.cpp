#include "service/engine/BackgroundWorkers.h"

#include <exception>

#include "common/Fail.h"
#include "common/Logger.h"

namespace zorvek::svc {

std::string OneShotJob::lastError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::wstring OneShotJob::output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

void OneShotJob::setOutput(const std::wstring& output) {
  std::lock_guard lock(mutex_);
  output_ = output;
}

BackgroundWorkers::BackgroundWorkers(std::shared_ptr<EngineClock> clock)
    : clock_(clock ? std::move(clock) : systemClock()) {}

BackgroundWorkers::~BackgroundWorkers() {
  beginStop();
  join();
}

void BackgroundWorkers::startScheduler(std::function<uint32_t()> scheduledHour,
                                       std::function<void()> startScan) {
  scheduler_ = std::thread([this, hour = std::move(scheduledHour), scan = std::move(startScan)] {
    runSchedulerLoop(*clock_, signal_, hour, scan);
  });
}

void BackgroundWorkers::startLiveUpdateTimer(std::function<void()> attempt) {
  liveUpdateTimer_ = std::thread(
      [this, attempt = std::move(attempt)] { runLiveUpdateLoop(*clock_, signal_, attempt); });
}

void BackgroundWorkers::startWebShield(std::function<void()> pass) {
  webShield_ =
      std::thread([this, pass = std::move(pass)] { runWebShieldLoop(*clock_, signal_, pass); });
}

void BackgroundWorkers::startRealTime(std::function<void()> body) {
  realTime_ = std::thread(std::move(body));
}

bool BackgroundWorkers::startOneShot(OneShotJob& job, std::function<bool(std::string*)> body,
                                     std::string* error) {
  if (stopping_.load()) return fail(error, "service is stopping");
  if (job.busy_.exchange(true)) return fail(error, "обновление уже выполняется");
  std::lock_guard lock(threadMutex_);
  if (stopping_.load()) {
    job.busy_.store(false);
    return fail(error, "service is stopping");
  }
  if (job.thread_.joinable()) job.thread_.join();  // finished: its busy flag was clear
  if (job.onAccept_ == OneShotJob::OnAccept::ClearOutcome) {
    std::lock_guard outcome(job.mutex_);
    job.error_.clear();
    job.output_.clear();
  }
  try {
    job.thread_ = std::thread([&job, body = std::move(body)] {
      try {
        std::string text;
        const bool ok = body(&text);
        std::lock_guard outcome(job.mutex_);
        job.error_ = ok ? std::string() : text;
      } catch (const std::exception& e) {
        logError(std::string("worker threw: ") + e.what());
      }
      job.busy_.store(false);
    });
  } catch (const std::exception& e) {
    job.busy_.store(false);
    return fail(error, e.what());
  }
  return true;
}

bool BackgroundWorkers::waitForStop(uint64_t ms) {
  return clock_->wait(signal_, ms, false) == WaitResult::Stopped;
}

void BackgroundWorkers::beginStop() {
  stopping_.store(true);
  signal_.requestStop();
}

void BackgroundWorkers::join() {
  {
    std::lock_guard lock(threadMutex_);
    for (OneShotJob* job : {&liveUpdateJob_, &selfUpdateJob_}) {
      if (job->thread_.joinable()) job->thread_.join();
    }
  }
  for (std::thread* t : {&realTime_, &scheduler_, &liveUpdateTimer_, &webShield_}) {
    if (t->joinable()) t->join();
  }
}

}  // namespace zorvek::svc
