// The NPCs of the real server on a fast timer, seen by logged-in clients over
// TCP: spawned, shown to a late joiner where they stand, and walking.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "client/sync_client.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "npc_bytes.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using client::SyncClient;
using opcode::kAppeared;
using opcode::kIdentity;
using opcode::kLogin;
using opcode::kMoved;

constexpr int kMinCoordinate = 10;
constexpr int kMaxCoordinate = 100;

struct Spawned {
  int x = 0;
  int y = 0;
};

// X and Y of an NPC from its log line "added NAME X Y".
std::optional<Spawned> SpawnFromLog(ServerProcess& server, char entry) {
  const std::regex line(std::string(R"(added \+Volkrin_ )") + entry + R"( (\d+) (\d+))");
  for (const std::string& text : server.LogLines()) {
    std::smatch match;
    if (std::regex_match(text, match, line)) {
      return Spawned{std::stoi(match[1]), std::stoi(match[2])};
    }
  }
  return std::nullopt;
}

// The next packet from the server, or nothing when none came in time.
std::optional<Packet> Next(SyncClient& peer, std::chrono::milliseconds timeout = 5s) {
  std::optional<client::Packet> packet = peer.NextPacket(timeout);
  if (!packet) return std::nullopt;
  return Packet{packet->opcode, std::move(packet->payload)};
}

bool IsNpc(const Packet& packet) {
  return (packet.opcode == kAppeared || packet.opcode == kMoved) && packet.payload.size() > 11 &&
         packet.payload[1] == '+';
}

