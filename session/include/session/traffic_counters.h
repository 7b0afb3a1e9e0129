// What a session moved over its connection: packets and bytes by opcode in
// each direction, plus the handshake. Plain counters bumped as packets are
// opened and sealed, so that counting costs a table look-up and two additions;
// whoever reports on the sessions reads them when it wants them. They only
// grow, for as long as the session object lives.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "session/opcodes.h"

namespace quorvane {

struct PacketTally {
  std::uint64_t packets = 0;
  std::uint64_t bytes = 0;

  PacketTally& operator+=(const PacketTally& other) {
    packets += other.packets;
    bytes += other.bytes;
    return *this;
  }
  friend PacketTally operator-(PacketTally later, const PacketTally& earlier) {
    later.packets -= earlier.packets;
    later.bytes -= earlier.bytes;
    return later;
  }
  friend bool operator==(const PacketTally&, const PacketTally&) = default;
};

// The tally index of opcodes that the table does not list for a direction.
inline constexpr std::size_t kUnlistedOpcode = kOpcodeTable.size();

namespace detail {

inline constexpr std::int16_t kHighestListedOpcode = [] {
  std::int16_t highest = 0;
  for (const OpcodeInfo& info : kOpcodeTable) highest = std::max(highest, info.value);
  return highest;
}();

// Every value up to the highest listed, mapped to its position in
// kOpcodeTable for one direction: a packet is counted with one look-up.
constexpr auto OpcodeIndexTable(PacketDirection direction) {
  std::array<std::uint8_t, kHighestListedOpcode + 1> table{};
  table.fill(static_cast<std::uint8_t>(kUnlistedOpcode));
  for (std::size_t index = 0; index < kOpcodeTable.size(); ++index) {
    const OpcodeInfo& info = kOpcodeTable[index];
    if (info.direction == direction && info.value >= 0) {
      table[static_cast<std::size_t>(info.value)] = static_cast<std::uint8_t>(index);
    }
  }
  return table;
}

inline constexpr auto kClientToServerIndex = OpcodeIndexTable(PacketDirection::kClientToServer);
inline constexpr auto kServerToClientIndex = OpcodeIndexTable(PacketDirection::kServerToClient);

}  // namespace detail

// The position of `value` in kOpcodeTable for `direction`, or kUnlistedOpcode.
constexpr std::size_t OpcodeIndex(std::int16_t value, PacketDirection direction) {
  if (value < 0 || value > detail::kHighestListedOpcode) return kUnlistedOpcode;
  const auto& table = direction == PacketDirection::kClientToServer ? detail::kClientToServerIndex
                                                                    : detail::kServerToClientIndex;
  return table[static_cast<std::size_t>(value)];
}

struct TrafficCounters {
  // By OpcodeIndex; a direction's tallies stay zero at the other direction's
  // opcodes. Bytes are whole sealed packets, header included.
  using ByOpcode = std::array<PacketTally, kOpcodeTable.size() + 1>;

  ByOpcode received{};
  ByOpcode sent{};
  // The escaped hello answered and the escaped reply to it.
  PacketTally handshakeReceived;
  PacketTally handshakeSent;

  void CountReceived(std::int16_t opcode, std::size_t bytes) {
    Count(received[OpcodeIndex(opcode, PacketDirection::kClientToServer)], bytes);
  }
  void CountSent(std::int16_t opcode, std::size_t bytes) {
    Count(sent[OpcodeIndex(opcode, PacketDirection::kServerToClient)], bytes);
  }

  // Everything that came in (or went out), handshake included.
  PacketTally TotalReceived() const { return Total(received, handshakeReceived); }
  PacketTally TotalSent() const { return Total(sent, handshakeSent); }

  TrafficCounters& operator+=(const TrafficCounters& other) {
    for (std::size_t index = 0; index < received.size(); ++index) {
      received[index] += other.received[index];
      sent[index] += other.sent[index];
    }
    handshakeReceived += other.handshakeReceived;
    handshakeSent += other.handshakeSent;
    return *this;
  }
  // What moved between `earlier` and this later reading of the same counters.
  friend TrafficCounters operator-(TrafficCounters later, const TrafficCounters& earlier) {
    for (std::size_t index = 0; index < later.received.size(); ++index) {
      later.received[index] = later.received[index] - earlier.received[index];
      later.sent[index] = later.sent[index] - earlier.sent[index];
    }
    later.handshakeReceived = later.handshakeReceived - earlier.handshakeReceived;
    later.handshakeSent = later.handshakeSent - earlier.handshakeSent;
    return later;
  }
  friend bool operator==(const TrafficCounters&, const TrafficCounters&) = default;

 private:
  static void Count(PacketTally& tally, std::size_t bytes) {
    ++tally.packets;
    tally.bytes += bytes;
  }
  static PacketTally Total(const ByOpcode& tallies, PacketTally handshake) {
    for (const PacketTally& tally : tallies) handshake += tally;
    return handshake;
  }
};

}  // namespace quorvane
