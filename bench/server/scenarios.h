// The measurements of the server, each beside its raw baseline taken
// in the same run over the same loopback with the same byte counts. The
// baselines start on `serverCpu`, where the server runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bench_data.h"
#include "figures.h"
#include "protocol_peer.h"

namespace quorvane::bench {

struct Counts {
  std::size_t warmUp = 1000;
  std::size_t pings = 10000;
  std::size_t logins = 2000;
  std::size_t relayed = 10000;   // one at a time, per opcode
  std::size_t streamed = 20000;  // chat lines relayed as a stream
  std::size_t refused = 2000;
};

// The 46-byte login name block of one of the benchmark's characters.
Bytes NameBlock(std::string_view name = kCharacterName);

// A player connected and past the handshake. Retries for a while when the
// server turns it away because it has not yet seen an earlier player leave.
ProtocolPeer ConnectPlayer(std::uint16_t port, std::uint32_t clientSeed);

// Two players on fresh connections, both logged in, for one relay measurement:
// every baseline connection is fresh too, and TCP keeps per-connection state
// (delayed acknowledgements, congestion control) that earlier traffic shapes.
struct Players {
  ProtocolPeer sender;
  ProtocolPeer receiver;
};
Players TwoPlayers(std::uint16_t port);

// Logs `player` in once as `character` and checks the whole answer, with the
// 205s of the `othersShown` players already there after the welcome line;
// returns its byte count.
std::size_t LogIn(ProtocolPeer& player, const BenchCharacter& character,
                  std::size_t othersShown = 0);

// A player connected and logged in as `character`. Retries for a while when
// the server turns it away because it has not yet seen an earlier player
// leave: no slot free, or the character still in play.
ProtocolPeer LoggedInPlayer(std::uint16_t port, std::uint32_t clientSeed,
                            const BenchCharacter& character, std::size_t othersShown = 0);

// 124 answered by 125, against a raw echo of 8 bytes answered by 9.
Measurement MeasurePing(ProtocolPeer& player, const Counts& counts, int serverCpu);

// 200 as `character` until the last byte of the welcome line, against a raw
// burst of the same byte count. `label` tells the reply apart in the figure's
// name ("caster's ").
Measurement MeasureLogin(ProtocolPeer& player, const BenchCharacter& character,
                         std::string_view label, const Counts& counts, int serverCpu);

// Connections from a stranger's address (127.0.0.2), admitted by every
// rule, while both slots are held: the server refuses each; against a raw
// accept-and-close loop.
Measurement MeasureRefusal(std::uint16_t port, const Counts& counts, int serverCpu);

// 302 chat lines or 202 movement packets from `sender` to `receiver`, one in
// flight at a time, against a raw forwarder between two plain client sockets.
Measurement MeasureRelayLatency(ProtocolPeer& sender, ProtocolPeer& receiver, std::int16_t opcode,
                                const Counts& counts, int serverCpu);

// 302 chat lines streamed from `sender` to `receiver`, the echoes read back
// meanwhile, against the same raw forwarder: packets relayed a second.
Measurement MeasureRelayThroughput(ProtocolPeer& sender, ProtocolPeer& receiver,
                                   const Counts& counts, int serverCpu);

}  // namespace quorvane::bench
