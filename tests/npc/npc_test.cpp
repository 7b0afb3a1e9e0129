// The spawner, the mover and the tick handler, seen from the players' side:
// every announcement is opened by a client on the far end of a fake socket.
// NPCs walk: each step moves the stored position, inside 10 to 100.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "npc_host.h"
#include "npc_script.h"
#include "scripted_generator.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using opcode::kAppeared;
using opcode::kMoved;

// NPC 0 spawned at X 55, Y 23 facing 5, written out from the payload table.
const Bytes kSpawnNpc0 = {
    0x02,                                                      // 0
    '+',  'V',  'o',  'l', 'k', 'r', 'i', 'n', '_', ' ', '0',  // 1-11: the name
    0,    0,    0,    0,   0,   0,                             // 12-17
    0x38,                                                      // 18
    0,    0,    0,    0,   0,                                  // 19-23
    0x05,                                                      // 24: Dir
    0,    0,    0,    0,   0,   0,   0,   0,   0,   0,   0,    // 25-35
    0x1E, 0x1E,                                                // 36-37
    0,    0,    0,    0,   0,   0,   0,   0,                   // 38-45
    0x37, 0x00,                                                // 46-47: X 55
    0x17, 0x00,                                                // 48-49: Y 23
    0x01, 0x00, 0x01,                                          // 50-52
};

// NPC 1 spawned at X 100, Y 10 facing 9.
const Bytes kSpawnNpc1 = {
    0x02,                                                      // 0
    '+',  'V',  'o',  'l', 'k', 'r', 'i', 'n', '_', ' ', '1',  // 1-11: the name
    0,    0,    0,    0,   0,   0,                             // 12-17
    0x38,                                                      // 18
    0,    0,    0,    0,   0,                                  // 19-23
    0x09,                                                      // 24: Dir
    0,    0,    0,    0,   0,   0,   0,   0,   0,   0,   0,    // 25-35
    0x1E, 0x1E,                                                // 36-37
    0,    0,    0,    0,   0,   0,   0,   0,                   // 38-45
    0x64, 0x00,                                                // 46-47: X 100
    0x0A, 0x00,                                                // 48-49: Y 10
    0x01, 0x00, 0x01,                                          // 50-52
};

class NpcTest : public ::testing::Test {
 protected:
  void ConnectPlayer() { ConnectScripted(host_, generator_); }
  // Ticks 1 and 2 with NPC 0 spawned at (55, 23) facing 5.
  void SpawnNpc0() {
    QueueSpawn(generator_, 55, 23, 5);
    host_.Tick();
    host_.Tick();
  }
  // Ticks 3 and 4, NPC 0 standing still, NPC 1 spawned at (100, 10) facing 9.
  void SpawnNpc1() {
    QueueStep(generator_, {0, 0});
    QueueStep(generator_, {0, 0});
    QueueSpawn(generator_, 100, 10, 9);
    host_.Tick();
    host_.Tick();
  }

  ScriptedGenerator generator_;
  NpcHost host_{generator_};
};

TEST_F(NpcTest, SecondTickSpawnsNpc0ForEachPlayerOnce) {
  ConnectPlayer();
  ConnectPlayer();
  QueueSpawn(generator_, 55, 23, 5);
  const std::string connectLines = host_.Log();

  host_.Tick();
  EXPECT_TRUE(host_.Received(0).empty());
  EXPECT_TRUE(host_.Received(1).empty());
  EXPECT_EQ(host_.Log(), connectLines);
  EXPECT_EQ(generator_.Calls(), "") << "a tick without NPCs draws nothing";

  host_.Tick();
  const std::vector<Packet> expected{{kAppeared, kSpawnNpc0}};
  EXPECT_EQ(host_.Received(0), expected);
  ASSERT_EQ(NpcAppearanceBytes('0', 55, 23, 5), kSpawnNpc0) << "the bytes the other tests expect";
  EXPECT_EQ(host_.Received(1), expected);
  EXPECT_EQ(host_.Log(), "added +Volkrin_ 0 55 23\r\n" + connectLines);
  EXPECT_EQ(host_.form().Npc(0).Name, "+Volkrin_ 0");
  EXPECT_TRUE(host_.form().Npc(1).Name.empty());
  EXPECT_EQ(host_.form().Ticks(), 0);
}

