// Phase 2: opening the packets of each arrival, keeping a packet that TCP
// split, and where an arrival ends early.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "report_log.h"
#include "session/opcodes.h"
#include "session_harness.h"

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Join;
using testing::Packet;
using testing::SessionHarness;

// 202 is relayed with the payload behind the 46-byte name block, so the
// relayed packets show which packets were dispatched, in which order.
using opcode::kMove;
using opcode::kMoved;

Packet Relayed(const Bytes& payload) {
  return {kMoved, Join({NameField{}, payload})};
}

class ReceiveLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Connect()); }

  Bytes Move(const Bytes& payload) { return h.client.Seal(kMove, payload); }
  void Deliver(const Bytes& bytes) { h.socket.Deliver(bytes); }

  SessionHarness h;
};

TEST_F(ReceiveLoopTest, DispatchesEveryPacketOfAnArrivalInOrder) {
  Deliver(Join({Move({'a'}), Move({'b', 'b'}), Move({'c', 'c', 'c'})}));
  EXPECT_THAT(h.relayed,
              ElementsAre(Relayed({'a'}), Relayed({'b', 'b'}), Relayed({'c', 'c', 'c'})));
}

TEST_F(ReceiveLoopTest, DispatchesAnEmptyPayload) {
  Deliver(Join({Move({}), Move({'x'})}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({}), Relayed({'x'})));
}

TEST_F(ReceiveLoopTest, StopsAtAPacketThatFailsTheSequenceCheck) {
  const Bytes first = Move({'1'});
  h.client.Seal(kMove, {'2'});  // lost on the way
  Deliver(Join({first, Move({'3'}), Move({'4'})}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'1'})));
}

TEST_F(ReceiveLoopTest, StopsAtADamagedSequenceWordAndDropsTheRest) {
  const Bytes first = Move({'1'});
  Bytes second = Move({'2'});
  second[0] ^= 0x01;  // sequence word bits 0-7
  Deliver(Join({first, second, Move({'3'})}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'1'})));
  EXPECT_TRUE(h.socket.NothingSent());
}

// A packet cut at every kind of place: inside the header, right after it,
// inside the payload, one byte short.
TEST_F(ReceiveLoopTest, JoinsASplitPacketWithTheNextArrival) {
  for (const std::size_t cut : {1u, 5u, 7u, 8u, 10u, 12u}) {
    SCOPED_TRACE(cut);
    h.relayed.clear();
    const Bytes packet = Move({'s', 'p', 'l', 'i', 't'});  // 13 bytes
    Deliver(Bytes(packet.begin(), packet.begin() + cut));
    EXPECT_THAT(h.relayed, IsEmpty());
    Deliver(Bytes(packet.begin() + cut, packet.end()));
    EXPECT_THAT(h.relayed, ElementsAre(Relayed({'s', 'p', 'l', 'i', 't'})));
  }
  // The two ends are still in step.
  h.relayed.clear();
  Deliver(Move({'o', 'k'}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'o', 'k'})));
}

TEST_F(ReceiveLoopTest, KeepsTheStartOfTheNextPacketBehindWholeOnes) {
  const Bytes first = Move({'1'});
  const Bytes second = Move({'2', '2'});
  const Bytes third = Move({'3'});
  Deliver(Join({first, ByteView(second).first(5)}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'1'})));
  Deliver(Join({ByteView(second).subspan(5), third}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'1'}), Relayed({'2', '2'}), Relayed({'3'})));
}

TEST_F(ReceiveLoopTest, JoinsTheLargestPacketFromManySmallArrivals) {
  Bytes payload(65535);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  const Bytes packet = Move(payload);
  ASSERT_EQ(packet.size(), 65543u);
  for (std::size_t at = 0; at < packet.size(); at += 1000) {
    EXPECT_THAT(h.relayed, IsEmpty()) << at;
    Deliver(Bytes(packet.begin() + at, packet.begin() + std::min(at + 1000, packet.size())));
  }
  // The relay itself is too long for one packet, but it was dispatched once, whole.
  ASSERT_EQ(h.relayed.size(), 1u);
  EXPECT_EQ(h.relayed[0], Relayed(payload));
}

