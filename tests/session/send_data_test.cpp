// SendData: readiness, the type-03 chat filter, and sealing in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "session/opcodes.h"
#include "session_harness.h"

namespace quorvane {
namespace {

using testing::BytesOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Join;
using testing::Packet;
using testing::SessionHarness;

using opcode::kChatLine;
using opcode::kLogin;

bool SameCipherState(const ::CipherState& a, const ::CipherState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

Bytes ChatLine(std::uint8_t type, const std::string& sender, const std::string& text) {
  return Join({Bytes{0x00, type}, BytesOf(sender), Bytes{0x0A}, BytesOf(text)});
}

TEST(SendDataReadinessTest, SendsOnlyWhenConnectedAndPastTheHandshake) {
  SessionHarness h;
  const Bytes data{0x01, 0x02};

  h.socket.state = SocketControl::kConnected;  // never accepted: phase 0
  h.session.SendData(203, data);
  EXPECT_TRUE(h.socket.NothingSent());

  h.session.Accept(1);  // phase 1
  const ::CipherState before = h.session.Cipher();
  h.session.SendData(203, data);
  EXPECT_TRUE(h.socket.NothingSent());
  EXPECT_TRUE(SameCipherState(h.session.Cipher(), before));

  h.socket.Deliver(h.client.Hello());
  ASSERT_TRUE(h.client.TakeReply(h.socket.TakeSent()));
  h.session.SendData(203, data);
  EXPECT_THAT(h.Received(), ElementsAre(Packet{203, data}));

  h.socket.Disconnect();
  const ::CipherState open = h.session.Cipher();
  h.session.SendData(203, data);
  EXPECT_TRUE(h.socket.NothingSent());
  EXPECT_TRUE(SameCipherState(h.session.Cipher(), open));
}

TEST(SendDataReadinessTest, SealsEachPacketInOneWriteAndInOrder) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  h.session.SendData(203, Bytes{0x01});
  h.session.SendData(kChatLine, ChatLine(0x03, "Someone", "no"));  // refused
  h.session.SendData(205, {});
  const auto writes = h.socket.TakeWrites();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].size(), 9u);
  EXPECT_EQ(writes[1].size(), 8u);
  EXPECT_THAT(h.client.Open(Join({writes[0], writes[1]})),
              ElementsAre(Packet{203, {0x01}}, Packet{205, {}}));
}

TEST(SendDataReadinessTest, DropsAPayloadTooLongForOnePacket) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  const ::CipherState before = h.session.Cipher();
  h.session.SendData(203, Bytes(65536, 0x01));
  EXPECT_TRUE(h.socket.NothingSent());
  EXPECT_TRUE(SameCipherState(h.session.Cipher(), before));

  h.session.SendData(203, Bytes(65535, 0x02));
  const auto packets = h.Received();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].payload, Bytes(65535, 0x02));
}

// The receiving session's own name block decides which type-03 lines pass.
struct FilterCase {
  const char* what;
  std::int16_t id;
  Bytes data;
  bool sent;
};

class ChatFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ChatFilterTest, PassesType03OnlyWithTheReceiversOwnName) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  Bytes block(kNameFieldSize, 0x00);
  const std::string name = "Ann";
  std::copy(name.begin(), name.end(), block.begin() + 1);
  h.Send(kLogin, block);
  h.Received();

  h.session.SendData(GetParam().id, GetParam().data);
  const auto packets = h.Received();
  if (GetParam().sent) {
    EXPECT_THAT(packets, ElementsAre(Packet{GetParam().id, GetParam().data}));
  } else {
    EXPECT_THAT(packets, IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ChatFilterTest,
    ::testing::Values(
        FilterCase{"type 01, another name", kChatLine, ChatLine(0x01, "Bob", "hi"), true},
        FilterCase{"type 02, another name", kChatLine, ChatLine(0x02, "Bob", "hi"), true},
        FilterCase{"type 04, another name", kChatLine, ChatLine(0x04, "Bob", "hi"), true},
        FilterCase{"type 03, own name", kChatLine, ChatLine(0x03, "Ann", "hi"), true},
        FilterCase{"type 03, own name, empty text", kChatLine, ChatLine(0x03, "Ann", ""), true},
        FilterCase{"type 03, own name, no line feed", kChatLine,
                   Join({Bytes{0x00, 0x03}, BytesOf("Ann")}), true},
        FilterCase{"type 03, another name", kChatLine, ChatLine(0x03, "Bob", "hi"), false},
        FilterCase{"type 03, own name as a prefix", kChatLine, ChatLine(0x03, "Anne", "hi"), false},
        FilterCase{"type 03, own name in other case", kChatLine, ChatLine(0x03, "ann", "hi"),
                   false},
        FilterCase{"type 03, no first 00", kChatLine, Join({Bytes{0x01, 0x03}, BytesOf("Ann\nhi")}),
                   false},
        FilterCase{"type 03 under another opcode", 203, ChatLine(0x03, "Bob", "hi"), true}),
    [](const auto& info) {
      std::string name;
      for (const char c : std::string(info.param.what)) name += std::isalnum(c) ? c : '_';
      return name;
    });

// The writer's name takes 18 bytes of its block, the receiver's own only 17:
// an 18th byte in the name block keeps the writer's type-03 lines from a
// player with the very same block.
TEST(ChatFilterWidthTest, ComparesTheWritersEighteenBytesWithTheReceiversSeventeen) {
  for (const bool eighteenth : {false, true}) {
    SCOPED_TRACE(eighteenth);
    Bytes block(kNameFieldSize, 0x00);
    const std::string name = "ABCDEFGHIJKLMNOP";  // bytes 2 to 17
    std::copy(name.begin(), name.end(), block.begin() + 1);
    if (eighteenth) block[17] = 'Q';

    SessionHarness writer;
    SessionHarness reader(0x77777777u);
    writer.session.SetAllSendHandler(
        [&](std::int16_t id, ByteView data) { reader.session.SendData(id, data); });
    ASSERT_TRUE(writer.Connect());
    ASSERT_TRUE(reader.Connect());
    for (SessionHarness* h : {&writer, &reader}) {
      h->Send(kLogin, block);
      h->Received();
    }

    writer.Send(302, {0x03, 'h', 'i'});
    const Bytes sender = eighteenth ? BytesOf(name + "Q") : BytesOf(name);
    const Packet line{kChatLine, Join({Bytes{0x00, 0x03}, sender, BytesOf("\nhi")})};
    EXPECT_THAT(writer.Received(), ElementsAre(line));
    if (eighteenth) {
      EXPECT_THAT(reader.Received(), IsEmpty());
    } else {
      EXPECT_THAT(reader.Received(), ElementsAre(line));
    }
  }
}

}  // namespace
}  // namespace quorvane
