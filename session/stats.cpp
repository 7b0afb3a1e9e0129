// SendStats: twelve stats packets from the character record, one fixed stats
// packet and the two position packets.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "session/opcodes.h"
#include "session/server_socket.h"
#include "session/wire_fields.h"

namespace quorvane {
namespace {

constexpr std::uint8_t kFixedStats[] = {0x0D, 0x39, 0x03, 0x00, 0x00};
constexpr std::size_t kPositionPayloadSize = 22;
constexpr std::uint8_t kFirstPositionMark = 0x0C;
constexpr std::uint8_t kSecondPositionMark = 0x0D;

// Each payload is built on the stack: a login sends many, and none needs to
// outlive its packet.
template <std::size_t N>
using Payload = std::array<std::uint8_t, N>;

template <std::size_t N, std::size_t M>
void Put(Payload<N>& payload, std::size_t at, const std::array<std::uint8_t, M>& field) {
  std::copy(field.begin(), field.end(), payload.begin() + static_cast<std::ptrdiff_t>(at));
}

Payload<5> LongStat(std::uint8_t code, std::int32_t value) {
  Payload<5> payload{code};
  Put(payload, 1, PackLong(value));
  return payload;
}

Payload<9> LongPair(std::uint8_t code, std::int32_t first, std::int32_t second) {
  Payload<9> payload{code};
  Put(payload, 1, PackLong(first));
  Put(payload, 5, PackLong(second));
  return payload;
}

Payload<3> IntStat(std::uint8_t code, std::int16_t value) {
  Payload<3> payload{code};
  Put(payload, 1, PackInt(value));
  return payload;
}

// X, Y, the fixed tail with its mark byte, then zeros up to 22 bytes.
Payload<kPositionPayloadSize> Position(std::int16_t x, std::int16_t y, std::uint8_t mark) {
  Payload<kPositionPayloadSize> payload{};
  Put(payload, 0, PackInt(x));
  Put(payload, 2, PackInt(y));
  Put(payload, 4, std::to_array<std::uint8_t>({0x01, mark, 0x05, 0x00, 0x00, 0x00, 0x0F}));
  return payload;
}

}  // namespace

void ServerSocket::SendStats() {
  if (!Ready()) return;
  const auto& record = CharacterRecord;
  SendSealed(opcode::kStat, LongPair(0x01, record.Stat1A, record.Stat1B));
  SendSealed(opcode::kStat, LongPair(0x02, record.Stat2A, record.Stat2B));
  SendSealed(opcode::kStat, LongPair(0x03, record.Stat3A, record.Stat3B));
  SendSealed(opcode::kStat, LongPair(0x04, record.Stat4A, record.Stat4B));
  SendSealed(opcode::kStat, IntStat(0x05, record.Level));
  SendSealed(opcode::kStat, IntStat(0x06, record.Stat6));
  SendSealed(opcode::kStat, LongStat(0x07, record.Stat7));
  SendSealed(opcode::kStat, LongStat(0x08, record.Stat8));
  SendSealed(opcode::kStat, LongStat(0x09, record.Stat9));
  SendSealed(opcode::kStat, LongStat(0x0A, record.Stat10));
  SendSealed(opcode::kStat, LongPair(0x0B, record.Stat11A, record.Stat11B));
  SendSealed(opcode::kStat, LongPair(0x0C, record.Stat12A, record.Stat12B));
  SendSealed(opcode::kStat, kFixedStats);
  SendSealed(opcode::kPlace, Position(record.PosX, record.PosY, kFirstPositionMark));
  // The second position lies one step east; a 16-bit X cannot go past 32767.
  if (record.PosX == std::numeric_limits<std::int16_t>::max()) {
    throw HandlerFailure("PosX + 1 overflows the 16-bit range");
  }
  SendSealed(opcode::kPlace, Position(static_cast<std::int16_t>(record.PosX + 1), record.PosY,
                                      kSecondPositionMark));
}

}  // namespace quorvane
