#include "platform/monitoring/connection_places.h"

#include <algorithm>
#include <utility>

namespace quorvane {

ConnectionPlaces::ConnectionPlaces(std::size_t places, std::size_t perAddress)
    : places_(std::max<std::size_t>(places, 1)),
      perAddress_(std::max<std::size_t>(perAddress, 1)) {}

std::optional<ConnectionPlaces::Id> ConnectionPlaces::Admit(Id id, const std::string& address,
                                                            TimePoint now) {
  std::optional<Id> evicted;
  if (const auto taken = perAddressTaken_.find(address);
      taken != perAddressTaken_.end() && taken->second >= perAddress_) {
    evicted = LongestIdle(&address);
  } else if (seated_.size() >= places_) {
    evicted = LongestIdle(nullptr);
  }
  if (evicted) Leave(*evicted);
  seated_.insert_or_assign(id, Seat{address, now});
  ++perAddressTaken_[address];
  return evicted;
}

void ConnectionPlaces::Touch(Id id, TimePoint now) {
  if (const auto seat = seated_.find(id); seat != seated_.end()) seat->second.lastActive = now;
}

void ConnectionPlaces::Leave(Id id) {
  const auto seat = seated_.find(id);
  if (seat == seated_.end()) return;
  if (const auto taken = perAddressTaken_.find(seat->second.address);
      taken != perAddressTaken_.end() && --taken->second == 0) {
    perAddressTaken_.erase(taken);
  }
  seated_.erase(seat);
}

std::optional<ConnectionPlaces::Id> ConnectionPlaces::LongestIdle(
    const std::string* address) const {
  std::optional<Id> idlest;
  TimePoint since = TimePoint::max();
  for (const auto& [id, seat] : seated_) {
    if (address != nullptr && seat.address != *address) continue;
    // Ties go to the lower id, the older connection.
    if (seat.lastActive < since || (seat.lastActive == since && idlest && id < *idlest)) {
      since = seat.lastActive;
      idlest = id;
    }
  }
  return idlest;
}

}  // namespace quorvane
