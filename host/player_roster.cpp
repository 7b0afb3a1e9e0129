#include "host/player_roster.h"

#include <algorithm>
#include <utility>

namespace quorvane {

PlayerRoster::PlayerRoster(Events events) : events_(std::move(events)) {}

std::string PlayerRoster::PlayerId(std::size_t slot, std::string_view name) {
  return "Server" + std::to_string(slot + 1) + ":" + std::string(name);
}

std::size_t PlayerRoster::Count() const {
  return static_cast<std::size_t>(std::count_if(
      players_.begin(), players_.end(), [](const auto& player) { return player.has_value(); }));
}

void PlayerRoster::LoggedIn(std::size_t slot, std::string_view fileName, bool /*characterFound*/) {
  Leave(slot);
  if (players_.size() <= slot) players_.resize(slot + 1);
  players_[slot] = PlayerId(slot, fileName);
  if (events_.joined) events_.joined(*players_[slot]);
}

void PlayerRoster::ConnectionClosed(std::size_t slot, CloseReason /*reason*/, HostCause /*cause*/,
                                    std::chrono::milliseconds /*lasted*/) {
  Leave(slot);
}

void PlayerRoster::Leave(std::size_t slot) {
  if (slot >= players_.size() || !players_[slot]) return;
  const std::string player = *std::exchange(players_[slot], std::nullopt);
  if (events_.left) events_.left(player);
}

}  // namespace quorvane
