// kelvane::openPacket, which finds where the packet at the start of a buffer
// ends, and the ReceiveBuffer that lets it open arrivals in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cipher_test_support.h"

namespace {

using cipher_test::Bytes;
using cipher_test::bytesOf;
using Status = kelvane::OpenedPacket::Status;

// One direction of a connection: the sealing end and the opening end each
// hold the same scheduled state.
struct Direction {
  std::string name;
  decltype(&::clienc) seal;
  kelvane::OpenFunction open;
};

const Direction kDirections[] = {{"ToServer", &::clienc, &::serdec},
                                 {"ToClient", &::serenc, &::clidec}};

CipherState Scheduled() {
  CipherState state{};
  state.clientSeed = 0x1234ABCD;
  state.serverSeed = 4321;
  seedcrypt(&state);
  return state;
}

bool Same(const DirectionKeys& a, const DirectionKeys& b) {
  return a.counter == b.counter && a.key8a == b.key8a && a.key16 == b.key16 && a.key8b == b.key8b &&
         a.key32 == b.key32 && a.step8a == b.step8a && a.step16 == b.step16 &&
         a.step8b == b.step8b && a.step32 == b.step32;
}

bool Same(const CipherState& a, const CipherState& b) {
  return a.clientSeed == b.clientSeed && a.serverSeed == b.serverSeed && a.seqMask == b.seqMask &&
         Same(a.toServer, b.toServer) && Same(a.toClient, b.toClient);
}

class OpenPacketTest : public ::testing::TestWithParam<Direction> {
 protected:
  Bytes Seal(std::int16_t opcode, const Bytes& payload) {
    return bytesOf(
        kelvane::adopt(GetParam().seal(opcode, kelvane::copyOf(payload).get(), &sealer_)));
  }
  kelvane::OpenedPacket Open(const Bytes& buffer) {
    return kelvane::openPacket(GetParam().open, kelvane::copyOf(buffer).get(), opener_);
  }

  DirectionKeys& OpenerKeys() {
    return GetParam().open == &::serdec ? opener_.toServer : opener_.toClient;
  }

  CipherState sealer_ = Scheduled();
  CipherState opener_ = Scheduled();
};

TEST_P(OpenPacketTest, WholePacketGivesOpcodePayloadAndItsLength) {
  const Bytes payload{0x01, 0x68, 0x69, 0x00, 0xFF};
  const Bytes packet = Seal(302, payload);
  const auto opened = Open(packet);
  EXPECT_EQ(opened.status, Status::kOpened);
  EXPECT_EQ(opened.opcode, 302);
  EXPECT_EQ(bytesOf(opened.payload), payload);
  EXPECT_EQ(opened.used, packet.size());
  EXPECT_TRUE(Same(opener_, sealer_));
}

TEST_P(OpenPacketTest, EmptyPayloadUsesTheHeaderAlone) {
  const auto opened = Open(Seal(124, {}));
  EXPECT_EQ(opened.status, Status::kOpened);
  EXPECT_EQ(opened.opcode, 124);
  EXPECT_TRUE(opened.body().empty());
  EXPECT_EQ(opened.used, kelvane::kPacketHeaderSize);
}

TEST_P(OpenPacketTest, ShortHeaderOrPayloadChangesNothing) {
  const Bytes packet = Seal(303, Bytes(20, 0x41));
  const CipherState before = opener_;
  for (std::size_t length : {0, 1, 7, 8, 20, 27}) {
    SCOPED_TRACE("first " + std::to_string(length) + " bytes");
    const auto opened = Open(Bytes(packet.begin(), packet.begin() + length));
    EXPECT_EQ(opened.status, Status::kShort);
    EXPECT_EQ(opened.used, 0u);
    EXPECT_TRUE(opened.body().empty());
    EXPECT_TRUE(Same(opener_, before));
  }
  EXPECT_EQ(Open(packet).status, Status::kOpened) << "the whole packet still opens afterwards";
}

// The opener's counter runs one ahead, its keys still fit: the packet reads
// whole, but its sequence word is not the one expected.
TEST_P(OpenPacketTest, OutOfSequenceMovesOnlyTheCounter) {
  const Bytes packet = Seal(125, {0x00});
  ++OpenerKeys().counter;
  const CipherState before = opener_;
  const auto opened = Open(packet);
  EXPECT_EQ(opened.status, Status::kSequenceFailure);
  EXPECT_EQ(opened.used, 0u);
  EXPECT_TRUE(opened.body().empty());
  CipherState expected = before;
  ++(GetParam().open == &::serdec ? expected.toServer : expected.toClient).counter;
  EXPECT_TRUE(Same(opener_, expected));
}

TEST_P(OpenPacketTest, TwoPacketsBackToBackOpenOneAfterTheOther) {
  const Bytes first = Seal(202, {1, 2, 3, 4, 5, 6, 7, 8});
  const Bytes second = Seal(302, {0x01, 0x21});
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());

