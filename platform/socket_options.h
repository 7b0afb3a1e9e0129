// Socket options of accepted connections that Qt does not offer itself.
#pragma once

#include <QTcpSocket>
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

// Turns keepalive on for the connected socket with the times above. A failing
// setsockopt is not fatal: the connection works, only without the probes.
void EnableKeepAlive(QTcpSocket& socket);

// Makes the next close reset the connection and drop whatever still waits to
// be sent, instead of leaving the kernel to deliver it to a peer that does
// not read.
void ResetOnClose(QTcpSocket& socket);

}  // namespace quorvane
