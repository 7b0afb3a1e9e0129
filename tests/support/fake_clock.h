// A clock that stands still until the test advances it; its timers fire
// during Advance, in the order of their due times, each at the time it is
// due.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/clock.h"

namespace quorvane::testing {

class FakeClock : public Clock {
 public:
  TimePoint Now() const override { return now_; }

  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::string_view purpose,
                                     std::function<void()> onTimeout) override {
    auto timer = std::make_unique<FakeTimer>(*this, kind, purpose, std::move(onTimeout));
    timers_.push_back(timer.get());
    return timer;
  }

  // Moves time on by `duration`, firing every timer that falls due.
  void Advance(std::chrono::milliseconds duration) {
    const TimePoint end = now_ + duration;
    while (FakeTimer* next = NextDue(end)) {
      now_ = next->due;
      next->Fire();
    }
    now_ = end;
  }

  // The purposes of the timers that are running, in creation order.
  std::vector<std::string> Running() const {
    std::vector<std::string> running;
    for (const FakeTimer* timer : timers_) {
      if (timer->active) running.push_back(timer->purpose);
    }
    return running;
  }

 private:
  struct FakeTimer : Timer {
    FakeTimer(FakeClock& clock, TimerKind kind, std::string_view purpose,
              std::function<void()> onTimeout)
        : clock(clock), kind(kind), purpose(purpose), onTimeout(std::move(onTimeout)) {}
    ~FakeTimer() override { std::erase(clock.timers_, this); }

    void Start(std::chrono::milliseconds newInterval) override {
      interval = newInterval;
      due = clock.now_ + interval;
      active = true;
    }
    void Stop() override { active = false; }

    void Fire() {
      if (kind == TimerKind::kPeriodic) {
        due += interval;
      } else {
        active = false;
      }
      onTimeout();
    }

    FakeClock& clock;
    TimerKind kind;
    std::string purpose;
    std::function<void()> onTimeout;
    std::chrono::milliseconds interval{};
    TimePoint due{};
    bool active = false;
  };

  FakeTimer* NextDue(TimePoint end) const {
    FakeTimer* next = nullptr;
    for (FakeTimer* timer : timers_) {
      if (timer->active && timer->due <= end && (next == nullptr || timer->due < next->due)) {
        next = timer;
      }
    }
    return next;
  }

  TimePoint now_{};
  std::vector<FakeTimer*> timers_;
};

}  // namespace quorvane::testing
