// The packet printer takes its names from the opcode table, in both
// directions, and decodes the fields of packets of the expected shape.
#include "client/packet_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::client {
namespace {

// The decoded line DescribePacket gives under the header, or "" when none.
std::string FieldsOf(const Packet& packet) {
  const std::string text = DescribePacket(packet);
  const std::size_t start = text.find("\n  ");
  return start == std::string::npos ? "" : text.substr(start + 3);
}

// A name block: 00, the name, 00 bytes to 46; `facing` at offset 24.
Bytes NameBlock(const std::string& name, std::uint8_t facing = 0) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  block[24] = facing;
  return block;
}

// The name block, then X and Y (below 256) and `tail`.
Bytes Placed(Bytes block, std::uint8_t x, std::uint8_t y, const Bytes& tail) {
  block.insert(block.end(), {x, 0x00, y, 0x00});
  block.insert(block.end(), tail.begin(), tail.end());
  return block;
}

TEST(PacketText, NamesComeFromTheOpcodeTable) {
  const struct {
    std::int16_t opcode;
    std::string name;
  } cases[] = {{124, "Ping"},     {125, "Pong"},   {202, "Move"}, {203, "Moved"},
               {209, "Position"}, {221, "Place"},  {302, "Say"},  {1015, "LoginBegin"},
               {0, "unknown"},    {201, "unknown"}};
  for (const auto& c : cases) {
    EXPECT_EQ(OpcodeName(c.opcode), c.name) << c.opcode;
  }
}

TEST(PacketText, DescribesLengthHexAndKnownFields) {
  EXPECT_EQ(DescribePacket({125, {0x00}}), "125 Pong, 1 bytes: 00");
  EXPECT_EQ(DescribePacket({124, {}}), "124 Ping, 0 bytes");
  EXPECT_EQ(DescribePacket({209, {0x2A, 0x00, 0x39, 0x00, 0x00, 0x00, 0x02}}),
            "209 Position, 7 bytes: 2a 00 39 00 00 00 02\n  at 42,57");
  EXPECT_EQ(DescribePacket({209, {0x2A, 0x00}}), "209 Position, 2 bytes: 2a 00")
      << "a payload of another shape gets no fields";
}

TEST(PacketText, AppearedTellsPlayersFromServerCharacters) {
  const struct {
    Bytes payload;
    std::string fields;
  } cases[] = {
      {Placed(NameBlock("Ann"), 42, 57, {0x00, 0x00, 0x00}), "player \"Ann\" at 42,57"},
      {Placed(NameBlock("+Volkrin_ 0", 5), 55, 23, {0x01, 0x00, 0x01}),
       "server character \"+Volkrin_ 0\" at 55,23, facing 5"},
      {Placed(NameBlock("Odd"), 1, 2, {0x01, 0x02, 0x03}),
       "character \"Odd\" at 1,2, flags 01 02 03"},
      {Placed(NameBlock("Short"), 1, 2, {0x00, 0x00}), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldsOf({205, c.payload}), c.fields) << c.fields;
  }
}

TEST(PacketText, MovedShowsWhereTheStepStartsAndWhereItPoints) {
  const struct {
    std::uint8_t facing;
    std::string heading;
  } headings[] = {{1, "south-west"}, {2, "south"},        {3, "south-east"},   {4, "west"},
                  {5, "in place"},   {6, "east"},         {7, "north-west"},   {8, "north"},
                  {9, "north-east"}, {0, "no direction"}, {10, "no direction"}};
  for (const auto& c : headings) {
    const Bytes payload = Placed(NameBlock("+Volkrin_ 1", 3), 99, 11, {0x01, 0x00, 0x01, c.facing});
    EXPECT_EQ(FieldsOf({203, payload}), "name \"+Volkrin_ 1\" from 99,11, facing 3 -> " +
                                            std::to_string(c.facing) + " (" + c.heading +
                                            "), flags 01 00 01");
  }

  // A player's move of another length is shown as it came.
  Bytes move = NameBlock("Ann");
  move.insert(move.end(), {0x01, 0x02, 0x03});
  EXPECT_EQ(FieldsOf({203, move}), "name \"Ann\", move 01 02 03");
  EXPECT_EQ(FieldsOf({203, Bytes(45, 0x00)}), "");
}

TEST(PacketText, StatsNameTheirFields) {
  const struct {
    Bytes payload;
    std::string fields;
  } cases[] = {
      {{0x01, 0x64, 0, 0, 0, 0xFA, 0, 0, 0}, "stat code 1: Stat1A 100, Stat1B 250"},
      {{0x04, 0x07, 0, 0, 0, 0x09, 0, 0, 0}, "stat code 4: Stat4A 7, Stat4B 9"},
      {{0x05, 0x0A, 0x00}, "stat code 5: Level 10"},
      {{0x06, 0x0C, 0x00}, "stat code 6: Stat6 12"},
      {{0x0A, 0x1C, 0x0C, 0, 0}, "stat code 10: Stat10 3100"},
      {{0x0B, 0x78, 0, 0, 0, 0x96, 0, 0, 0}, "stat code 11: Stat11A 120, Stat11B 150"},
      {{0x0C, 0x58, 0, 0, 0, 0x5A, 0, 0, 0}, "stat code 12: Stat12A 88, Stat12B 90"},
      {{0x0D, 0x39, 0x03, 0x00, 0x00}, "stat code 13: fixed 39 03 00 00"},
      {{0x05, 0x0A, 0x00, 0x00, 0x00}, ""},
      {{0x01, 0x64, 0, 0, 0}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldsOf({261, c.payload}), c.fields) << c.fields;
  }
}

}  // namespace
}  // namespace quorvane::client
