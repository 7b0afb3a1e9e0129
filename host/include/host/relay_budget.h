// What one connection may have relayed to the other player: a token bucket
// for packets and one for bytes, each refilled at its rate per second and
// holding up to twice that, so a burst of two seconds' worth goes through at
// once and a steady flood is held to the rate.
#pragma once

#include <chrono>
#include <cstddef>

#include "host/clock.h"

namespace quorvane {

inline constexpr double kDefaultRelayPacketsPerSecond = 200;
inline constexpr double kDefaultRelayBytesPerSecond = 256 * 1024;

struct RelayRates {
  // Relayed packets per second; 0 for no limit.
  double packetsPerSecond = kDefaultRelayPacketsPerSecond;
  // Relayed bytes per second, header and payload; 0 for no limit.
  double bytesPerSecond = kDefaultRelayBytesPerSecond;

  friend bool operator==(const RelayRates&, const RelayRates&) = default;
};

class RelayBudget {
 public:
  using TimePoint = Clock::TimePoint;

  explicit RelayBudget(RelayRates rates = {}) : rates_(rates) { Refill({}); }

  // Full buckets from `now` on, for a new connection.
  void Refill(TimePoint now);
  // Takes one packet of `bytes` when both buckets hold enough; false, taking
  // nothing, when either does not.
  bool Take(std::size_t bytes, TimePoint now);

 private:
  struct Bucket {
    double tokens = 0;
    void Grow(double rate, double seconds);
  };

  RelayRates rates_;
  Bucket packets_;
  Bucket bytes_;
  TimePoint updated_{};
};

}  // namespace quorvane
