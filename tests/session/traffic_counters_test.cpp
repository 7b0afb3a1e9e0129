// The session's packet counters: each packet counted once, when it is opened
// or sealed, under its opcode and with its size on the wire; packets that
// never made it are not counted.
#include "session/traffic_counters.h"

#include <gtest/gtest.h>

#include "session/opcodes.h"
#include "session_harness.h"

namespace quorvane {
namespace {

using testing::BytesOf;
using testing::SessionHarness;

constexpr auto kIn = PacketDirection::kClientToServer;
constexpr auto kOut = PacketDirection::kServerToClient;
constexpr std::uint64_t kHeader = 8;

TEST(OpcodeIndexTest, FindsEachOpcodeOnlyInItsOwnDirection) {
  for (std::size_t index = 0; index < kOpcodeTable.size(); ++index) {
    const OpcodeInfo& info = kOpcodeTable[index];
    const PacketDirection other = info.direction == kIn ? kOut : kIn;
    EXPECT_EQ(OpcodeIndex(info.value, info.direction), index) << info.name;
    EXPECT_EQ(OpcodeIndex(info.value, other), kUnlistedOpcode) << info.name;
  }
  EXPECT_EQ(OpcodeIndex(0, kIn), kUnlistedOpcode);
  EXPECT_EQ(OpcodeIndex(-1, kOut), kUnlistedOpcode);
  EXPECT_EQ(OpcodeIndex(INT16_MAX, kIn), kUnlistedOpcode);
  EXPECT_EQ(OpcodeIndex(INT16_MIN, kOut), kUnlistedOpcode);
}

class TrafficCountersTest : public ::testing::Test {
 protected:
  const TrafficCounters& Traffic() const { return h.session.Traffic(); }
  PacketTally In(std::int16_t opcode) const { return Traffic().received[OpcodeIndex(opcode, kIn)]; }
  PacketTally Out(std::int16_t opcode) const { return Traffic().sent[OpcodeIndex(opcode, kOut)]; }

  SessionHarness h;
};

TEST_F(TrafficCountersTest, HandshakeCountsTheHelloAndTheReplyAsSent) {
  const Bytes hello = h.client.Hello();
  h.session.Accept(1);
  h.socket.Deliver(hello);
  const Bytes reply = h.socket.TakeSent();
  ASSERT_TRUE(h.client.TakeReply(reply));
  EXPECT_EQ(Traffic().handshakeReceived, (PacketTally{1, hello.size()}));
  EXPECT_EQ(Traffic().handshakeSent, (PacketTally{1, reply.size()}));
  EXPECT_EQ(Traffic().TotalReceived(), (PacketTally{1, hello.size()}));
}

TEST_F(TrafficCountersTest, HelloThatIsNoneIsNotCounted) {
  h.session.Accept(1);
  h.socket.Deliver(h.client.Escape(BytesOf("not a hello")));
  EXPECT_EQ(Traffic(), TrafficCounters{});
}

TEST_F(TrafficCountersTest, PacketIsCountedOnceWhenItsLastByteArrives) {
  ASSERT_TRUE(h.Connect());
  const Bytes say = h.client.Seal(opcode::kSay, BytesOf("\x01hi"));
  h.socket.Deliver(ByteView(say).first(5));
  EXPECT_EQ(In(opcode::kSay), PacketTally{});
  h.socket.Deliver(ByteView(say).subspan(5));
  EXPECT_EQ(In(opcode::kSay), (PacketTally{1, say.size()}));
  // The chat line goes back to its writer, sealed.
  EXPECT_EQ(Out(opcode::kChatLine).packets, 1u);
}

TEST_F(TrafficCountersTest, PacketsAfterAFailedSequenceCheckAreNotCounted) {
  ASSERT_TRUE(h.Connect());
  const Bytes first = h.client.Seal(opcode::kPing, {});
  h.client.Seal(opcode::kPing, {});  // lost on the way
  h.socket.Deliver(testing::Join({first, h.client.Seal(opcode::kPing, {})}));
  EXPECT_EQ(In(opcode::kPing), (PacketTally{1, kHeader}));
  EXPECT_EQ(Out(opcode::kPong), (PacketTally{1, kHeader + 1}));
}

TEST_F(TrafficCountersTest, OpcodesOutsideTheTableShareOneTally) {
  ASSERT_TRUE(h.Connect());
  h.Send(999, {1, 2, 3});
  h.Send(-5, {});
  h.session.SendData(998, BytesOf("xy"));
  EXPECT_EQ(Traffic().received[kUnlistedOpcode], (PacketTally{2, 2 * kHeader + 3}));
  EXPECT_EQ(Traffic().sent[kUnlistedOpcode], (PacketTally{1, kHeader + 2}));
}

TEST_F(TrafficCountersTest, RelayedPacketIsCountedOnlyWhenItIsSealed) {
  const Bytes moved(50, 0x07);
  h.session.SendData(opcode::kMoved, moved);  // not connected: dropped
  EXPECT_EQ(Out(opcode::kMoved), PacketTally{});
  ASSERT_TRUE(h.Connect());
  h.session.SendData(opcode::kMoved, moved);
  EXPECT_EQ(Out(opcode::kMoved), (PacketTally{1, kHeader + moved.size()}));
  EXPECT_EQ(Traffic().TotalSent().bytes, Traffic().handshakeSent.bytes + kHeader + moved.size());
}

TEST(TrafficCountersArithmeticTest, DifferenceOfTwoReadingsIsWhatMovedBetweenThem) {
  TrafficCounters earlier;
  earlier.CountReceived(opcode::kPing, 8);
  earlier.handshakeSent += {1, 10};
  TrafficCounters later = earlier;
  later.CountReceived(opcode::kPing, 8);
  later.CountSent(opcode::kPong, 9);

  const TrafficCounters moved = later - earlier;
  EXPECT_EQ(moved.received[OpcodeIndex(opcode::kPing, kIn)], (PacketTally{1, 8}));
  EXPECT_EQ(moved.sent[OpcodeIndex(opcode::kPong, kOut)], (PacketTally{1, 9}));
  EXPECT_EQ(moved.handshakeSent, PacketTally{});

  TrafficCounters sum = earlier;
  sum += moved;
  EXPECT_EQ(sum, later);
}

}  // namespace
}  // namespace quorvane
