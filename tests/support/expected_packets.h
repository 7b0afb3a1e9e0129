// What a logging-in client must receive, written out from the packet tables
// with nothing of the server's own code: a character's file bytes at their
// offsets, and the payloads built byte by byte from its values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol_client.h"

namespace quorvane::testing {

inline constexpr std::int16_t kStats = 261;
inline constexpr std::int16_t kPosition = 221;
inline constexpr std::int16_t kSpell = 251;
inline constexpr std::int16_t kItem = 223;
inline constexpr std::int16_t kNameEcho = 243;
inline constexpr std::int16_t kLoginStart = 1015;
inline constexpr std::int16_t kPlace = 209;
inline constexpr std::int16_t kLoginDone = 1013;
inline constexpr std::int16_t kAnnounce = 205;
inline constexpr std::int16_t kChat = 303;

struct TestCharacter {
  std::int16_t level = 0;
  std::uint8_t cls = 0;
  std::int32_t stat1a = 0, stat1b = 0, stat2a = 0, stat2b = 0, stat3a = 0, stat3b = 0;
  std::int32_t stat4a = 0, stat4b = 0, stat11a = 0, stat11b = 0, stat12a = 0, stat12b = 0;
  std::int16_t stat6 = 0;
  std::int32_t stat7 = 0, stat8 = 0, stat9 = 0, stat10 = 0;
  std::int16_t posX = 0, posY = 0;
};

struct TestItem {
  std::uint8_t kind = 0;
  std::uint8_t index = 0;
  std::int16_t word1 = 0;
  std::int16_t word2 = 0;
  std::int16_t count = 0;
};

// `width` bytes of `value`, least significant first, two's complement.
inline Bytes LittleEndian(std::int64_t value, int width) {
  Bytes bytes;
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return bytes;
}

inline void Put(Bytes& bytes, std::size_t offset, std::int64_t value, int width) {
  const Bytes field = LittleEndian(value, width);
  std::copy(field.begin(), field.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

// A 116-byte character file; the Name text at offset 0 stays zero.
inline Bytes CharacterFile(const TestCharacter& c) {
  Bytes file(116, 0x00);
  Put(file, 18, c.level, 2);
  Put(file, 20, c.cls, 1);
  Put(file, 23, c.stat1a, 4);
  Put(file, 27, c.stat1b, 4);
  Put(file, 31, c.stat2a, 4);
  Put(file, 35, c.stat2b, 4);
  Put(file, 39, c.stat3a, 4);
  Put(file, 43, c.stat3b, 4);
  Put(file, 47, c.stat12b, 4);
  Put(file, 51, c.stat12a, 4);
  Put(file, 55, c.stat4b, 4);
  Put(file, 59, c.stat4a, 4);
  Put(file, 63, c.stat11b, 4);
  Put(file, 67, c.stat11a, 4);
  Put(file, 71, c.stat6, 2);
  Put(file, 73, c.stat7, 4);
  Put(file, 77, c.stat8, 4);
  Put(file, 81, c.stat9, 4);
  Put(file, 85, c.stat10, 4);
  Put(file, 89, c.posX, 2);
  Put(file, 91, c.posY, 2);
  return file;
}

inline Bytes ItemFile(const std::vector<TestItem>& items) {
  Bytes file;
  for (const TestItem& item : items) {
    file.push_back(item.kind);
    file.push_back(item.index);
    for (const std::int16_t word : {item.word1, item.word2, item.count}) {
      const Bytes packed = LittleEndian(word, 2);
      file.insert(file.end(), packed.begin(), packed.end());
    }
  }
  return file;
}

// The fifteen packets of the stats, in order; packet 15 is left out when X
// cannot grow by one.
inline std::vector<Packet> ExpectedStats(const TestCharacter& c) {
  const auto pair = [](std::uint8_t code, std::int32_t first, std::int32_t second) {
    return Packet{kStats, Join({Bytes{code}, LittleEndian(first, 4), LittleEndian(second, 4)})};
  };
  const auto one = [](std::uint8_t code, std::int64_t value, int width) {
    return Packet{kStats, Join({Bytes{code}, LittleEndian(value, width)})};
  };
  const auto position = [&c](std::int16_t x, std::uint8_t mark) {
    Bytes payload = Join({LittleEndian(x, 2), LittleEndian(c.posY, 2),
                          Bytes{0x01, mark, 0x05, 0x00, 0x00, 0x00, 0x0F}, Bytes(11, 0x00)});
    return Packet{kPosition, payload};
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
      Packet{kStats, {0x0D, 0x39, 0x03, 0x00, 0x00}},
      position(c.posX, 0x0C),
  };
  if (c.posX != 32767) packets.push_back(position(static_cast<std::int16_t>(c.posX + 1), 0x0D));
  return packets;
}

inline std::vector<Packet> ExpectedSpells(std::uint8_t cls, std::int16_t level) {
  if (cls != 0) return {};
  std::vector<Packet> packets{{kSpell, {0x01, 0x00, 0x01, 0x00}},
                              {kSpell, {0x02, 0x00, 0x5B, 0x00}}};
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
    if (level > entry.above) packets.push_back({kSpell, entry.payload});
  }
  return packets;
}

inline Packet ItemPacket(const TestItem& item) {
  return {kItem, Join({Bytes{item.kind, item.index}, LittleEndian(item.word1, 2),
                       LittleEndian(item.word2, 2), LittleEndian(item.count, 2), Bytes(10, 0x00)})};
}

// The four entries every character gets, then each file record whose Count
// is above 0, up to record 16.
inline std::vector<Packet> ExpectedItems(const std::vector<TestItem>& fileRecords = {}) {
  std::vector<Packet> packets{
      {kItem, Join({Bytes{0x03, 0x00, 0x04, 0x00, 0x22, 0x00, 0x64, 0x00}, Bytes(10, 0x00)})},
      {kItem, Join({Bytes{0x01, 0x00, 0x01, 0x00, 0xF1, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
      {kItem, Join({Bytes{0x01, 0x01, 0x02, 0x00, 0x81, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
      {kItem, Join({Bytes{0x01, 0x02, 0x03, 0x00, 0x35, 0x00, 0x01, 0x00}, Bytes(10, 0x00)})},
  };
  for (std::size_t i = 0; i < fileRecords.size() && i < 16; ++i) {
    if (fileRecords[i].count > 0) packets.push_back(ItemPacket(fileRecords[i]));
  }
  return packets;
}

// 00, 04, "OrlanServer", 0A, "Welcome to Orlan RP Server": 40 bytes.
inline Packet Welcome() {
  return {kChat, Join({Bytes{0x00, 0x04}, BytesOf("OrlanServer"), Bytes{0x0A},
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
      {kNameEcho, StoredBlock(payload)},
      {kLoginStart, {0x00}},
      {kPlace, Join({LittleEndian(c.posX, 2), LittleEndian(c.posY, 2), Bytes{0x00, 0x00, 0x02}})},
  };
  for (auto part : {ExpectedStats(c), ExpectedSpells(c.cls, c.level), ExpectedItems(items)}) {
    packets.insert(packets.end(), part.begin(), part.end());
  }
  packets.push_back({kLoginDone, {0x00}});
  packets.push_back({kLoginDone, {0x00}});
  packets.push_back(Welcome());
  return packets;
}

// What the other player receives: 205 with the stored block, X, Y, 00 00 00.
inline Packet ExpectedAnnouncement(const Bytes& payload, const TestCharacter& c) {
  return {kAnnounce, Join({StoredBlock(payload), LittleEndian(c.posX, 2), LittleEndian(c.posY, 2),
                           Bytes{0x00, 0x00, 0x00}})};
}

}  // namespace quorvane::testing
