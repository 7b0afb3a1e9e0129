// Handshake, ping, chat and movement over real TCP against the real server.
#include "e2e_fixture.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using opcode::kChatLine;
using opcode::kMove;
using opcode::kMoved;
using opcode::kSay;

class RelayTest : public ServerTest {
 protected:
  // Two players past their handshakes. Neither has logged in, so both name
  // blocks are still 46 zero bytes and every sender name is empty.
  void JoinBoth() {
    ann_ = Join(0x1234);
    bob_ = Join(0xBEEF0001);
  }

  std::unique_ptr<SyncClient> ann_;
  std::unique_ptr<SyncClient> bob_;
};

TEST_F(RelayTest, PingIsAnsweredWithOneZeroByte) {
  auto peer = Join(7);
  for (const Bytes& payload : {Bytes{}, Bytes{0x01, 0x02, 0x03}}) {
    peer->Send(kPing, payload);
    EXPECT_EQ(peer->NextPacket(), (Packet{kPong, {0x00}}));
  }
  EXPECT_EQ(peer->NextPacket(200ms), std::nullopt);
}

TEST_F(RelayTest, ChatLineGoesBackToTheWriterAndToTheOtherPlayer) {
  JoinBoth();
  ann_->Send(kSay, Bytes{0x01, 'h', 'i'});
  // 00, type, the writer's name (empty), 0A, the text.
  const Packet line{kChatLine, {0x00, 0x01, 0x0A, 'h', 'i'}};
  EXPECT_EQ(ann_->NextPacket(), line);
  EXPECT_EQ(bob_->NextPacket(), line);

  bob_->Send(kSay, Bytes{0x02});
  const Packet empty{kChatLine, {0x00, 0x02, 0x0A}};
  EXPECT_EQ(bob_->NextPacket(), empty);
  EXPECT_EQ(ann_->NextPacket(), empty);
}

TEST_F(RelayTest, MoveIsRelayedAsMovedWithTheWritersNameBlock) {
  JoinBoth();
  ann_->Send(kMove, Bytes{0x01, 0x02, 0x03});
  Bytes expected(46, 0x00);
  expected.insert(expected.end(), {0x01, 0x02, 0x03});
  EXPECT_EQ(bob_->NextPacket(), (Packet{kMoved, expected}));
  // The writer gets nothing: its next packet is the answer to its ping.
  EXPECT_TRUE(UntilPong(*ann_).empty());

  bob_->Send(kMove, Bytes{});
  EXPECT_EQ(ann_->NextPacket(), (Packet{kMoved, Bytes(46, 0x00)}));
  EXPECT_TRUE(UntilPong(*bob_).empty());
}

TEST_F(RelayTest, WithOnePlayerRelaysGoNowhereAndTheServerGoesOn) {
  auto alone = Join(99);
  alone->Send(kMove, Bytes{0x05});
  alone->Send(kSay, Bytes{0x01, 'x'});
  EXPECT_EQ(alone->NextPacket(), (Packet{kChatLine, {0x00, 0x01, 0x0A, 'x'}}));
  EXPECT_TRUE(UntilPong(*alone).empty());
}

TEST_F(RelayTest, PacketWrittenInTwoPartsIsDispatchedOnce) {
  auto peer = Join(0xCAFE);
  for (std::size_t cut : {std::size_t{3}, std::size_t{8}, std::size_t{10}}) {
    const Bytes sealed = peer->session().Seal(kSay, Bytes{0x01, 'a', 'b', 'c', 'd'});
    peer->SendRaw(Bytes(sealed.begin(), sealed.begin() + static_cast<std::ptrdiff_t>(cut)));
    // Long enough for the first part to arrive on its own.
    EXPECT_EQ(peer->NextPacket(150ms), std::nullopt) << "cut at " << cut;
    peer->SendRaw(Bytes(sealed.begin() + static_cast<std::ptrdiff_t>(cut), sealed.end()));
    EXPECT_EQ(peer->NextPacket(), (Packet{kChatLine, {0x00, 0x01, 0x0A, 'a', 'b', 'c', 'd'}}))
        << "cut at " << cut;
  }
  // Still in step with the server's cipher, and nothing was answered twice.
  EXPECT_TRUE(UntilPong(*peer).empty());
}

}  // namespace
}  // namespace quorvane::testing