int Int16At(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::int16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

struct Step {
  int dx;
  int dy;
};

// The step a facing stands for: numeric keypad, greater Y on the lower row.
Step StepOf(std::uint8_t dir) {
  const int column = (dir - 1) % 3 - 1;
  const int row = 1 - (dir - 1) / 3;
  return {column, row};
}

// An NPC as one player has been shown it.
struct NpcState {
  int x = 0;
  int y = 0;
  std::uint8_t dir = 0;
  std::size_t moves = 0;
  friend bool operator==(const NpcState& a, const NpcState& b) {
    return a.x == b.x && a.y == b.y && a.dir == b.dir;
  }
};

// Follows the NPCs through one player's packets and stops the test at the
// first packet that breaks a walk: a 203 must start where the NPC stands and
// face as it faces, a 205 of a known NPC must show it there, and no step may
// leave 10 to 100.
class WalkTracker {
 public:
  void Take(const Packet& packet) {
    const char entry = static_cast<char>(packet.payload[11]);
    SCOPED_TRACE(::testing::Message() << "NPC " << entry << ", opcode " << packet.opcode);
    if (packet.opcode == kAppeared) {
      ASSERT_EQ(packet.payload.size(), 53u);
      NpcState shown{Int16At(packet.payload, 46), Int16At(packet.payload, 48), packet.payload[24]};
      EXPECT_EQ(packet.payload, NpcAppearanceBytes(entry, shown.x, shown.y, shown.dir));
      ExpectInside(shown);
      EXPECT_GE(shown.dir, 1);
      EXPECT_LE(shown.dir, 9);
      const auto known = npcs_.find(entry);
      if (known != npcs_.end()) {
        ASSERT_EQ(shown, known->second) << "shown again elsewhere than it stands";
        shown.moves = known->second.moves;
      }
      npcs_[entry] = shown;
      return;
    }
    const auto known = npcs_.find(entry);
    ASSERT_NE(known, npcs_.end()) << "moved before it was shown";
    NpcState& npc = known->second;
    ASSERT_EQ(packet.payload.size(), 54u);
    const std::uint8_t newDir = packet.payload[53];
    ASSERT_TRUE(newDir >= 1 && newDir <= 9 && newDir != 5) << int{newDir};
    ASSERT_EQ(packet.payload, NpcStepBytes(entry, npc.x, npc.y, npc.dir, newDir))
        << "a step starts where the last one ended";
    const Step step = StepOf(newDir);
    npc.x += step.dx;
    npc.y += step.dy;
    npc.dir = newDir;
    ++npc.moves;
    ExpectInside(npc);
  }

  bool Shown(char entry) const { return npcs_.count(entry) != 0; }
  const NpcState& Npc(char entry) const { return npcs_.at(entry); }
  std::size_t Moves(char entry) const { return Shown(entry) ? Npc(entry).moves : 0; }
  std::size_t FewestMoves() const { return std::min(Moves('0'), Moves('1')); }

 private:
  static void ExpectInside(const NpcState& npc) {
    ASSERT_TRUE(npc.x >= kMinCoordinate && npc.x <= kMaxCoordinate && npc.y >= kMinCoordinate &&
                npc.y <= kMaxCoordinate)
        << "at " << npc.x << "," << npc.y;
  }

  std::map<char, NpcState> npcs_;
};

// Logs `peer` in and reads up to its welcome line: what came before (NPC
// packets for a player not yet logged in, say) is not followed.
void LogIn(SyncClient& peer, const std::string& name) {
  peer.Send(kLogin, NameBlock(name));
  for (std::optional<Packet> packet; (packet = Next(peer));) {
    if (*packet == Welcome()) return;
  }
  ADD_FAILURE() << name << " got no welcome line";
}

// Feeds `peer`'s NPC packets to `walks` until each NPC has moved `moves`
// times or `patience` has passed; returns the NPC packets in order.
std::vector<Packet> FollowNpcs(SyncClient& peer, WalkTracker& walks, std::size_t moves,
                               std::chrono::seconds patience) {
  std::vector<Packet> npcPackets;
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (walks.FewestMoves() < moves && std::chrono::steady_clock::now() < deadline &&
         !::testing::Test::HasFatalFailure()) {
    std::optional<Packet> packet = Next(peer, 1s);
    if (!packet || !IsNpc(*packet)) continue;
    walks.Take(*packet);
    npcPackets.push_back(std::move(*packet));
  }
  return npcPackets;
}

const TestCharacter kAnn{.level = 12, .posX = 42, .posY = 57};
const TestCharacter kBob{.level = 30, .posX = 30, .posY = 31};

// The real server with Ann's and Bob's characters and an NPC tick of
// `tickMs`.
class NpcE2eTest : public ::testing::Test {
 protected:
  explicit NpcE2eTest(int tickMs = 500) {
    data_.WriteCharacter("Ann", CharacterFile(kAnn));
    data_.WriteCharacter("Bob", CharacterFile(kBob));
    ServerProcess::Settings settings;
    settings.dataDir = data_.root().string();
    settings.tickMs = tickMs;
    server_ = std::make_unique<ServerProcess>(QUORVANE_PROGRAM, settings);
  }

  // A client connected to the server, its handshake done.
  std::unique_ptr<SyncClient> Join(std::uint32_t seed) {
    auto peer = std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed);
    EXPECT_TRUE(peer->Handshake()) << "client " << seed;
    return peer;
  }

  ServerProcess& server() { return *server_; }

 private:
  DataFolder data_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(NpcE2eTest, BothPlayersSeeBothSpawnsThenChainedMoves) {
  constexpr std::size_t kMovesPerNpc = 3;
  auto ann = Join(0xA11);
  auto bob = Join(0xB0B);
  LogIn(*ann, "Ann");
  LogIn(*bob, "Bob");

  for (SyncClient* peer : {ann.get(), bob.get()}) {
    WalkTracker walks;
    const std::vector<Packet> packets = FollowNpcs(*peer, walks, kMovesPerNpc, 20s);
    ASSERT_GE(walks.FewestMoves(), kMovesPerNpc);
    // Both logged in before the first spawn: each NPC is first shown where
    // the spawner logged it, NPC 0 two ticks before NPC 1.
    std::map<char, Spawned> first;
    for (const Packet& packet : packets) {
      const char entry = static_cast<char>(packet.payload[11]);
      if (packet.opcode != kAppeared || first.count(entry) != 0) continue;
      first[entry] = {Int16At(packet.payload, 46), Int16At(packet.payload, 48)};
      const std::optional<Spawned> logged = SpawnFromLog(server(), entry);
      ASSERT_TRUE(logged) << entry;
      EXPECT_EQ(first[entry].x, logged->x) << entry;
      EXPECT_EQ(first[entry].y, logged->y) << entry;
    }
    EXPECT_EQ(packets.front().opcode, kAppeared);
    EXPECT_EQ(packets.front().payload[11], '0');
  }
  // One log line per spawn, NPC 0 first.
  std::vector<std::string> added;
  for (const std::string& line : server().LogLines()) {
    if (line.starts_with("added ")) added.push_back(line.substr(0, 17));
  }
  EXPECT_EQ(added, (std::vector<std::string>{"added +Volkrin_ 0", "added +Volkrin_ 1"}));
}

// A player who logs in after both spawns is shown, after its welcome line,
// the other player and both NPCs where they stand at that moment: where the
// other player, who watched them walk, last saw them when the newcomer's own
// announcement reached it.
class LateJoinerE2eTest : public NpcE2eTest {
 protected:
  LateJoinerE2eTest() : NpcE2eTest(50) {}
};

TEST_F(LateJoinerE2eTest, IsShownThePlayerThenBothNpcsWhereTheyStand) {
  auto ann = Join(0xA11);
  LogIn(*ann, "Ann");
  WalkTracker annSees;
  FollowNpcs(*ann, annSees, 2, 20s);
  ASSERT_GE(annSees.FewestMoves(), 2u);

  auto bob = Join(0xB0B);
  bob->Send(kLogin, NameBlock("Bob"));
  const Packet bobAppears = ExpectedAnnouncement(NameBlock("Bob"), kBob);
  for (;;) {
    std::optional<Packet> packet = Next(*ann);
    ASSERT_TRUE(packet) << "Ann was never told of Bob";
    if (*packet == bobAppears) break;
    if (IsNpc(*packet)) annSees.Take(*packet);
    if (HasFatalFailure()) return;
  }
  const NpcState npc0 = annSees.Npc('0');
  const NpcState npc1 = annSees.Npc('1');

  // Before its login Bob may get NPC moves already; its login starts at 243.
  std::optional<Packet> packet;
  do {
    packet = Next(*bob);
    ASSERT_TRUE(packet) << "no login answer";
  } while (packet->opcode != kIdentity);
  std::vector<Packet> received{*packet};
  std::vector<Packet> expected = ExpectedLogin(NameBlock("Bob"), kBob);
  expected.push_back(ExpectedAnnouncement(NameBlock("Ann"), kAnn));
  expected.push_back({kAppeared, NpcAppearanceBytes('0', npc0.x, npc0.y, npc0.dir)});
  expected.push_back({kAppeared, NpcAppearanceBytes('1', npc1.x, npc1.y, npc1.dir)});
  while (received.size() < expected.size() && (packet = Next(*bob))) {
    received.push_back(*packet);
  }
  ASSERT_EQ(received, expected);

  // From there on Bob sees them walk on from where he was shown them.
  WalkTracker bobSees;
  for (std::size_t i = received.size() - 2; i < received.size(); ++i) bobSees.Take(received[i]);
  FollowNpcs(*bob, bobSees, 3, 20s);
  EXPECT_GE(bobSees.FewestMoves(), 3u);
}

// Many ticks on a fast timer: every step starts where the last one ended, and
// no NPC ever stands outside 10 to 100.
class LongWalkE2eTest : public NpcE2eTest {
 protected:
  LongWalkE2eTest() : NpcE2eTest(10) {}
};

TEST_F(LongWalkE2eTest, StaysInsideTheSpawnArea) {
  constexpr std::size_t kMovesPerNpc = 400;
  auto ann = Join(0xA11);
  LogIn(*ann, "Ann");
  WalkTracker walks;
  FollowNpcs(*ann, walks, kMovesPerNpc, 30s);
  EXPECT_GE(walks.FewestMoves(), kMovesPerNpc);
}

}  // namespace
}  // namespace quorvane::testing
