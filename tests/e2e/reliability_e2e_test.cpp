// Each attack the server's defences are for, against the real server on
// loopback: strangers come from 127.0.0.2 and up, the player from 127.0.0.1,
// so that the address rules tell them apart. Throughout each attack the
// player's pings are answered. Every test names the options it runs with.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/sync_client.h"
#include "client/tcp_connection.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using client::SyncClient;
// What the client library reads; the expected login is written in the
// test support's own packets.
using Received = client::Packet;
using client::TcpConnection;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using opcode::kChatLine;
using opcode::kLogin;
using opcode::kMove;
using opcode::kPing;
using opcode::kPong;
using opcode::kSay;

const std::string kPlayer = "127.0.0.1";
const std::string kStranger = "127.0.0.2";
const std::string kOtherStranger = "127.0.0.3";
const std::string kToServer1 = "Connected client to Server1";
const std::string kToServer2 = "Connected client to Server2";

const TestCharacter kCaster{.level = 250, .posX = 42, .posY = 57};
const TestCharacter kFighter{.level = 180, .cls = 1, .posX = 45, .posY = 50};

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

class ReliabilityTest : public ::testing::Test {
 protected:
  ReliabilityTest() {
    data_.WriteCharacter("Mirelle", CharacterFile(kCaster));
    data_.WriteCharacter("Torvald", CharacterFile(kFighter));
  }

  void Start(std::vector<std::string> arguments) {
    // No NPC tick within a test: its packets would mix with the players'.
    server_ = std::make_unique<ServerProcess>(
        QUORVANE_PROGRAM,
        ServerProcess::Settings{data_.root().string(), 600000, std::move(arguments)});
  }

  // A client from `from`, its handshake done.
  std::unique_ptr<SyncClient> Join(const std::string& from, std::uint32_t seed) {
    auto joined = std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed, 5s, from);
    EXPECT_TRUE(joined->Handshake()) << "no handshake reply for " << from;
    return joined;
  }

  // A client from `from`, logged in as `name`, its login read up to a pong.
  std::unique_ptr<SyncClient> Player(const std::string& from, std::uint32_t seed,
                                     const std::string& name) {
    auto player = Join(from, seed);
    player->Send(kLogin, NameBlock(name));
    EXPECT_TRUE(Pinged(*player)) << name << "'s login";
    return player;
  }

  // Pings and reads up to the answer; false when it did not come.
  static bool Pinged(SyncClient& peer) {
    peer.Send(kPing, {});
    while (const std::optional<Received> packet = peer.NextPacket()) {
      if (packet->opcode == kPong) return true;
    }
    return false;
  }

  // Every packet before the answer to a ping.
  static std::vector<Received> UntilPong(SyncClient& peer) {
    peer.Send(kPing, {});
    std::vector<Received> before;
    while (std::optional<Received> packet = peer.NextPacket()) {
      if (packet->opcode == kPong) return before;
      before.push_back(std::move(*packet));
    }
    ADD_FAILURE() << "no answer to a ping";
    return before;
  }

  bool StderrHas(const std::string& text, std::chrono::milliseconds timeout = 5s) {
    return server_->process().WaitForStderrLine(text, timeout).has_value();
  }

  // Lines of standard error that contain `text`.
  std::size_t StderrCount(const std::string& text) {
    const std::vector<std::string> lines = server_->process().StderrLines();
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(),
        [&](const std::string& line) { return line.find(text) != std::string::npos; }));
  }

  // Waits until standard error holds `count` lines with `text`.
  bool WaitForStderrCount(const std::string& text, std::size_t count) {
    const auto deadline = Clock::now() + 5s;
    while (StderrCount(text) < count) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  // A client from `from` that the server closes without a handshake (it may
  // be gone before the hello is even written).
  bool ClosedUnserved(const std::string& from, std::uint32_t seed) {
    try {
      SyncClient visitor("127.0.0.1", server_->port(), seed, 5s, from);
      return visitor.WaitClosed() &&
             visitor.session().phase() != client::ClientSession::Phase::kOpen;
    } catch (const std::runtime_error&) {
      return true;
    }
  }

  std::size_t Logged(const std::string& line) {
    const std::vector<std::string> lines = server_->LogLines();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
  }

  DataFolder data_;
  std::unique_ptr<ServerProcess> server_;
};