TEST_F(ReceiveLoopTest, WholePacketWithOpcodeZeroOrMinusOneEndsTheArrival) {
  for (const std::int16_t stop : {std::int16_t{0}, std::int16_t{-1}}) {
    SCOPED_TRACE(stop);
    SessionHarness fresh;
    ASSERT_TRUE(fresh.Connect());
    fresh.socket.Deliver(Join({fresh.client.Seal(stop, {'z'}), fresh.client.Seal(kMove, {'a'})}));
    EXPECT_THAT(fresh.relayed, IsEmpty());
  }
}

TEST_F(ReceiveLoopTest, OpcodeZeroPacketIsConsumedNotKeptAsUnfinished) {
  Deliver(h.client.Seal(0, {}));
  Deliver(Move({'n', 'e', 'x', 't'}));
  EXPECT_THAT(h.relayed, ElementsAre(Relayed({'n', 'e', 'x', 't'})));
}

// A handler failure of each kind loses only its own packet and is reported:
// the packets after it in the arrival are handled, the session stays
// connected and open, and the process goes on.
TEST(ReceiveLoopFailureTest, HandlerFailureSkipsOnlyItsOwnPacket) {
  struct Case {
    std::function<void()> fail;
    std::string report;
  };
  const std::string skipped = "W handler of opcode 202 failed, its packet skipped";
  const Case cases[] = {
      {[] { throw HandlerFailure("cannot go on"); }, skipped + ": cannot go on"},
      {[] { throw std::bad_alloc(); }, skipped + ": std::bad_alloc"},
      {[] { throw std::out_of_range("out of range"); }, skipped + ": out of range"},
      {[] { throw 42; }, skipped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    SessionHarness h;
    testing::ReportLog log;
    h.session.SetDiagnostics(log.Sink());
    ASSERT_TRUE(h.Connect());
    std::vector<Bytes> relayed;
    h.session.SetAllSendHandler([&](std::int16_t, ByteView data) {
      relayed.emplace_back(data.begin(), data.end());
      if (relayed.size() == 1) c.fail();
    });
    h.socket.Deliver(
        Join({h.client.Seal(kMove, {'1'}), h.client.Seal(124, {}), h.client.Seal(kMove, {'2'})}));
    EXPECT_EQ(relayed.size(), 2u) << "the move after the failure was not handled";
    EXPECT_THAT(h.Received(), ElementsAre(Packet{125, {0x00}}));
    EXPECT_EQ(h.session.Phase(), kPhaseOpen);
    EXPECT_EQ(h.session.Stat(), SocketControl::kConnected);
    EXPECT_EQ(log.lines, std::vector<std::string>{c.report});
  }
}

// A chat line whose echo cannot be sealed fails its handler. The ping behind
// it in the same arrival is answered, and both ends stay in sequence for
// every packet after.
TEST(ReceiveLoopFailureTest, TooLongChatEchoLeavesTheSessionInSequence) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  h.socket.Deliver(Join({h.client.Seal(opcode::kSay, Bytes(65535, 'x')), h.client.Seal(124, {})}));
  EXPECT_THAT(h.Received(), ElementsAre(Packet{125, {0x00}}));
  EXPECT_THAT(h.relayed, IsEmpty());

  h.socket.Deliver(Join({h.client.Seal(opcode::kSay, {0x01, 'h', 'i'}), h.client.Seal(124, {})}));
  EXPECT_THAT(h.Received(), ElementsAre(Packet{opcode::kChatLine, {0x00, 0x01, 0x0A, 'h', 'i'}},
                                        Packet{125, {0x00}}));
}

}  // namespace
}  // namespace quorvane
