#include "host/server_status.h"

#include <algorithm>
#include <numeric>

#include "host/address_range.h"

namespace quorvane {
namespace {

// Counts `value` under its enum's index; an index beyond the table (a reason
// added since) is left uncounted rather than written out of bounds.
template <std::size_t N, typename Enum>
void CountUnder(std::array<std::uint64_t, N>& counts, Enum value) {
  const auto index = static_cast<std::size_t>(value);
  if (index < N) ++counts[index];
}

}  // namespace

std::uint64_t StatusCounters::RefusedTotal() const {
  return std::accumulate(refused.begin(), refused.end(), std::uint64_t{0});
}

std::size_t ServerSnapshot::PlayersConnected() const {
  return kSlotCount - SlotsIn(SlotState::kFree);
}

std::size_t ServerSnapshot::SlotsIn(SlotState state) const {
  return static_cast<std::size_t>(
      std::count_if(slotTable.begin(), slotTable.end(),
                    [state](const SlotStatus& slot) { return slot.state == state; }));
}

StatusSource::Character FormStatusSource::CharacterIn(std::size_t slot) const {
  const CharacterRecord& record = form_.Slot(slot).Character();
  return {record.Level, record.Class, record.PosX, record.PosY};
}

TrafficCounters FormStatusSource::TrafficOf(std::size_t slot) const {
  return form_.Slot(slot).Traffic();
}

std::vector<NpcStatus> FormStatusSource::Npcs() const {
  std::vector<NpcStatus> npcs;
  for (std::size_t index = 0; index < kNpcTableSize; ++index) {
    const NpcRecord& npc = form_.Npc(index);
    if (!npc.Name.empty()) npcs.push_back({npc.Name, npc.X, npc.Y, npc.Dir});
  }
  return npcs;
}

ServerStatus::ServerStatus(const StatusSource& source, const Clock& clock)
    : source_(source), clock_(clock), startedAt_(clock.Now()) {}

ServerSnapshot ServerStatus::Snapshot() const {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const Clock::TimePoint now = clock_.Now();
  ServerSnapshot snapshot;
  snapshot.uptime = duration_cast<milliseconds>(now - startedAt_);
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    const Connection& connection = connections_[index];
    const TrafficCounters traffic = source_.TrafficOf(index);
    snapshot.traffic += traffic;
    SlotStatus& slot = snapshot.slotTable[index];
    slot = connection.status;
    if (slot.state == SlotState::kFree) continue;
    slot.connectedFor = duration_cast<milliseconds>(now - connection.acceptedAt);
    slot.traffic = traffic - connection.baseline;
    if (slot.state == SlotState::kLoggedIn) {
      const StatusSource::Character character = source_.CharacterIn(index);
      slot.level = character.level;
      slot.characterClass = character.characterClass;
      slot.x = character.x;
      slot.y = character.y;
    }
  }
  snapshot.npcs = source_.Npcs();
  snapshot.counters = counters_;
  snapshot.bansInForce = static_cast<std::size_t>(std::count_if(
      bans_.begin(), bans_.end(), [now](const auto& ban) { return ban.second > now; }));
  return snapshot;
}

void ServerStatus::ConnectionAccepted(std::size_t slot, std::string_view peer) {
  if (slot >= kSlotCount) return;
  ++counters_.connectionsAccepted;
  Connection& connection = connections_[slot];
  connection = {};
  connection.status.state = SlotState::kAwaitingHello;
  connection.status.peer = peer;
  connection.status.connectedAt = std::chrono::system_clock::now();
  connection.acceptedAt = clock_.Now();
  connection.baseline = source_.TrafficOf(slot);
}

void ServerStatus::ConnectionRefused(std::string_view peer, RefusalReason reason) {
  CountUnder(counters_.refused, reason);
  const std::string_view address = AddressOf(peer);
  if (address.empty()) return;
  for (Connection& connection : connections_) {
    if (connection.status.state != SlotState::kFree &&
        AddressOf(connection.status.peer) == address) {
      ++connection.status.refusals;
    }
  }
}

void ServerStatus::AddressBanned(std::string_view address, BanReason reason,
                                 std::chrono::milliseconds duration) {
  CountUnder(counters_.banned, reason);
  const Clock::TimePoint lifts = clock_.Now() + duration;
  auto [entry, added] = bans_.try_emplace(std::string(address), lifts);
  if (!added) entry->second = std::max(entry->second, lifts);
  // Lifted bans are swept whenever the table has doubled, so that it stays
  // within twice the bans in force.
  if (bans_.size() > 2 * bansBeforeSweep_) {
    ForgetLiftedBans();
    bansBeforeSweep_ = std::max<std::size_t>(bans_.size(), 16);
  }
}

void ServerStatus::ForgetLiftedBans() {
  const Clock::TimePoint now = clock_.Now();
  std::erase_if(bans_, [now](const auto& ban) { return ban.second <= now; });
}

void ServerStatus::HandshakeDone(std::size_t slot) {
  if (slot >= kSlotCount) return;
  ++counters_.handshakesDone;
  connections_[slot].status.state = SlotState::kOpen;
}

void ServerStatus::LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) {
  if (slot >= kSlotCount) return;
  ++(characterFound ? counters_.loginsFound : counters_.loginsNotFound);
  SlotStatus& status = connections_[slot].status;
  status.state = SlotState::kLoggedIn;
  status.character = fileName;
  status.characterFound = characterFound;
}

void ServerStatus::ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                                    std::chrono::milliseconds /*lasted*/) {
  CountUnder(counters_.closed, reason);
  if (cause != HostCause::kNone) CountUnder(counters_.closedByHost, cause);
  if (slot < kSlotCount) connections_[slot] = {};
}

void ServerStatus::RelayDropped(std::size_t fromSlot, std::size_t toSlot, std::int16_t /*opcode*/,
                                DropReason reason) {
  CountUnder(counters_.relaysDropped, reason);
  const std::size_t answerable = reason == DropReason::kRateLimit ? fromSlot : toSlot;
  if (answerable < kSlotCount) ++connections_[answerable].status.relaysDropped;
}

}  // namespace quorvane