// Two strangers finish the handshake and only ping, holding both slots; the
// login deadline frees them for the player kept out.
TEST_F(ReliabilityTest, QuietConnectionsHoldingBothSlotsAreClosedAtTheLoginDeadline) {
  Start({"--login-timeout", "1"});
  auto first = Join(kStranger, 1);
  auto second = Join(kOtherStranger, 2);
  ASSERT_TRUE(Pinged(*first));
  ASSERT_TRUE(Pinged(*second));
  EXPECT_TRUE(ClosedUnserved(kPlayer, 3)) << "the slots are held";

  EXPECT_TRUE(first->WaitClosed(3s));
  EXPECT_TRUE(second->WaitClosed(3s));
  EXPECT_TRUE(StderrHas("W slot 1 127.0.0.2:"));
  EXPECT_TRUE(StderrHas(": closed: no login within 1 s"));
  auto player = Player(kPlayer, 4, "Mirelle");
  EXPECT_TRUE(Pinged(*player));
}

// A stranger that never says hello and reconnects the moment it is closed
// holds the free slot for one deadline, then its address waits out the
// penalty: another client gets the slot meanwhile.
TEST_F(ReliabilityTest, NeverHelloReconnectorLeavesTheSlotFreeDuringItsPenalty) {
  Start({"--handshake-timeout", "0.5", "--timeout-penalty", "4", "--autoban", "off"});
  auto player = Player(kPlayer, 1, "Mirelle");

  std::atomic<bool> stop{false};
  std::atomic<int> attempts{0};
  std::thread stranger([&] {
    const auto end = Clock::now() + 5s;
    while (!stop && Clock::now() < end) {
      try {
        TcpConnection connection =
            TcpConnection::Connect("127.0.0.1", server_->port(), 1s, kStranger);
        ++attempts;
        Bytes ignored;
        while (!stop &&
               connection.ReadSome(ignored, 100ms) == TcpConnection::ReadStatus::kTimeout) {
        }
      } catch (const std::runtime_error&) {
      }
      std::this_thread::sleep_for(10ms);
    }
  });

  // The stranger's first connection takes slot 2 until its deadline.
  ASSERT_TRUE(server_->WaitForLogCount(kToServer2, 1));
  ASSERT_TRUE(StderrHas("W 127.0.0.2: refused for 4 s: a deadline closed its connection"));
  for (int i = 0; i < 10; ++i) {
    EXPECT_TRUE(Pinged(*player));
    std::this_thread::sleep_for(50ms);
  }
  auto other = Player(kOtherStranger, 2, "Torvald");
  EXPECT_EQ(Logged(kToServer2), 2u) << "only the stranger's first connection and the other one";
  EXPECT_TRUE(Pinged(*other));
  EXPECT_TRUE(Pinged(*player));
  stop = true;
  stranger.join();
  EXPECT_GT(attempts.load(), 5) << "the stranger kept trying";
}

