// What the host publishes about its connections, for whoever watches them: a
// status view, metrics, the diagnostics on standard error. Slots are numbered
// from 0 (slot 0 logs as Server1). Each notification runs on the event thread
// while the host handles the event, so an observer must not block; it may
// leave any of them out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "session/socket_control.h"

namespace quorvane {

// Why a connection request got no slot.
enum class RefusalReason {
  kSlotsFull,        // every slot taken ("Cannot connect more than 2 clients")
  kNotAllowed,       // outside every --allow range
  kDenied,           // inside a --deny range
  kPerAddressLimit,  // the address holds --max-per-address slots already
  kBanned,           // the address is banned for now (see AddressBanned), or by an operator
  kNoPeerAddress,    // the connection ended before its peer's address could be read
  kShuttingDown,     // the server is counting down to its end
};

// Why an address is refused for a while.
enum class BanReason {
  kConnectionRate,  // too many connections in too short a time (--autoban)
  kTimeoutPenalty,  // a connection of it was closed by a deadline (--timeout-penalty)
};

// Why the host itself ended a connection; kNone when the host did not (the
// peer went, or the socket failed: see CloseReason).
enum class HostCause {
  kNone,
  kHandshakeTimeout,
  kLoginTimeout,
  kIdleTimeout,
  kCharacterInUse,   // a login named the character the other slot plays
  kNoCharacterFile,  // --require-character and no file for the name
  kMadeRoom,         // a newcomer found every slot taken; this one had not logged in
  kDenied,           // the address rules as reloaded refuse its address
  kKicked,           // an operator kicked the player or banned its address
  kShutdown,         // the server ended with the player still connected
};

// The sending "slot" of what the server announces itself (its NPCs).
inline constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

// Why a relayed packet was dropped before it was sealed.
enum class DropReason {
  kBackPressure,  // the receiver's pending output is over the soft bound
  kRateLimit,     // the sender is over its relay token bucket
};

class ConnectionObserver {
 public:
  virtual ~ConnectionObserver() = default;

  // A connection request took `slot`; `peer` is "ADDR:PORT", empty when the
  // socket does not know it.
  virtual void ConnectionAccepted(std::size_t /*slot*/, std::string_view /*peer*/) {}
  // A connection request got no slot; `peer` as above (empty for
  // kNoPeerAddress).
  virtual void ConnectionRefused(std::string_view /*peer*/, RefusalReason /*reason*/) {}
  // `address` (no port) is refused for `duration` from now.
  virtual void AddressBanned(std::string_view /*address*/, BanReason /*reason*/,
                             std::chrono::milliseconds /*duration*/) {}
  virtual void HandshakeDone(std::size_t /*slot*/) {}
  // See ServerSocket::LoggedInHandler.
  virtual void LoggedIn(std::size_t /*slot*/, std::string_view /*fileName*/,
                        bool /*characterFound*/) {}
  // The connection in `slot` ended, `lasted` after it was accepted; `cause`
  // says why when the host ended it.
  virtual void ConnectionClosed(std::size_t /*slot*/, CloseReason /*reason*/, HostCause /*cause*/,
                                std::chrono::milliseconds /*lasted*/) {}
  // A packet from `fromSlot` (kNoSlot for the server's own) for `toSlot` was
  // dropped unsealed.
  virtual void RelayDropped(std::size_t /*fromSlot*/, std::size_t /*toSlot*/,
                            std::int16_t /*opcode*/, DropReason /*reason*/) {}
};

}  // namespace quorvane
