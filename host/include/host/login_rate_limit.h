// The login rate of one connection: at most N logins within any one second,
// so that a client cannot make the server read the data folder and build a
// login's twenty-odd packets as fast as it can send 200s.
#pragma once

#include <cstddef>
#include <vector>

#include "host/clock.h"

namespace quorvane {

class LoginRateLimit {
 public:
  // 0: no limit.
  explicit LoginRateLimit(int perSecond);

  // Whether a login at `now` keeps within the limit; it counts when it does.
  bool Admit(Clock::TimePoint now);
  // A new connection starts with no logins counted.
  void Reset();

 private:
  std::size_t perSecond_;
  // The times of the last perSecond_ logins admitted, oldest at next_ once full.
  std::vector<Clock::TimePoint> admitted_;
  std::size_t next_ = 0;
};

}  // namespace quorvane