  const auto one = Open(both);
  ASSERT_EQ(one.status, Status::kOpened);
  EXPECT_EQ(one.opcode, 202);
  EXPECT_EQ(bytesOf(one.payload), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(one.used, first.size());

  const auto two = Open(Bytes(both.begin() + static_cast<std::ptrdiff_t>(one.used), both.end()));
  ASSERT_EQ(two.status, Status::kOpened);
  EXPECT_EQ(two.opcode, 302);
  EXPECT_EQ(bytesOf(two.payload), (Bytes{0x01, 0x21}));
  EXPECT_EQ(two.used, second.size());
}

// The library reports a short buffer as opcode 0 and a failed check as -1;
// whole packets that carry those opcodes must not be taken for either.
TEST_P(OpenPacketTest, WholePacketsCarryingZeroOrMinusOneAreOpened) {
  for (const std::int16_t opcode : {0, -1}) {
    SCOPED_TRACE("opcode " + std::to_string(opcode));
    const Bytes packet = Seal(opcode, {0x07});
    const auto opened = Open(packet);
    EXPECT_EQ(opened.status, Status::kOpened);
    EXPECT_EQ(opened.opcode, opcode);
    EXPECT_EQ(bytesOf(opened.payload), (Bytes{0x07}));
    EXPECT_EQ(opened.used, packet.size());
  }
}

INSTANTIATE_TEST_SUITE_P(BothDirections, OpenPacketTest, ::testing::ValuesIn(kDirections),
                         [](const auto& info) { return info.param.name; });

// A stream of packets cut into two arrivals at every position opens to the
// same packets, in order, each exactly once.
TEST(ReceiveBuffer, OpensPacketsInPlaceHoweverTheArrivalsAreCut) {
  CipherState sealer = Scheduled();
  const std::vector<std::pair<std::int16_t, Bytes>> sent{
      {303, {0x00, 0x01, 'A', 0x0A, 'h', 'i'}}, {125, {0x00}}, {1013, {}}, {223, Bytes(18, 0x05)}};
  Bytes stream;
  for (const auto& [opcode, payload] : sent) {
    const Bytes packet =
        bytesOf(kelvane::adopt(serenc(opcode, kelvane::copyOf(payload).get(), &sealer)));
    stream.insert(stream.end(), packet.begin(), packet.end());
  }

  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    CipherState opener = Scheduled();
    kelvane::ReceiveBuffer buffer;
    std::vector<std::pair<std::int16_t, Bytes>> received;
    for (const kelvane::ByteView arrival :
         {kelvane::ByteView(stream).first(cut), kelvane::ByteView(stream).subspan(cut)}) {
      buffer.append(arrival);
      while (!buffer.empty()) {
        const unsigned char* unread = buffer.unread();
        ASSERT_EQ(ByteStrLen(unread), buffer.size());
        const auto opened = kelvane::openPacket(&::clidec, unread, opener);
        ASSERT_NE(opened.status, Status::kSequenceFailure);
        if (opened.status == Status::kShort) break;
        received.emplace_back(opened.opcode, bytesOf(opened.payload));
        buffer.consume(opened.used);
      }
    }
    EXPECT_EQ(received, sent);
    EXPECT_TRUE(buffer.empty());
  }
}

TEST(ReceiveBuffer, KeepsUnreadBytesAcrossArrivalsAndRefusesToOverconsume) {
  kelvane::ReceiveBuffer buffer;
  buffer.append(Bytes{1, 2, 3});
  buffer.consume(2);
  buffer.append(Bytes{4, 5});
  EXPECT_EQ(Bytes(buffer.view().begin(), buffer.view().end()), (Bytes{3, 4, 5}));
  EXPECT_EQ(bytesOf(buffer.unread()), (Bytes{3, 4, 5}));
  EXPECT_THROW(buffer.consume(4), std::out_of_range);
  buffer.clear();
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(ByteStrLen(buffer.unread()), 0u);
}

}  // namespace
