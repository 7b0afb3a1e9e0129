// The NPCs of the real server on a fast timer, seen by two logged-in clients
// over TCP.
#include <algorithm>
#include <array>
#include <map>
#include <regex>

#include "e2e_fixture.h"
#include "opcodes.h"

namespace quorvane::testing {
namespace {

using opcode::kAppeared;
using opcode::kLogin;
using opcode::kMoved;

constexpr int kTickMs = 500;
constexpr std::size_t kMovesPerNpc = 3;

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

// The spawn payload of NPC `entry` at the logged position, facing `dir`.
Bytes SpawnPayload(char entry, Spawned at, std::uint8_t dir) {
  Bytes payload(53, 0x00);
  const std::string name = std::string("+Volkrin_ ") + entry;
  std::copy(name.begin(), name.end(), payload.begin() + 1);
  payload[0] = 0x02;
  payload[18] = 0x38;
  payload[24] = dir;
  payload[36] = 0x1E;
  payload[37] = 0x1E;
  payload[46] = static_cast<std::uint8_t>(at.x);
  payload[48] = static_cast<std::uint8_t>(at.y);
  payload[50] = 0x01;
  payload[52] = 0x01;
  return payload;
}

bool IsNpc(const Packet& packet) {
  return (packet.opcode == kAppeared || packet.opcode == kMoved) && packet.payload.size() > 1 &&
         packet.payload[1] == '+';
}

class NpcE2eTest : public ServerTest {
 protected:
  NpcE2eTest() { settings_.tickMs = kTickMs; }

  // NPC packets for `peer` until each NPC has moved kMovesPerNpc times.
  static std::vector<Packet> NpcPacketsFor(SyncClient& peer) {
    std::vector<Packet> npcPackets;
    std::array<std::size_t, 2> moves{};
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::min(moves[0], moves[1]) < kMovesPerNpc &&
           std::chrono::steady_clock::now() < deadline) {
      std::optional<Packet> packet = peer.NextPacket(1s);
      if (!packet || !IsNpc(*packet)) continue;
      if (packet->opcode == kMoved && packet->payload.size() > 11) {
        const int entry = packet->payload[11] - '0';
        if (entry == 0 || entry == 1) ++moves[static_cast<std::size_t>(entry)];
      }
      npcPackets.push_back(std::move(*packet));
    }
    return npcPackets;
  }
};

TEST_F(NpcE2eTest, BothPlayersSeeBothSpawnsThenChainedMoves) {
  auto ann = Join(0xA11);
  auto bob = Join(0xB0B);
  ann->Send(kLogin, NameBlock("Ann"));
  bob->Send(kLogin, NameBlock("Bob"));

  for (SyncClient* peer : {ann.get(), bob.get()}) {
    const std::vector<Packet> packets = NpcPacketsFor(*peer);
    ASSERT_GE(packets.size(), 2 + 2 * kMovesPerNpc);

    std::map<char, Bytes> spawned;        // entry -> its 205 payload
    std::map<char, std::uint8_t> facing;  // entry -> its last announced Dir
    for (const Packet& packet : packets) {
      const char entry = static_cast<char>(packet.payload[11]);
      SCOPED_TRACE(::testing::Message() << "NPC " << entry << ", opcode " << packet.opcode);
      const std::optional<Spawned> at = SpawnFromLog(server(), entry);
      ASSERT_TRUE(at);
      if (packet.opcode == kAppeared) {
        ASSERT_EQ(spawned.count(entry), 0u) << "announced twice";
        ASSERT_EQ(packet.payload.size(), 53u);
        const std::uint8_t dir = packet.payload[24];
        EXPECT_GE(dir, 1);
        EXPECT_LE(dir, 9);
        EXPECT_EQ(packet.payload, SpawnPayload(entry, *at, dir));
        spawned[entry] = packet.payload;
        facing[entry] = dir;
        continue;
      }
      ASSERT_EQ(spawned.count(entry), 1u) << "moved before it was announced";
      ASSERT_EQ(packet.payload.size(), 54u);
      const std::uint8_t newDir = packet.payload[53];
      EXPECT_NE(newDir, 5);
      EXPECT_GE(newDir, 1);
      EXPECT_LE(newDir, 9);
      Bytes expected = SpawnPayload(entry, *at, facing[entry]);
      expected.push_back(newDir);
      EXPECT_EQ(packet.payload, expected);
      facing[entry] = newDir;
    }
    EXPECT_EQ(spawned.size(), 2u);
    // NPC 0 is spawned two ticks before NPC 1.
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

}  // namespace
}  // namespace quorvane::testing
