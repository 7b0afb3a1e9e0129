// The host's clock and timers on Qt's event loop: QTimer behind each timer,
// the steady clock behind Now.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "host/clock.h"

namespace quorvane {

class QtClock final : public Clock {
 public:
  TimePoint Now() const override;
  // The timer's handler runs guarded: a failure escaping it is reported on
  // standard error with `purpose` and goes no further.
  std::unique_ptr<Timer> CreateTimer(TimerKind kind, std::string_view purpose,
                                     std::function<void()> onTimeout) override;
};

}  // namespace quorvane
