#include "reference_cipher.h"

namespace reference {
namespace {

// Which quantity and which of its bytes each header byte carries.
enum Quantity { S, O, L };
struct Slot {
  Quantity quantity;
  int byteIndex;
};
constexpr Slot kToServerHeader[8] = {{S, 0}, {O, 0}, {S, 2}, {S, 1},
                                     {L, 1}, {S, 3}, {O, 1}, {L, 0}};
constexpr Slot kToClientHeader[8] = {{O, 1}, {S, 2}, {L, 0}, {S, 0},
                                     {L, 1}, {S, 3}, {O, 0}, {S, 1}};

const Slot* headerOf(Direction direction) {
  return direction == Direction::ToServer ? kToServerHeader : kToClientHeader;
}

Keys& keysOf(Direction direction, State& state) {
  return direction == Direction::ToServer ? state.toServer : state.toClient;
}

std::uint8_t byteAt(std::uint32_t value, int index) {
  return (value >> (8 * index)) & 0xFF;
}

std::uint8_t keyByte(const Keys& keys, std::size_t position, std::size_t length) {
  const std::size_t tailStart = length - length % 4;
  if (position < tailStart) return byteAt(keys.key32, position % 4);
  const std::size_t tailLength = length - tailStart;
  const std::size_t inTail = position - tailStart;
  if (tailLength == 1) return keys.key8a;
  if (inTail == 0) return byteAt(keys.key16, 0);
  if (inTail == 1) return byteAt(keys.key16, 1);
  return keys.key8b;
}

void advance(Keys& keys) {
  keys.key8a += keys.step8a;
  keys.step8a += 1;
  keys.key16 += keys.step16;
  keys.step16 += 1;
  keys.key8b += keys.step8b;
  keys.step8b += 1;
  keys.key32 += keys.step32;
  keys.step32 += 1;
}

}  // namespace

State schedule(std::uint32_t clientSeed, std::uint32_t serverSeed) {
  State state;
  state.clientSeed = clientSeed;
  state.serverSeed = serverSeed;
  const std::uint32_t x = clientSeed ^ serverSeed;
  const std::uint32_t y = x ^ 0x3C6E9B51u;
  const std::uint32_t z = x ^ 0xC4A7D29Eu;
  state.seqMask = x;
  state.toServer = {(x ^ 0xFFFFF5A3u) & 0xFFF,
                    static_cast<std::uint8_t>(y >> 5),
                    static_cast<std::uint16_t>(y >> 9),
                    static_cast<std::uint8_t>(y >> 17),
                    (clientSeed >> 21) | (y << 11),
                    5,
                    1,
                    9,
                    1023};
  state.toClient = {x & 0xFFF,
                    static_cast<std::uint8_t>(z >> 3),
                    static_cast<std::uint16_t>(z >> 7),
                    static_cast<std::uint8_t>(z >> 2),
                    (serverSeed >> 5) | (z << 27),
                    31,
                    12,
                    3,
                    11};
  return state;
}

Bytes seal(Direction direction, std::int16_t opcode, const Bytes& payload, State& state) {
  Keys& keys = keysOf(direction, state);
  const std::size_t n = payload.size() % 65536;
  keys.counter += 1;
  const std::uint32_t quantities[3] = {
      keys.counter ^ state.seqMask,
      static_cast<std::uint32_t>(static_cast<std::uint16_t>(opcode) ^ keys.key16),
      static_cast<std::uint32_t>(n ^ keys.key16)};
  Bytes packet;
  for (int i = 0; i < 8; ++i) {
    const Slot slot = headerOf(direction)[i];
    packet.push_back(byteAt(quantities[slot.quantity], slot.byteIndex));
  }
  for (std::size_t i = 0; i < n; ++i) packet.push_back(payload[i] ^ keyByte(keys, i, n));
  advance(keys);
  return packet;
}

Opened open(Direction direction, const Bytes& packet, State& state) {
  Keys& keys = keysOf(direction, state);
  if (packet.size() < 8) return {0, {}};
  std::uint32_t quantities[3] = {0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    const Slot slot = headerOf(direction)[i];
    quantities[slot.quantity] |= static_cast<std::uint32_t>(packet[i]) << (8 * slot.byteIndex);
  }
  const auto opcode = static_cast<std::int16_t>(quantities[O] ^ keys.key16);
  const std::size_t n = (quantities[L] ^ keys.key16) & 0xFFFF;
  if (packet.size() < n + 8) return {0, {}};
  keys.counter += 1;
  if ((quantities[S] ^ state.seqMask) != keys.counter) return {-1, {}};
  Opened opened{opcode, {}};
  for (std::size_t i = 0; i < n; ++i) opened.payload.push_back(packet[8 + i] ^ keyByte(keys, i, n));
  advance(keys);
  return opened;
}

}  // namespace reference