TEST_F(NpcTest, FourthTickMovesFirstThenSpawnsNpc1WithItsLogLineOnTop) {
  ConnectPlayer();
  SpawnNpc0();
  host_.Received(0);
  const std::string logBefore = host_.Log();

  QueueStep(generator_, {0, 0});
  host_.Tick();
  EXPECT_TRUE(host_.Received(0).empty());

  QueueStep(generator_, {1, 0});
  QueueSpawn(generator_, 100, 10, 9);
  host_.Tick();
  const std::vector<Packet> expected{{kMoved, NpcStepBytes('0', 55, 23, 5, 6)},
                                     {kAppeared, kSpawnNpc1}};
  EXPECT_EQ(host_.Received(0), expected);
  EXPECT_EQ(host_.Log(), "added +Volkrin_ 1 100 10\r\n" + logBefore);
  EXPECT_TRUE(generator_.Exhausted());
}

TEST_F(NpcTest, SpawnAttemptsAfterTheSecondDoNothing) {
  ConnectPlayer();
  SpawnNpc0();
  SpawnNpc1();
  host_.Received(0);
  const std::string log = host_.Log();
  generator_.ClearCalls();

  for (int tick = 0; tick < 4; ++tick) {
    QueueStep(generator_, {0, 0});
    QueueStep(generator_, {0, 0});
    host_.Tick();
  }
  EXPECT_TRUE(host_.Received(0).empty());
  EXPECT_EQ(host_.Log(), log);
  // Two NPCs, four draws each, four ticks: no draw for a spawn.
  EXPECT_EQ(generator_.Calls().size(), 2u * 2 * 4 * 4);
  EXPECT_TRUE(host_.form().Npc(2).Name.empty());
}

TEST_F(NpcTest, EachStepTurnsToItsKeypadFacingAndTheNextStartsWhereItEnded) {
  struct Case {
    Step step;
    std::uint8_t dir;
  };
  const Case cases[] = {
      {{-1, 1}, 1}, {{0, 1}, 2},   {{1, 1}, 3},  {{-1, 0}, 4},
      {{1, 0}, 6},  {{-1, -1}, 7}, {{0, -1}, 8}, {{1, -1}, 9},
  };
  ConnectPlayer();
  SpawnNpc0();
  host_.Received(0);

  // Each move carries where the previous one ended and the facing it
  // announced, starting from the spawn: (55, 23) facing 5.
  int x = 55;
  int y = 23;
  std::uint8_t previous = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "step " << c.step.dx << "," << c.step.dy);
    QueueStep(generator_, c.step);
    if (!host_.form().Npc(1).Name.empty()) {
      QueueStep(generator_, {0, 0});
    } else if (host_.form().Ticks() == 1) {
      QueueSpawn(generator_, 100, 10, 9);
    }
    host_.Tick();

    const std::vector<Packet> received = host_.Received(0);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front(), (Packet{kMoved, NpcStepBytes('0', x, y, previous, c.dir)}));
    x += c.step.dx;
    y += c.step.dy;
    EXPECT_EQ(host_.form().Npc(0).Dir, c.dir);
    EXPECT_EQ(host_.form().Npc(0).X, x);
    EXPECT_EQ(host_.form().Npc(0).Y, y);
    previous = c.dir;
  }
  EXPECT_TRUE(generator_.Exhausted());
}

TEST_F(NpcTest, StandingStillSendsNothingAndKeepsFacingAndPlace) {
  ConnectPlayer();
  SpawnNpc0();
  QueueStep(generator_, {0, 1});
  host_.Tick();
  host_.Received(0);

  QueueStep(generator_, {0, 0});
  QueueSpawn(generator_, 100, 10, 9);
  host_.Tick();
  EXPECT_EQ(host_.Received(0), (std::vector<Packet>{{kAppeared, kSpawnNpc1}}));
  EXPECT_EQ(host_.form().Npc(0).Dir, 2);
  EXPECT_EQ(host_.form().Npc(0).Y, 24);

  QueueStep(generator_, {-1, 0});
  QueueStep(generator_, {0, 0});
  host_.Tick();
  EXPECT_EQ(host_.Received(0), (std::vector<Packet>{{kMoved, NpcStepBytes('0', 55, 24, 2, 4)}}));
}

