#include "platform/loop/qt_clock.h"

#include <QTimer>
#include <string>
#include <utility>

#include "platform/loop/guarded.h"

namespace quorvane {
namespace {

class QtTimer final : public Timer {
 public:
  QtTimer(TimerKind kind, std::string_view purpose, std::function<void()> onTimeout)
      : purpose_(purpose), onTimeout_(std::move(onTimeout)) {
    timer_.setSingleShot(kind == TimerKind::kOneShot);
    QObject::connect(&timer_, &QTimer::timeout, &timer_,
                     [this] { RunGuarded(purpose_, onTimeout_); });
  }

  void Start(std::chrono::milliseconds interval) override { timer_.start(interval); }
  void Stop() override { timer_.stop(); }

 private:
  std::string purpose_;
  std::function<void()> onTimeout_;
  QTimer timer_;
};

}  // namespace

Clock::TimePoint QtClock::Now() const {
  return std::chrono::steady_clock::now();
}

std::unique_ptr<Timer> QtClock::CreateTimer(TimerKind kind, std::string_view purpose,
                                            std::function<void()> onTimeout) {
  return std::make_unique<QtTimer>(kind, purpose, std::move(onTimeout));
}

}  // namespace quorvane
