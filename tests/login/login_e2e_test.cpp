// Logins against the real server over TCP, with a fixture data folder: every
// payload compared with bytes written out from the fixture's values.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "client/sync_client.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "server_process.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

const TestCharacter kCaster{.level = 250,
                            .stat1a = 1840,
                            .stat1b = 1900,
                            .stat2a = 2600,
                            .stat2b = 65535,
                            .stat3a = 410,
                            .stat3b = 500,
                            .stat4a = 35,
                            .stat4b = 40,
                            .stat11a = 120,
                            .stat11b = 150,
                            .stat12a = 88,
                            .stat12b = 90,
                            .stat6 = 12,
                            .stat7 = 15400,
                            .stat8 = 230,
                            .stat9 = 75,
                            .stat10 = 3100,
                            .posX = 42,
                            .posY = 57};
const std::vector<TestItem> kCasterItems{
    {.kind = 2, .index = 0, .word1 = 17, .word2 = 3, .count = 1},
    {.kind = 4, .index = 2, .word1 = 7, .word2 = 0, .count = 0},
    {.kind = 4, .index = 1, .word1 = 6, .word2 = 0, .count = -1},
    {.kind = 5, .index = 3, .word1 = 120, .word2 = 9, .count = 300},
};
const TestCharacter kFighter{.level = 180, .cls = 1, .stat1a = 4200, .posX = 45, .posY = 50};
const TestCharacter kAtTheEdge{.level = 20, .posX = 32767, .posY = 4};

class LoginE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data.WriteCharacter("Mirelle", CharacterFile(kCaster));
    data.WriteItems("Mirelle", ItemFile(kCasterItems));
    data.WriteCharacter("Torvald", CharacterFile(kFighter));
    data.WriteCharacter("Edge", CharacterFile(kAtTheEdge));
    // No NPC tick within a test: its packets would mix with the login's.
    ServerProcess::Settings settings;
    settings.dataDir = data.root().string();
    settings.tickMs = 600000;
    server = std::make_unique<ServerProcess>(QUORVANE_PROGRAM, settings);
  }

  std::unique_ptr<client::SyncClient> Player(std::uint32_t seed) {
    auto peer = std::make_unique<client::SyncClient>("127.0.0.1", server->port(), seed);
    EXPECT_TRUE(peer->Handshake());
    return peer;
  }

  // The next `count` packets, fewer when the server goes quiet.
  static std::vector<Packet> Next(client::SyncClient& peer, std::size_t count) {
    std::vector<Packet> packets;
    while (packets.size() < count) {
      std::optional<client::Packet> packet = peer.NextPacket();
      if (!packet) break;
      packets.push_back({packet->opcode, packet->payload});
    }
    return packets;
  }

  // Pings and waits for the answer, passing over whatever came before it.
  static void UntilPong(client::SyncClient& peer) {
    peer.Send(124, {});
    while (const std::optional<client::Packet> packet = peer.NextPacket()) {
      if (packet->opcode == 125) return;
    }
    ADD_FAILURE() << "no answer to a ping";
  }

  // Nothing more arrives before the answer to a ping.
  static void ExpectOnlyPong(client::SyncClient& peer) {
    peer.Send(124, {});
    EXPECT_EQ(Next(peer, 1), (std::vector<Packet>{{125, {0x00}}}));
  }

  DataFolder data;
  std::unique_ptr<ServerProcess> server;
};

