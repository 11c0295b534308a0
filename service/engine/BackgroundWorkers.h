#pragma once
// The engine's threads besides the scan: the daily scheduler, the live-update timer, the
// web-shield loop, the real-time watcher and the one-shot update runs. All of them wait on one
// ThreadSignal through the engine's clock, so one stop ends every wait and tests run the timers
// in virtual time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/engine/EngineTimers.h"

namespace zorvek::svc {

// An on-demand run (live update, self-update check): one at a time, with the outcome that the
// status reply shows.
class OneShotJob {
 public:
  enum class OnAccept {
    KeepOutcome,   // the previous error stays visible until the new run ends
    ClearOutcome,  // a new run starts with no error and no output
  };
  explicit OneShotJob(OnAccept onAccept) : onAccept_(onAccept) {}

  bool running() const { return busy_.load(); }
  // The error of the last run that failed ("" after one that succeeded).
  std::string lastError() const;
  // What the run left for the user (the self-update check's downloaded installer).
  std::wstring output() const;
  void setOutput(const std::wstring& output);

 private:
  friend class BackgroundWorkers;
  const OnAccept onAccept_;
  std::atomic<bool> busy_{false};
  std::thread thread_;  // under BackgroundWorkers::threadMutex_
  mutable std::mutex mutex_;
  std::string error_;
  std::wstring output_;
};

class BackgroundWorkers {
 public:
  explicit BackgroundWorkers(std::shared_ptr<EngineClock> clock);
  ~BackgroundWorkers();  // beginStop() and join()
  BackgroundWorkers(const BackgroundWorkers&) = delete;
  BackgroundWorkers& operator=(const BackgroundWorkers&) = delete;

  // Each starts its thread once; the loops are those of EngineTimers.
  void startScheduler(std::function<uint32_t()> scheduledHour, std::function<void()> startScan);
  void startLiveUpdateTimer(std::function<void()> attempt);
  void startWebShield(std::function<void()> pass);
  // A thread of its own for `body`, which must return soon after waitForStop() does.
  void startRealTime(std::function<void()> body);
  // The web shield runs at once instead of at its next time.
  void wakeWebShield() { signal_.wake(); }

  // Runs `body` on the job's thread; refused while stopping or while the job runs. `body` fills
  // its error text and returns false on failure; one that throws is logged and leaves the
  // outcome as it was.
  bool startOneShot(OneShotJob& job, std::function<bool(std::string* error)> body,
                    std::string* error = nullptr);

  // Waits up to `ms` (engine time) or until the stop; true when stopping.
  bool waitForStop(uint64_t ms);
  bool stopping() const { return stopping_.load(); }

  // Refuses further one-shot runs and ends every wait; join() then waits for the threads.
  void beginStop();
  void join();

  // The on-demand live update and the self-update check.
  OneShotJob& liveUpdateJob() { return liveUpdateJob_; }
  OneShotJob& selfUpdateJob() { return selfUpdateJob_; }
  const OneShotJob& liveUpdateJob() const { return liveUpdateJob_; }
  const OneShotJob& selfUpdateJob() const { return selfUpdateJob_; }

 private:
  std::shared_ptr<EngineClock> clock_;
  ThreadSignal signal_;  // stop for every thread; wake for the web shield
  std::atomic<bool> stopping_{false};
  std::mutex threadMutex_;  // one-shot threads: started and joined under it
  std::thread scheduler_, liveUpdateTimer_, webShield_, realTime_;
  OneShotJob liveUpdateJob_{OneShotJob::OnAccept::KeepOutcome};
  OneShotJob selfUpdateJob_{OneShotJob::OnAccept::ClearOutcome};
};

}  // namespace zorvek::svc
