// Time for the host: the clock its deadlines are measured on and the timers
// that drive its tick and its deadlines. The platform implements it on the
// event loop; tests use a clock they advance by hand.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

namespace quorvane {

class Timer {
 public:
  virtual ~Timer() = default;
  // Starts the timer afresh, also when it is running: a one-shot timer fires
  // once `interval` from now, a periodic one every `interval` until stopped.
  virtual void Start(std::chrono::milliseconds interval) = 0;
  // Keeps the timer from firing until the next Start.
  virtual void Stop() = 0;
};

enum class TimerKind { kOneShot, kPeriodic };

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  // A stopped timer that runs `onTimeout` on the event thread each time it
  // fires. `purpose` names the timer where a failure escaping `onTimeout` is
  // reported.
  virtual std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::string_view purpose,
                                             std::function<void()> onTimeout) = 0;
};

}  // namespace quorvane