// A step that would leave 10 to 100 is no step on that axis; with no step
// left on either, nothing is sent and the NPC keeps its place and facing.
TEST_F(NpcTest, StepsOutOfTheSpawnAreaAreCutPerAxis) {
  struct Case {
    int x, y;
    Step step;
    std::uint8_t dir;  // 0: nothing sent
    int toX, toY;
  };
  const Case cases[] = {
      {10, 55, {-1, 0}, 0, 10, 55},
      {10, 55, {-1, 1}, 2, 10, 56},
      {100, 55, {1, 0}, 0, 100, 55},
      {100, 55, {1, -1}, 8, 100, 54},
      {55, 10, {0, -1}, 0, 55, 10},
      {55, 10, {1, -1}, 6, 56, 10},
      {55, 100, {0, 1}, 0, 55, 100},
      {55, 100, {-1, 1}, 4, 54, 100},
      {10, 10, {-1, -1}, 0, 10, 10},
      {100, 100, {1, 1}, 0, 100, 100},
      {10, 100, {-1, 1}, 0, 10, 100},
      {100, 10, {1, -1}, 0, 100, 10},
      // Inward from a corner is an ordinary step.
      {10, 100, {1, -1}, 9, 11, 99},
      {100, 10, {-1, 1}, 1, 99, 11},
      {11, 99, {-1, 1}, 1, 10, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "from " << c.x << "," << c.y << " step " << c.step.dx << "," << c.step.dy);
    ScriptedGenerator generator;
    NpcHost host(generator);
    ConnectScripted(host, generator);
    QueueSpawn(generator, c.x, c.y, 5);
    host.Tick();
    host.Tick();
    host.Received(0);

    QueueStep(generator, c.step);
    host.Tick();
    const std::vector<Packet> expected =
        c.dir == 0 ? std::vector<Packet>{}
                   : std::vector<Packet>{{kMoved, NpcStepBytes('0', c.x, c.y, 5, c.dir)}};
    EXPECT_EQ(host.Received(0), expected);
    EXPECT_EQ(host.form().Npc(0).Dir, c.dir == 0 ? 5 : c.dir);
    EXPECT_EQ(host.form().Npc(0).X, c.toX);
    EXPECT_EQ(host.form().Npc(0).Y, c.toY);
    EXPECT_TRUE(generator.Exhausted()) << "four draws, whether the step is cut or not";
  }
}

TEST_F(NpcTest, NpcsLiveOnWithNobodyConnected) {
  SpawnNpc0();
  SpawnNpc1();
  EXPECT_EQ(host_.Log(), "added +Volkrin_ 1 100 10\r\nadded +Volkrin_ 0 55 23\r\n");
  EXPECT_EQ(host_.form().Npc(1).Dir, 9);
  EXPECT_TRUE(generator_.Exhausted());
}

// The NPCs are shown to a player when it logs in, not when it connects.
TEST_F(NpcTest, PlayerConnectingAfterBothSpawnsWithoutLoggingInGetsOnlyMoves) {
  SpawnNpc0();
  SpawnNpc1();
  ConnectPlayer();

  QueueStep(generator_, {1, 1});
  QueueStep(generator_, {-1, 1});
  host_.Tick();
  QueueStep(generator_, {0, -1});
  QueueStep(generator_, {0, 0});
  host_.Tick();

  const std::vector<Packet> expected{
      {kMoved, NpcStepBytes('0', 55, 23, 5, 3)},
      {kMoved, NpcStepBytes('1', 100, 10, 9, 1)},
      {kMoved, NpcStepBytes('0', 56, 24, 3, 8)},
  };
  EXPECT_EQ(host_.Received(0), expected);
}

TEST_F(NpcTest, EitherPlayerAloneGetsEachAnnouncementOnce) {
  for (const int alone : {0, 1}) {
    SCOPED_TRACE(alone == 0 ? "first slot" : "second slot");
    ScriptedGenerator generator;
    NpcHost host(generator);
    ConnectScripted(host, generator);
    ConnectScripted(host, generator);
    host.DisconnectPlayer(1 - alone);

    QueueSpawn(generator, 55, 23, 5);
    host.Tick();
    host.Tick();
    QueueStep(generator, {1, -1});
    host.Tick();

    const std::vector<Packet> expected{{kAppeared, kSpawnNpc0},
                                       {kMoved, NpcStepBytes('0', 55, 23, 5, 9)}};
    EXPECT_EQ(host.Received(alone), expected);
  }
}

}  // namespace
}  // namespace quorvane::testing
