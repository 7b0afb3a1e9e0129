// Options of accepted connections, set on their descriptors.
#pragma once

#include <chrono>

namespace quorvane {

// Keepalive, so that a peer that vanished without closing (power loss, a
// dropped network) frees its slot within about a minute instead of hours.
// Probing starts after 30 s of silence and gives up after 3 unanswered probes
// 10 s apart. Data left unacknowledged for 60 s (NPC announcements to a peer
// that is gone) ends the connection as well: the probes only run while nothing
// is in flight.
inline constexpr std::chrono::seconds kKeepAliveIdle{30};
inline constexpr std::chrono::seconds kKeepAliveInterval{10};
inline constexpr int kKeepAliveProbes = 3;
inline constexpr std::chrono::milliseconds kUnacknowledgedTimeout{60000};

// A failing setsockopt or fcntl is not fatal in any of these: the connection
// works, only without what the option adds.

// Reads and writes return at once instead of waiting for the peer.
void MakeNonBlocking(int descriptor);

// Small packets go out at once: a login is some forty of them, and none may
// wait for Nagle's algorithm.
void EnableLowDelay(int descriptor);

// Turns keepalive on with the times above.
void EnableKeepAlive(int descriptor);

// Makes the next close reset the connection and drop whatever still waits to
// be sent, instead of leaving the kernel to deliver it to a peer that does
// not read.
void ResetOnClose(int descriptor);

}  // namespace quorvane
