// The three measurements of the server, each beside its raw baseline taken
// in the same run over the same loopback with the same byte counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "figures.h"
#include "protocol_peer.h"

namespace quorvane::bench {

struct Counts {
  std::size_t warmUp = 1000;
  std::size_t pings = 20000;
  std::size_t logins = 2000;
  std::size_t relayed = 20000;  // one at a time, per opcode
  std::size_t flood = 100000;   // per opcode
};

// The 46-byte login name block of the benchmark's character.
Bytes NameBlock();

// Logs `player` in once and checks the whole answer; returns its byte count.
std::size_t LogIn(ProtocolPeer& player);

// Logs `player` in while `other` is logged in, and checks that `other` hears
// of it.
void LogInBeside(ProtocolPeer& player, ProtocolPeer& other);

// 124 answered by 125, against a raw echo of 8 bytes answered by 9.
std::vector<Figure> MeasurePing(ProtocolPeer& player, const Counts& counts);

// 200 until the welcome line, against a raw burst of the same byte count.
std::vector<Figure> MeasureLogin(ProtocolPeer& player, const Counts& counts);

struct RelayFigures {
  std::vector<Figure> figures;
  Series server;
  Series forwarder;
};

// 302 chat lines (opcode 302) or movement packets (202) from `sender` to
// `receiver`, against a raw forwarder between two plain client sockets.
RelayFigures MeasureRelay(ProtocolPeer& sender, ProtocolPeer& receiver, std::int16_t opcode,
                          const Counts& counts);

}  // namespace quorvane::bench
