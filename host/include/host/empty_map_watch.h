// Ends a map nobody plays on any more: once a player has logged in and the
// last player has left, `onEmpty` runs after `after` of emptiness, unless a
// player logs in before. A map that never had a player waits for its first.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string_view>

#include "host/clock.h"
#include "host/connection_observer.h"

namespace quorvane {

class EmptyMapWatch final : public ConnectionObserver {
 public:
  EmptyMapWatch(Clock& clock, std::chrono::milliseconds after, std::function<void()> onEmpty);

  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override;
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override;

 private:
  std::chrono::milliseconds after_;
  std::function<void()> onEmpty_;
  std::set<std::size_t> players_;  // slots with a logged-in player
  std::unique_ptr<Timer> timer_;
};

}  // namespace quorvane
