// The packet printer takes its names from the opcode table, in both
// directions, and decodes the fields of packets of the expected shape.
#include "packet_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::client {
namespace {

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

}  // namespace
}  // namespace quorvane::client
