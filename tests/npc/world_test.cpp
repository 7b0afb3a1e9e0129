// What a player is shown on logging in: after its welcome line, the other
// player (when that player's current connection has logged in), then every
// spawned NPC in table order where it stands now, each sealed for this client.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "expected_packets.h"
#include "npc_host.h"
#include "npc_script.h"
#include "scripted_generator.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using opcode::kAppeared;

const TestCharacter kAnn{.level = 12, .posX = 42, .posY = 57};
const TestCharacter kBob{.level = 30, .cls = 1, .posX = 30, .posY = 31};
// Its login fails at the second position packet, before the welcome line.
const TestCharacter kEdge{.posX = 32767, .posY = 4};

std::vector<Packet> Then(std::vector<Packet> first, const std::vector<Packet>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class WorldTest : public ::testing::Test {
 protected:
  WorldTest() {
    host_.data().WriteCharacter("Ann", CharacterFile(kAnn));
    host_.data().WriteCharacter("Bob", CharacterFile(kBob));
    host_.data().WriteCharacter("Edge", CharacterFile(kEdge));
  }

  void ConnectPlayer() { ConnectScripted(host_, generator_); }
  // Ticks 1 and 2: NPC 0 appears at (55, 23) facing 5.
  void SpawnNpc0() {
    QueueSpawn(generator_, 55, 23, 5);
    host_.Tick();
    host_.Tick();
  }
  // Ticks 3 and 4: NPC 0 steps east to (56, 23), NPC 1 appears at (100, 10)
  // facing 9.
  void SpawnNpc1() {
    QueueStep(generator_, {1, 0});
    host_.Tick();
    QueueStep(generator_, {0, 0});
    QueueSpawn(generator_, 100, 10, 9);
    host_.Tick();
  }

  ScriptedGenerator generator_;
  NpcHost host_{generator_};
};

TEST_F(WorldTest, SecondPlayerIsShownTheFirstAfterItsWelcomeLine) {
  ConnectPlayer();
  ConnectPlayer();
  host_.Login(0, NameBlock("Ann"));
  EXPECT_EQ(host_.Received(0), ExpectedLogin(NameBlock("Ann"), kAnn)) << "nobody to show yet";
  EXPECT_EQ(host_.Received(1), (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Ann"), kAnn)}));

  host_.Login(1, NameBlock("Bob"));
  EXPECT_EQ(host_.Received(1), Then(ExpectedLogin(NameBlock("Bob"), kBob),
                                    {ExpectedAnnouncement(NameBlock("Ann"), kAnn)}));
  EXPECT_EQ(host_.Received(0), (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Bob"), kBob)}))
      << "the player already there is told of the newcomer only";
}

TEST_F(WorldTest, NewcomerIsShownThePlayerThenTheNpcsInTableOrderWhereTheyStand) {
  SpawnNpc0();
  SpawnNpc1();
  QueueStep(generator_, {0, 1});
  QueueStep(generator_, {-1, 1});
  host_.Tick();
  ASSERT_TRUE(generator_.Exhausted());
  // NPC 0 at (56, 24) facing 2, NPC 1 at (99, 11) facing 1.
  const std::vector<Packet> npcs{{kAppeared, NpcAppearanceBytes('0', 56, 24, 2)},
                                 {kAppeared, NpcAppearanceBytes('1', 99, 11, 1)}};

  ConnectPlayer();
  host_.Login(0, NameBlock("Ann"));
  EXPECT_EQ(host_.Received(0), Then(ExpectedLogin(NameBlock("Ann"), kAnn), npcs));

  ConnectPlayer();
  host_.Login(1, NameBlock("Bob"));
  EXPECT_EQ(host_.Received(1), Then(Then(ExpectedLogin(NameBlock("Bob"), kBob),
                                         {ExpectedAnnouncement(NameBlock("Ann"), kAnn)}),
                                    npcs));
  EXPECT_EQ(host_.Received(0), (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Bob"), kBob)}));
}

TEST_F(WorldTest, EveryLoginOnAConnectionShowsTheWorldAgainAsItIsThen) {
  ConnectPlayer();
  host_.Login(0, NameBlock("Ann"));
  ConnectPlayer();
  SpawnNpc0();
  host_.Received(0);
  host_.Received(1);

  host_.Login(1, NameBlock("Bob"));
  EXPECT_EQ(host_.Received(1), Then(ExpectedLogin(NameBlock("Bob"), kBob),
                                    {ExpectedAnnouncement(NameBlock("Ann"), kAnn),
                                     {kAppeared, NpcAppearanceBytes('0', 55, 23, 5)}}));

  QueueStep(generator_, {-1, -1});
  host_.Tick();
  QueueStep(generator_, {0, 0});
  QueueSpawn(generator_, 100, 10, 9);
  host_.Tick();
  host_.Received(0);
  host_.Received(1);

  // A name without a file keeps Bob's record; Ann's login on her slot shows
  // her as she logged in last.
  host_.Login(1, NameBlock("Nobody"));
  EXPECT_EQ(host_.Received(1), Then(ExpectedLogin(NameBlock("Nobody"), kBob),
                                    {ExpectedAnnouncement(NameBlock("Ann"), kAnn),
                                     {kAppeared, NpcAppearanceBytes('0', 54, 22, 7)},
                                     {kAppeared, NpcAppearanceBytes('1', 100, 10, 9)}}));
  EXPECT_EQ(host_.Received(0),
            (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Nobody"), kBob)}));
}

// Whatever slot 1 is shown of slot 0 depends on slot 0's current connection
// alone: a name block and record left by an earlier one do not count.
TEST(WorldShownTest, OtherPlayerIsShownOnlyWhenItsCurrentConnectionLoggedIn) {
  struct Case {
    std::string what;
    // Leaves slot 0 as the case says and slot 1 connected past its handshake.
    std::function<void(NpcHost&, ScriptedGenerator&)> arrange;
    bool shown;
  };
  const auto connect = [](NpcHost& host, ScriptedGenerator& generator) {
    ConnectScripted(host, generator);
  };
  const Case cases[] = {
      {"logged in on this connection",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Ann"));
         connect(host, generator);
       },
       true},
      {"past its handshake, never logged in",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         connect(host, generator);
       },
       false},
      {"logged in, left; a new connection past its handshake",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Ann"));
         host.Received(0);
         host.DropPlayer(0);
         connect(host, generator);
         connect(host, generator);
       },
       false},
      {"logged in, left; a new connection before its hello",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Ann"));
         host.Received(0);
         host.DropPlayer(0);
         host.ConnectPlayer(false);
         connect(host, generator);
       },
       false},
      {"logged in, then its peer went unnoticed",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Ann"));
         connect(host, generator);
         host.DisconnectPlayer(0);
       },
       false},
      {"logged in, its peer went unnoticed; a new connection past its handshake",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Ann"));
         host.Received(0);
         connect(host, generator);
         host.DisconnectPlayer(0);
         connect(host, generator);
       },
       false},
      {"its login failed before the welcome line",
       [&](NpcHost& host, ScriptedGenerator& generator) {
         connect(host, generator);
         host.Login(0, NameBlock("Edge"));
         connect(host, generator);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedGenerator generator;
    NpcHost host(generator);
    host.data().WriteCharacter("Ann", CharacterFile(kAnn));
    host.data().WriteCharacter("Bob", CharacterFile(kBob));
    host.data().WriteCharacter("Edge", CharacterFile(kEdge));
    c.arrange(host, generator);
    host.Received(1);

    host.Login(1, NameBlock("Bob"));
    std::vector<Packet> expected = ExpectedLogin(NameBlock("Bob"), kBob);
    if (c.shown) expected.push_back(ExpectedAnnouncement(NameBlock("Ann"), kAnn));
    EXPECT_EQ(host.Received(1), expected);
  }
}

}  // namespace
}  // namespace quorvane::testing
