#include "host/login_rate_limit.h"

#include <chrono>

namespace quorvane {

LoginRateLimit::LoginRateLimit(int perSecond)
    : perSecond_(perSecond > 0 ? static_cast<std::size_t>(perSecond) : 0) {}

bool LoginRateLimit::Admit(Clock::TimePoint now) {
  if (perSecond_ == 0) return true;
  if (admitted_.size() < perSecond_) {
    admitted_.push_back(now);
    return true;
  }
  if (now - admitted_[next_] < std::chrono::seconds(1)) return false;
  admitted_[next_] = now;
  next_ = (next_ + 1) % perSecond_;
  return true;
}

void LoginRateLimit::Reset() {
  admitted_.clear();
  next_ = 0;
}

}  // namespace quorvane
