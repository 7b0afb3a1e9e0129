// The input of the session fuzzer: a client seed, then steps that build up
// bytes on the wire and cut them into arrivals. Each step is one byte (taken
// modulo the number of steps) and its operands, integers little-endian.
#pragma once

#include <cstdint>

namespace quorvane::fuzz {

enum class Step : std::uint8_t {
  Hello,       // the client's escaped hello goes on the wire
  Raw,         // u8 n, then n bytes go on the wire as they are
  Sealed,      // i16 opcode, u16 n, then n payload bytes sealed by the client
  Arrive,      // u16 n: the first n bytes on the wire arrive (0: all of them)
  Reconnect,   // u32 seed: a new client on the same slot, wire emptied
  Disconnect,  // the client goes away without the session being told
  PeerSpeaks,  // u8 kind (ping, move or chat), u8 n, n payload bytes from the other player
  Count
};

inline constexpr std::uint8_t kStepCount = static_cast<std::uint8_t>(Step::Count);

}  // namespace quorvane::fuzz
