#include "host/empty_map_watch.h"

#include <utility>

namespace quorvane {

EmptyMapWatch::EmptyMapWatch(Clock& clock, std::chrono::milliseconds after,
                             std::function<void()> onEmpty)
    : after_(after),
      onEmpty_(std::move(onEmpty)),
      timer_(clock.CreateTimer(TimerKind::kOneShot, "empty map", [this] { onEmpty_(); })) {}

void EmptyMapWatch::LoggedIn(std::size_t slot, std::string_view /*fileName*/,
                             bool /*characterFound*/) {
  players_.insert(slot);
  timer_->Stop();
}

void EmptyMapWatch::ConnectionClosed(std::size_t slot, CloseReason /*reason*/, HostCause /*cause*/,
                                     std::chrono::milliseconds /*lasted*/) {
  // Only the last player's departure starts the wait; a connection that
  // never logged in changes nothing.
  if (players_.erase(slot) == 1 && players_.empty()) timer_->Start(after_);
}

}  // namespace quorvane
