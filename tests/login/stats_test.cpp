// SendStats: the fifteen packets of a character's numbers and position.
#include <gtest/gtest.h>

#include "login_session.h"

namespace quorvane::testing {
namespace {

using StatsTest = LoginSessionTest;

Bytes PositionPayload(Bytes head) {
  return Join({head, Bytes(11, 0x00)});
}

TEST_F(StatsTest, SendsEachValueInItsPacket) {
  const TestCharacter c{.level = 10,
                        .stat1a = 100,
                        .stat1b = 250,
                        .stat2a = 513,
                        .stat2b = 65535,
                        .stat3a = 3,
                        .stat3b = 30,
                        .stat4a = 7,
                        .stat4b = 9,
                        .stat11a = 11,
                        .stat11b = 1100,
                        .stat12a = 12,
                        .stat12b = 1200,
                        .stat6 = 32767,
                        .stat7 = 70,
                        .stat8 = 80,
                        .stat9 = 90,
                        .stat10 = 256,
                        .posX = 5,
                        .posY = 7};
  data.WriteCharacter("Ann", CharacterFile(c));
  Login(NameBlock("Ann"));

  harness.session.SendStats();
  const std::vector<Packet> stats = harness.Received();

  ASSERT_EQ(stats.size(), 15u);
  EXPECT_EQ(stats, ExpectedStats(c));
  // The worked examples, byte for byte.
  EXPECT_EQ(stats[0].payload, (Bytes{0x01, 0x64, 0x00, 0x00, 0x00, 0xFA, 0x00, 0x00, 0x00}));
  EXPECT_EQ(stats[3].payload, (Bytes{0x04, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00}));
  EXPECT_EQ(stats[4].payload, (Bytes{0x05, 0x0A, 0x00}));
  EXPECT_EQ(stats[12].payload, (Bytes{0x0D, 0x39, 0x03, 0x00, 0x00}));
  EXPECT_EQ(stats[13], (Packet{opcode::kPlace, PositionPayload({0x05, 0x00, 0x07, 0x00, 0x01, 0x0C,
                                                                0x05, 0x00, 0x00, 0x00, 0x0F})}));
  EXPECT_EQ(stats[14], (Packet{opcode::kPlace, PositionPayload({0x06, 0x00, 0x07, 0x00, 0x01, 0x0D,
                                                                0x05, 0x00, 0x00, 0x00, 0x0F})}));
}

TEST_F(StatsTest, NeverLoadedRecordSendsZerosAndSecondPositionAtXOne) {
  harness.session.SendStats();
  const std::vector<Packet> stats = harness.Received();

  EXPECT_EQ(stats, ExpectedStats({}));
  ASSERT_EQ(stats.size(), 15u);
  EXPECT_EQ(stats[1].payload, (Bytes{0x02, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(stats[14].payload,
            PositionPayload({0x01, 0x00, 0x00, 0x00, 0x01, 0x0D, 0x05, 0x00, 0x00, 0x00, 0x0F}));
}

TEST_F(StatsTest, OutOfRangeValuesGoOutInTwosComplement) {
  data.WriteCharacter("Odd", CharacterFile({.level = -1, .stat7 = 100000, .stat8 = -2}));
  Login(NameBlock("Odd"));

  harness.session.SendStats();
  const std::vector<Packet> stats = harness.Received();

  ASSERT_EQ(stats.size(), 15u);
  EXPECT_EQ(stats[4].payload, (Bytes{0x05, 0xFF, 0xFF}));
  EXPECT_EQ(stats[6].payload, (Bytes{0x07, 0xA0, 0x86, 0x01, 0x00}));
  EXPECT_EQ(stats[7].payload, (Bytes{0x08, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(StatsTest, XOf32767StopsBeforeTheSecondPosition) {
  const TestCharacter edge{.posX = 32767, .posY = 3};
  data.WriteCharacter("Edge", CharacterFile(edge));
  Login(NameBlock("Edge"));

  EXPECT_THROW(harness.session.SendStats(), HandlerFailure);

  const std::vector<Packet> stats = harness.Received();
  ASSERT_EQ(stats.size(), 14u);
  EXPECT_EQ(stats, ExpectedStats(edge));
  EXPECT_EQ(stats[13].payload,
            PositionPayload({0xFF, 0x7F, 0x03, 0x00, 0x01, 0x0C, 0x05, 0x00, 0x00, 0x00, 0x0F}));
}

}  // namespace
}  // namespace quorvane::testing
