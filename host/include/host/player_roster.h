// Who plays on the map: the logged-in player of each slot, for whoever counts
// them from outside (an orchestrator filling maps). A connection counts from
// its login until it ends; a second login on the same connection replaces the
// first.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/connection_observer.h"

namespace quorvane {

class PlayerRoster final : public ConnectionObserver {
 public:
  // Each runs on the event thread as the host handles the login or the end.
  struct Events {
    std::function<void(const std::string& player)> joined;
    std::function<void(const std::string& player)> left;
  };

  explicit PlayerRoster(Events events);

  // "Server1:Ada": the slot as the log names it and the login's name, so that
  // two players under the same name (served default data) stay apart.
  static std::string PlayerId(std::size_t slot, std::string_view name);

  std::size_t Count() const;

  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override;
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override;

 private:
  void Leave(std::size_t slot);

  Events events_;
  std::vector<std::optional<std::string>> players_;  // by slot
};

}  // namespace quorvane