TEST_F(LoginE2eTest, BothPlayersReceiveTheirPartOfEachLogin) {
  auto first = Player(0x00C0FFEEu);
  auto second = Player(0x12345678u);

  first->Send(200, NameBlock("Mirelle"));
  const std::vector<Packet> expected = ExpectedLogin(NameBlock("Mirelle"), kCaster, kCasterItems);
  EXPECT_EQ(Next(*first, expected.size()), expected);
  EXPECT_EQ(Next(*second, 1),
            (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Mirelle"), kCaster)}));

  // A short block: blank-padded, and the name's trailing blanks do not count.
  const Bytes shortBlock = Join({Bytes{0x00}, BytesOf("Torvald"), Bytes{0x00, 0x00}});
  second->Send(200, shortBlock);
  // The second player is shown the first after its welcome line.
  std::vector<Packet> fighter = ExpectedLogin(shortBlock, kFighter);
  fighter.push_back(ExpectedAnnouncement(NameBlock("Mirelle"), kCaster));
  EXPECT_EQ(Next(*second, fighter.size()), fighter);
  EXPECT_EQ(Next(*first, 1), (std::vector<Packet>{ExpectedAnnouncement(shortBlock, kFighter)}));

  ExpectOnlyPong(*first);
  ExpectOnlyPong(*second);
}

TEST_F(LoginE2eTest, LoginWithoutFilesServesTheRecordAsItStood) {
  auto peer = Player(7u);

  peer->Send(200, NameBlock("Nobody"));
  const std::vector<Packet> fresh = ExpectedLogin(NameBlock("Nobody"), {});
  EXPECT_EQ(Next(*peer, fresh.size()), fresh);

  peer->Send(200, NameBlock("Torvald"));
  const std::vector<Packet> fighter = ExpectedLogin(NameBlock("Torvald"), kFighter);
  EXPECT_EQ(Next(*peer, fighter.size()), fighter);

  peer->Send(200, NameBlock("Nobody"));
  const std::vector<Packet> kept = ExpectedLogin(NameBlock("Nobody"), kFighter);
  EXPECT_EQ(Next(*peer, kept.size()), kept);
  ExpectOnlyPong(*peer);
}

TEST_F(LoginE2eTest, OverflowingPositionEndsTheLoginAndTheServerGoesOn) {
  auto edge = Player(11u);
  auto other = Player(12u);

  edge->Send(200, NameBlock("Edge"));
  std::vector<Packet> expected = ExpectedLogin(NameBlock("Edge"), kAtTheEdge);
  expected.resize(3 + 14);
  EXPECT_EQ(Next(*edge, expected.size()), expected);
  ExpectOnlyPong(*edge);
  ExpectOnlyPong(*other);

  other->Send(200, NameBlock("Mirelle"));
  const std::vector<Packet> caster = ExpectedLogin(NameBlock("Mirelle"), kCaster, kCasterItems);
  EXPECT_EQ(Next(*other, caster.size()), caster);
  EXPECT_EQ(Next(*edge, 1),
            (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Mirelle"), kCaster)}));
  // A login that never reached its welcome line shows nobody to the newcomer.
  ExpectOnlyPong(*other);
}

// The server reads the data folder through a cache: an operator's change
// must be served at the very next login, however soon it comes.
TEST_F(LoginE2eTest, AnOperatorsChangesAreServedAtTheNextLogin) {
  auto first = Player(21u);
  auto second = Player(22u);
  const auto logIn = [&](client::SyncClient& peer, const std::string& name,
                         const TestCharacter& character) {
    peer.Send(200, NameBlock(name));
    const std::vector<Packet> expected = ExpectedLogin(NameBlock(name), character);
    EXPECT_EQ(Next(peer, expected.size()), expected) << name;
    // The other player, shown after the welcome line once it has logged in.
    UntilPong(peer);
    Next(first.get() == &peer ? *second : *first, 1);  // the announcement
  };

  const TestCharacter moved{.level = 181, .cls = 1, .stat1a = 4200, .posX = 46, .posY = 51};
  data.WriteCharacter("Torvald", CharacterFile(moved));
  logIn(*first, "Torvald", moved);

  const TestCharacter newcomer{.level = 2, .posX = 9, .posY = 8};
  data.WriteCharacter("Newcomer", CharacterFile(newcomer));
  logIn(*second, "Newcomer", newcomer);

  std::filesystem::rename(data.root() / "characters" / "Newcomer",
                          data.root() / "characters" / "newcomer");
  logIn(*first, "NEWCOMER", newcomer);

  // Gone: the record stays as it stood on that slot.
  std::filesystem::remove(data.root() / "characters" / "newcomer");
  logIn(*second, "Newcomer", newcomer);
  std::filesystem::remove(data.root() / "characters" / "Torvald");
  logIn(*first, "Torvald", newcomer);
  ExpectOnlyPong(*first);
  ExpectOnlyPong(*second);
}

}  // namespace
}  // namespace quorvane::testing
