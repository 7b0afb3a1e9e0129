// What the listener does while accepting fails for want of descriptors or
// memory (EMFILE, ENFILE, ENOBUFS, ENOMEM): it stops watching the listening
// sockets for a pause that grows with each failure, so that a full
// descriptor table costs a few tries a second rather than a spinning core,
// and tries again. An episode of failures is told on standard error twice:
// when it begins, with the reason, and when it ends, with its count.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/clock.h"
#include "session/diagnostics.h"

namespace quorvane {

class AcceptBackoff {
 public:
  static constexpr std::chrono::milliseconds kFirstPause{20};
  // Short enough that a client gets in within a second once it can.
  static constexpr std::chrono::milliseconds kLongestPause{320};

  // `retry` runs after each pause: it watches the sockets again and returns
  // whether accepting can be expected to work (a descriptor is free) and
  // the episode is over; when it cannot tell, the next accepted connection
  // ends the episode.
  AcceptBackoff(Clock& clock, Diagnostics report, std::function<bool()> retry);
  AcceptBackoff(const AcceptBackoff&) = delete;
  AcceptBackoff& operator=(const AcceptBackoff&) = delete;
  ~AcceptBackoff();

  // Accepting on `where` failed for `reason`; the caller has stopped
  // watching and `closedUnserved` waiting connections were closed to let
  // their clients know.
  void Failed(const std::string& where, const std::string& reason, unsigned closedUnserved);
  // A connection was accepted.
  void Accepted();
  // Within an episode: the sockets are not to be trusted to accept.
  bool Failing() const { return failing_; }
  // The pause after the latest failure.
  std::chrono::milliseconds Pause() const { return pause_; }

 private:
  void Retry();
  void End();

  Clock& clock_;
  Diagnostics report_;
  std::function<bool()> retry_;
  std::unique_ptr<Timer> timer_;
  bool failing_ = false;
  std::string where_;
  std::chrono::milliseconds pause_{0};
  std::uint64_t failures_ = 0;
  std::uint64_t closedUnserved_ = 0;
  Clock::TimePoint began_{};
};

}  // namespace quorvane
