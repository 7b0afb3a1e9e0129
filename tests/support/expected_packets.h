// What a logging-in client must receive, written out from the packet tables
// with nothing of the server's own code but the opcodes' names: the payloads
// built byte by byte from a character's values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol_client.h"
#include "sample_files.h"
#include "session/opcodes.h"

namespace quorvane::testing {

// The fifteen packets of the stats, in order; packet 15 is left out when X
// cannot grow by one.
inline std::vector<Packet> ExpectedStats(const TestCharacter& c) {
  const auto pair = [](std::uint8_t code, std::int32_t first, std::int32_t second) {
    return Packet{opcode::kStat,
                  Join({Bytes{code}, LittleEndian(first, 4), LittleEndian(second, 4)})};
  };
  const auto one = [](std::uint8_t code, std::int64_t value, int width) {
    return Packet{opcode::kStat, Join({Bytes{code}, LittleEndian(value, width)})};
  };
  const auto position = [&c](std::int16_t x, std::uint8_t mark) {
    Bytes payload = Join({LittleEndian(x, 2), LittleEndian(c.posY, 2),
                          Bytes{0x01, mark, 0x05, 0x00, 0x00, 0x00, 0x0F}, Bytes(11, 0x00)});
    return Packet{opcode::kPlace, payload};
  };
  std::vector<Packet> packets{
      pair(0x01, c.stat1a, c.stat1b),
      pair(0x02, c.stat2a, c.stat2b),
      pair(0x03, c.stat3a, c.stat3b),
      pair(0x04, c.stat4a, c.stat4b),
      one(0x05, c.level, 2),
      one(0x06, c.stat6, 2),
      one(0x07, c.stat7, 4),
      one(0x08, c.stat8, 4),
      one(0x09, c.stat9, 4),
      one(0x0A, c.stat10, 4),
      pair(0x0B, c.stat11a, c.stat11b),
      pair(0x0C, c.stat12a, c.stat12b),
      Packet{opcode::kStat, {0x0D, 0x39, 0x03, 0x00, 0x00}},
      position(c.posX, 0x0C),
  };
  if (c.posX != 32767) packets.push_back(position(static_cast<std::int16_t>(c.posX + 1), 0x0D));
  return packets;
}

inline std::vector<Packet> ExpectedSpells(std::uint8_t cls, std::int16_t level) {
  if (cls != 0) return {};
  std::vector<Packet> packets{{opcode::kSpell, {0x01, 0x00, 0x01, 0x00}},
                              {opcode::kSpell, {0x02, 0x00, 0x5B, 0x00}}};
  const struct {
    int above;
    Bytes payload;
  } levelBound[] = {
      {9, {0x01, 0x01, 0x02, 0x00}},   {49, {0x01, 0x02, 0x03, 0x00}},
      {99, {0x01, 0x03, 0x04, 0x00}},  {199, {0x01, 0x04, 0x05, 0x00}},
      {299, {0x01, 0x05, 0x06, 0x00}}, {399, {0x01, 0x06, 0x0A, 0x00}},
      {499, {0x01, 0x07, 0x2D, 0x01}}, {599, {0x01, 0x08, 0x30, 0x01}},
  };
  for (const auto& entry : levelBound) {
    if (level > entry.above) packets.push_back({opcode::kSpell, entry.payload});
  }
  return packets;
}

inline Packet ItemPacket(const TestItem& item) {
  return {opcode::kItem,
          Join({Bytes{item.kind, item.index}, LittleEndian(item.word1, 2),
                LittleEndian(item.word2, 2), LittleEndian(item.count, 2), Bytes(10, 0x00)})};
}

// The four entries every character gets, then each file record whose Count
// is above 0, up to record 16.
inline std::vector<Packet> ExpectedItems(const std::vector<TestItem>& fileRecords = {}) {
  std::vector<Packet> packets{
      {opcode::kItem,
       Join({Bytes{0x03, 0x00, 0x04, 0x00, 0x22, 0x00, 0x64, 0x00}, Bytes(10, 0x00)})},
      {opcode::kItem,
       Join({Bytes{0x01, 0x00, 0x01, 0x00, 0xF1, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
      {opcode::kItem,
       Join({Bytes{0x01, 0x01, 0x02, 0x00, 0x81, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
      {opcode::kItem,
       Join({Bytes{0x01, 0x02, 0x03, 0x00, 0x35, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
  };
  for (std::size_t i = 0; i < fileRecords.size() && i < 16; ++i) {
    if (fileRecords[i].count > 0) packets.push_back(ItemPacket(fileRecords[i]));
  }
  return packets;
}

// 00, 04, "OrlanServer", 0A, "Welcome to Orlan RP Server": 40 bytes.
inline Packet Welcome() {
  return {opcode::kChatLine, Join({Bytes{0x00, 0x04}, BytesOf("OrlanServer"), Bytes{0x0A},
                                   BytesOf("Welcome to Orlan RP Server")})};
}

// A 46-byte login block: 00, the name, 00 bytes to the end.
inline Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

// The block as the server keeps it: its first 46 bytes, blank-padded, with
// byte 21 (offset 20) set to 07.
inline Bytes StoredBlock(const Bytes& payload) {
  Bytes stored(payload.begin(), payload.begin() + std::min<std::ptrdiff_t>(46, payload.size()));
  stored.resize(46, 0x20);
  stored[20] = 0x07;
  return stored;
}

// Everything the logging-in client receives, in order.
inline std::vector<Packet> ExpectedLogin(const Bytes& payload, const TestCharacter& c,
                                         const std::vector<TestItem>& items = {}) {
  std::vector<Packet> packets{
      {opcode::kIdentity, StoredBlock(payload)},
      {opcode::kLoginBegin, {0x00}},
      {opcode::kPosition,
       Join({LittleEndian(c.posX, 2), LittleEndian(c.posY, 2), Bytes{0x00, 0x00, 0x02}})},
  };
  for (auto part : {ExpectedStats(c), ExpectedSpells(c.cls, c.level), ExpectedItems(items)}) {
    packets.insert(packets.end(), part.begin(), part.end());
  }
  packets.push_back({opcode::kLoginStep, {0x00}});
  packets.push_back({opcode::kLoginStep, {0x00}});
  packets.push_back(Welcome());
  return packets;
}

// What the other player receives: 205 with the stored block, X, Y, 00 00 00.
inline Packet ExpectedAnnouncement(const Bytes& payload, const TestCharacter& c) {
  return {opcode::kAppeared, Join({StoredBlock(payload), LittleEndian(c.posX, 2),
                                   LittleEndian(c.posY, 2), Bytes{0x00, 0x00, 0x00}})};
}

}  // namespace quorvane::testing
