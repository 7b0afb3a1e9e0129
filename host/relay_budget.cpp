#include "host/relay_budget.h"

#include <algorithm>

namespace quorvane {
namespace {

// A bucket holds two seconds' worth.
constexpr double kBurstSeconds = 2;

}  // namespace

void RelayBudget::Bucket::Grow(double rate, double seconds) {
  tokens = std::min(rate * kBurstSeconds, tokens + rate * seconds);
}

void RelayBudget::Refill(TimePoint now) {
  packets_.tokens = rates_.packetsPerSecond * kBurstSeconds;
  bytes_.tokens = rates_.bytesPerSecond * kBurstSeconds;
  updated_ = now;
}

// A packet larger than a whole bucket passes when the bucket is full and
// leaves it in debt, so that any size gets through at the rate.
bool RelayBudget::Take(std::size_t bytes, TimePoint now) {
  const double seconds = std::chrono::duration<double>(now - updated_).count();
  if (seconds > 0) {
    packets_.Grow(rates_.packetsPerSecond, seconds);
    bytes_.Grow(rates_.bytesPerSecond, seconds);
    updated_ = now;
  }
  const auto size = static_cast<double>(bytes);
  const bool packetsLimited = rates_.packetsPerSecond > 0;
  const bool bytesLimited = rates_.bytesPerSecond > 0;
  if (packetsLimited && packets_.tokens < 1) return false;
  if (bytesLimited && bytes_.tokens < std::min(size, rates_.bytesPerSecond * kBurstSeconds)) {
    return false;
  }
  if (packetsLimited) packets_.tokens -= 1;
  if (bytesLimited) bytes_.tokens -= size;
  return true;
}

}  // namespace quorvane
