// A deliberately plain model of the session cipher, byte by byte, written
// independently of the library so the two can be compared.
#pragma once

#include <cstdint>

#include "kelvane.hpp"

namespace reference {

// Only the byte-string type is the library's.
using kelvane::Bytes;

struct Keys {
  std::uint32_t counter = 0;
  std::uint8_t key8a = 0;
  std::uint16_t key16 = 0;
  std::uint8_t key8b = 0;
  std::uint32_t key32 = 0;
  std::uint8_t step8a = 0;
  std::uint16_t step16 = 0;
  std::uint8_t step8b = 0;
  std::uint32_t step32 = 0;
};

struct State {
  std::uint32_t clientSeed = 0;
  std::uint32_t serverSeed = 0;
  std::uint32_t seqMask = 0;
  Keys toServer;
  Keys toClient;
};

enum class Direction { ToServer, ToClient };

struct Opened {
  std::int16_t opcode = 0;
  Bytes payload;
};

State schedule(std::uint32_t clientSeed, std::uint32_t serverSeed);
Bytes seal(Direction direction, std::int16_t opcode, const Bytes& payload, State& state);
Opened open(Direction direction, const Bytes& packet, State& state);

}  // namespace reference
