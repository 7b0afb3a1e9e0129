// The endpoint's places for connections, shared fairly: one address (an
// IPv6 /64) holds at most a few, and a newcomer who finds every place taken
// is let in by closing the connection that has been idle the longest,
// rather than refused. A stranger holding connections open, or reopening
// them as fast as it can, thus only ever churns its own, and a fresh scrape
// always gets in.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace quorvane {

class ConnectionPlaces {
 public:
  using Id = std::uint64_t;
  using TimePoint = std::chrono::steady_clock::time_point;

  // Both at least 1.
  ConnectionPlaces(std::size_t places, std::size_t perAddress);

  // Seats connection `id` from `address` at `now`; returns the connection to
  // close to make room for it, if any (which then Leaves).
  std::optional<Id> Admit(Id id, const std::string& address, TimePoint now);
  // Something arrived on `id` at `now`: it is not idle.
  void Touch(Id id, TimePoint now);
  void Leave(Id id);

  std::size_t Taken() const { return seated_.size(); }

 private:
  struct Seat {
    std::string address;
    TimePoint lastActive;
  };

  // The longest idle connection, of `address` alone when given.
  std::optional<Id> LongestIdle(const std::string* address) const;

  std::size_t places_;
  std::size_t perAddress_;
  std::unordered_map<Id, Seat> seated_;
  std::unordered_map<std::string, std::size_t> perAddressTaken_;
};

}  // namespace quorvane
