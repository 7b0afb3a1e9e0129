// What the operator sees of the server: each slot's connection and player,
// the NPCs, and counters over the server's life. ServerStatus keeps what the
// connection events tell it and reads the rest (characters, the sessions'
// packet counters, the NPC table) from a StatusSource when a snapshot is
// taken, so that nothing is done per packet and a snapshot costs the same
// however busy the server is. The window and the HTTP endpoints read
// snapshots; everything runs on the event thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/clock.h"
#include "host/connection_observer.h"
#include "host/form1.h"
#include "host/host_operator.h"
#include "session/traffic_counters.h"

namespace quorvane {

enum class SlotState { kFree, kAwaitingHello, kOpen, kLoggedIn };

inline constexpr std::size_t kRefusalReasonCount = 7;
inline constexpr std::size_t kBanReasonCount = 2;
inline constexpr std::size_t kHostCauseCount = 10;
inline constexpr std::size_t kCloseReasonCount = 5;
inline constexpr std::size_t kDropReasonCount = 2;

struct SlotStatus {
  SlotState state = SlotState::kFree;
  std::string peer;  // "ADDR:PORT"; empty when free or unknown
  // The character file the login named, once logged in; its record's level,
  // class and position (where it stands since its login).
  std::string character;
  bool characterFound = false;
  int level = 0;
  int characterClass = 0;
  int x = 0;
  int y = 0;
  // When the connection was accepted, on the wall clock, and how long ago.
  std::chrono::system_clock::time_point connectedAt{};
  std::chrono::milliseconds connectedFor{0};
  // What this connection has moved so far.
  TrafficCounters traffic;
  // Relays dropped that this connection is answerable for: packets to it while
  // it did not read (back pressure), packets from it over its rate.
  std::uint64_t relaysDropped = 0;
  // Connection requests from this connection's address that were refused
  // while it held the slot.
  std::uint64_t refusals = 0;
};

struct NpcStatus {
  std::string name;
  int x = 0;
  int y = 0;
  int facing = 0;  // keypad direction 1-9
};

// Totals over the server's life; indexed by the enums' values.
struct StatusCounters {
  std::uint64_t connectionsAccepted = 0;
  std::array<std::uint64_t, kRefusalReasonCount> refused{};
  std::array<std::uint64_t, kBanReasonCount> banned{};
  std::array<std::uint64_t, kCloseReasonCount> closed{};
  // Connections the host ended, by HostCause (kNone stays 0).
  std::array<std::uint64_t, kHostCauseCount> closedByHost{};
  std::array<std::uint64_t, kDropReasonCount> relaysDropped{};
  std::uint64_t handshakesDone = 0;
  std::uint64_t loginsFound = 0;
  std::uint64_t loginsNotFound = 0;

  std::uint64_t RefusedTotal() const;
};

struct ServerSnapshot {
  std::chrono::milliseconds uptime{0};
  std::array<SlotStatus, kSlotCount> slotTable{};
  std::vector<NpcStatus> npcs;  // the live entries of the NPC table, in table order
  StatusCounters counters;
  // Every session's counters added up: packets and bytes over the server's life.
  TrafficCounters traffic;
  // Automatic bans (from the events), and the operator's.
  std::size_t bansInForce = 0;
  std::size_t manualBansInForce = 0;
  // Operator commands carried out, by AdminAction.
  std::array<std::uint64_t, kAdminActionCount> adminActions{};

  std::size_t PlayersConnected() const;
  std::size_t SlotsIn(SlotState state) const;
};

// Where a snapshot reads what the events do not carry.
class StatusSource {
 public:
  struct Character {
    int level = 0;
    int characterClass = 0;
    int x = 0;
    int y = 0;
  };

  virtual ~StatusSource() = default;
  virtual Character CharacterIn(std::size_t slot) const = 0;
  // The counters of the slot's session, which only grow.
  virtual TrafficCounters TrafficOf(std::size_t slot) const = 0;
  virtual std::vector<NpcStatus> Npcs() const = 0;
};

// The source on the host itself.
class FormStatusSource final : public StatusSource {
 public:
  explicit FormStatusSource(Form1& form) : form_(form) {}
  Character CharacterIn(std::size_t slot) const override;
  TrafficCounters TrafficOf(std::size_t slot) const override;
  std::vector<NpcStatus> Npcs() const override;

 private:
  Form1& form_;
};

class ServerStatus final : public ConnectionObserver {
 public:
  // Uptime counts from now. `source` and `clock` must outlive the status.
  ServerStatus(const StatusSource& source, const Clock& clock);

  ServerSnapshot Snapshot() const;

  void ConnectionAccepted(std::size_t slot, std::string_view peer) override;
  void ConnectionRefused(std::string_view peer, RefusalReason reason) override;
  void AddressBanned(std::string_view address, BanReason reason,
                     std::chrono::milliseconds duration) override;
  void HandshakeDone(std::size_t slot) override;
  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override;
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override;
  void RelayDropped(std::size_t fromSlot, std::size_t toSlot, std::int16_t opcode,
                    DropReason reason) override;

 private:
  struct Connection {
    SlotStatus status;
    Clock::TimePoint acceptedAt{};
    // The session's counters when the connection was accepted.
    TrafficCounters baseline;
  };

  void ForgetLiftedBans();

  const StatusSource& source_;
  const Clock& clock_;
  Clock::TimePoint startedAt_;
  std::array<Connection, kSlotCount> connections_{};
  StatusCounters counters_;
  // Banned addresses and when each ban lifts.
  std::unordered_map<std::string, Clock::TimePoint> bans_;
  std::size_t bansBeforeSweep_ = 0;
};

}  // namespace quorvane