// A logged-in stranger floods the largest movement packets as fast as it can
// while the player does not read: its relays are dropped before they are
// sealed, so the player is neither reset nor put out of step. Once with the
// relay rate on, once with only the receiver's soft limit.
TEST_F(ReliabilityTest, MoveFloodDoesNotGetThePlayerResetOrOutOfStep) {
  const std::vector<std::vector<std::string>> configurations{
      {},
      {"--relay-rate", "0", "--relay-bytes", "0"},
  };
  for (const auto& arguments : configurations) {
    SCOPED_TRACE(arguments.empty() ? "defaults" : "soft limit only");
    Start(arguments);
    auto player = Player(kPlayer, 1, "Mirelle");
    auto stranger = Player(kStranger, 2, "Torvald");
    UntilPong(*player);  // the stranger's announcement

    const Bytes move(65535 - 46, 0x5A);
    std::size_t sent = 0;
    const auto end = Clock::now() + 1s;
    while (Clock::now() < end) {
      Bytes sealed;
      for (int i = 0; i < 16; ++i) {
        const Bytes next = stranger->session().Seal(kMove, move);
        sealed.insert(sealed.end(), next.begin(), next.end());
      }
      stranger->SendRaw(sealed);
      sent += 16;
    }
    EXPECT_TRUE(Pinged(*stranger)) << "the flooder's own pings";

    std::size_t relayed = 0;
    player->Send(kPing, {});
    bool answered = false;
    while (const std::optional<Received> next = player->NextPacket()) {
      if (next->opcode == kPong) {
        answered = true;
        break;
      }
      ++relayed;
    }
    EXPECT_TRUE(answered) << "the player was cut off: " << player->session().Error();
    EXPECT_LT(relayed, sent) << "nothing was dropped";
    std::printf("move flood (%s): %zu packets of 65,535 bytes sent in 1 s, %zu relayed\n",
                arguments.empty() ? "defaults" : "soft limit only", sent, relayed);
    EXPECT_TRUE(StderrHas("W slot 2 127.0.0.2:"));
    EXPECT_TRUE(StderrHas(": relay to slot 1: dropped "));
    EXPECT_TRUE(Pinged(*player));
  }
}

// A chat line whose echo is too long fails its handler; the packets after it
// in the same write are handled and stay in sequence.
TEST_F(ReliabilityTest, FailingChatLineSkipsOnlyItselfAndTheSequenceHolds) {
  Start({});
  auto player = Player(kPlayer, 1, "Mirelle");
  auto other = Player(kStranger, 2, "Torvald");
  UntilPong(*player);

  Bytes write = player->session().Seal(kSay, Bytes(65535, 'x'));
  for (const Bytes& next :
       {player->session().Seal(kPing, {}), player->session().Seal(kSay, Bytes{0x01, 'h', 'i'})}) {
    write.insert(write.end(), next.begin(), next.end());
  }
  player->SendRaw(write);
  EXPECT_EQ(player->NextPacket(), (Received{kPong, {0x00}}));
  const std::optional<Received> echo = player->NextPacket();
  ASSERT_TRUE(echo) << player->session().Error();
  EXPECT_EQ(echo->opcode, kChatLine);
  EXPECT_EQ(echo->payload.back(), 'i');
  EXPECT_EQ(UntilPong(*other), std::vector<Received>{*echo});
  EXPECT_TRUE(Pinged(*player));
  EXPECT_TRUE(StderrHas(": handler of opcode 302 failed, its packet skipped: "));
}

// The slot's earlier player leaves; the next connection on it speaks under no
// name before its login, and a login without a file gets the zero record.
TEST_F(ReliabilityTest, NewcomerInheritsNothingOfTheSlotsEarlierPlayer) {
  Start({});
  auto earlier = Player(kStranger, 1, "Torvald");
  auto player = Player(kPlayer, 2, "Mirelle");
  // Read what is due (the other player's announcement), so that the close is
  // an orderly one, not a reset for unread bytes.
  UntilPong(*earlier);
  earlier.reset();
  ASSERT_TRUE(StderrHas(": closed: the peer closed the connection"));

  auto newcomer = Join(kOtherStranger, 3);
  ASSERT_TRUE(server_->WaitForLogCount(kToServer1, 2));
  UntilPong(*player);
  newcomer->Send(kSay, Bytes{0x01, 'h', 'i'});
  const Received nameless{kChatLine, {0x00, 0x01, 0x0A, 'h', 'i'}};
  EXPECT_EQ(newcomer->NextPacket(), nameless);
  EXPECT_EQ(player->NextPacket(), nameless);

  newcomer->Send(kLogin, NameBlock("Nobody"));
  std::vector<Packet> login;
  for (const Received& packet : UntilPong(*newcomer))
    login.push_back({packet.opcode, packet.payload});
  // The whole login from the zero record, then the player already there.
  const std::vector<Packet> expected = ExpectedLogin(NameBlock("Nobody"), {});
  ASSERT_EQ(login.size(), expected.size() + 1);
  EXPECT_EQ(std::vector<Packet>(login.begin(), login.end() - 1), expected);
  EXPECT_EQ(login.back().opcode, opcode::kAppeared);
  EXPECT_EQ(Bytes(login.back().payload.begin() + 1, login.back().payload.begin() + 8),
            (Bytes{'M', 'i', 'r', 'e', 'l', 'l', 'e'}));
  EXPECT_TRUE(Pinged(*player));
}

// A second connection logging in as the character the other slot plays (any
// case of its name) is closed before any reply; with --require-character, so
// is one naming no character file.
TEST_F(ReliabilityTest, LoginAsACharacterInPlayOrWithoutAFileIsRefused) {
  struct Case {
    std::vector<std::string> arguments;
    std::string name;
    std::string line;
  };
  const Case cases[] = {
      {{}, "Mirelle", ": closed: its login named the character another slot plays"},
      {{}, "mIRELLE", ": closed: its login named the character another slot plays"},
      {{"--require-character"}, "Nobody", ": closed: its login named no character file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.arguments);
    auto player = Player(kPlayer, 1, "Mirelle");
    auto stranger = Join(kStranger, 2);
    stranger->Send(kLogin, NameBlock(c.name));
    EXPECT_TRUE(stranger->WaitClosed());
    EXPECT_EQ(stranger->NextPacket(0ms), std::nullopt) << "a reply went out before the refusal";
    EXPECT_TRUE(UntilPong(*player).empty()) << "the player heard of the refused login";
    EXPECT_TRUE(StderrHas("W slot 2 127.0.0.2:"));
    EXPECT_TRUE(StderrHas(c.line));
  }
}

// Refused addresses are closed before the slots see them: no slot, no log
// line, one diagnostic per address and ban.
TEST_F(ReliabilityTest, DeniedAndBannedAddressesNeverReachTheSlots) {
  Start({"--deny", "127.0.0.2", "--autoban", "5/60/300"});
  auto player = Player(kPlayer, 1, "Mirelle");
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ClosedUnserved(kStranger, 10 + i));
  EXPECT_TRUE(StderrHas("W 127.0.0.2:"));
  EXPECT_TRUE(StderrHas(": refused: inside a --deny range"));

  // Five visits are fine; the sixth within the minute is one too many.
  for (int i = 0; i < 5; ++i) {
    {
      SyncClient visitor("127.0.0.1", server_->port(), 20 + i, 5s, kOtherStranger);
      EXPECT_TRUE(visitor.Handshake()) << "visit " << i;
    }
    // The slot is free again once the server has seen the visitor go.
    ASSERT_TRUE(WaitForStderrCount(": closed: ", static_cast<std::size_t>(i) + 1));
  }
  for (int i = 5; i < 12; ++i) EXPECT_TRUE(ClosedUnserved(kOtherStranger, 20 + i)) << i;
  EXPECT_TRUE(StderrHas("W 127.0.0.3: banned for 300 s: more than 5 connections within 60 s"));
  EXPECT_TRUE(Pinged(*player));

  EXPECT_EQ(StderrCount("127.0.0.2"), 1u) << "one line for three refusals";
  EXPECT_EQ(StderrCount("banned"), 1u);
  EXPECT_EQ(Logged(kToServer2), 5u);
}

}  // namespace
}  // namespace quorvane::testing
