// What each opcode of a client's packet does: ping, chat, the 202 relay, the
// login's entry, and every other opcode ignored.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "memory_data_folder.h"
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
using opcode::kMove;
using opcode::kMoved;
using opcode::kPing;
using opcode::kPong;
using opcode::kSay;

// A login name block: 00, the name, 00 up to 46 bytes.
Bytes NameBlock(const std::string& name) {
  Bytes block = Join({Bytes{0x00}, BytesOf(name)});
  block.resize(kNameFieldSize, 0x00);
  return block;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Connect()); }

  // Logs in and forgets what the login sent.
  void LogIn(const Bytes& block) {
    h.Send(kLogin, block);
    h.Received();
    h.relayed.clear();
  }
  // The next ping is still answered: the session is in step with its client.
  void ExpectStillInStep() {
    h.Send(kPing, {});
    EXPECT_THAT(h.Received(), ElementsAre(Packet{kPong, {0x00}}));
  }

  SessionHarness h;
};

TEST_F(DispatchTest, PingIsAnsweredWithOneByteWhateverItCarries) {
  for (const Bytes& payload : {Bytes{}, Bytes{0x00}, Bytes(300, 0xAB)}) {
    h.Send(kPing, payload);
    EXPECT_THAT(h.Received(), ElementsAre(Packet{kPong, {0x00}})) << payload.size();
  }
  EXPECT_THAT(h.relayed, IsEmpty());
}

TEST_F(DispatchTest, ChatLineGoesToTheSenderAndThenToTheOtherPlayer) {
  LogIn(NameBlock("Ann"));
  h.Send(kSay, {0x01, 0x68, 0x69});
  const Bytes line{0x00, 0x01, 0x41, 0x6E, 0x6E, 0x0A, 0x68, 0x69};
  EXPECT_THAT(h.Received(), ElementsAre(Packet{kChatLine, line}));
  EXPECT_THAT(h.relayed, ElementsAre(Packet{kChatLine, line}));
}

TEST_F(DispatchTest, ChatOfOneByteHasAnEmptyText) {
  LogIn(NameBlock("Ann"));
  h.Send(kSay, {0x03});
  const Bytes line{0x00, 0x03, 0x41, 0x6E, 0x6E, 0x0A};
  EXPECT_THAT(h.Received(), ElementsAre(Packet{kChatLine, line}));
  EXPECT_THAT(h.relayed, ElementsAre(Packet{kChatLine, line}));
}

TEST_F(DispatchTest, ChatSenderIsTheFirst18BytesOfTheNameBlockWithoutZeros) {
  // A short block is padded with blanks, which stay in the sender name.
  LogIn({0x00, 'A', 'n', 'n'});
  h.Send(kSay, {0x01, 'h', 'i'});
  const Bytes line = Join({Bytes{0x00, 0x01}, BytesOf("Ann"), Bytes(14, ' '), BytesOf("\nhi")});
  EXPECT_THAT(h.Received(), ElementsAre(Packet{kChatLine, line}));

  // Byte 18 counts, byte 19 does not; zeros anywhere are dropped.
  Bytes block(kNameFieldSize, 0x00);
  block[1] = 'B';
  block[3] = 'b';
  block[17] = 'Q';
  block[18] = 'X';
  LogIn(block);
  h.Send(kSay, {0x02, '!'});
  EXPECT_THAT(h.Received(),
              ElementsAre(Packet{kChatLine, Join({Bytes{0x00, 0x02}, BytesOf("BbQ\n!")})}));
}

TEST_F(DispatchTest, EmptyChatIsIgnored) {
  h.Send(kSay, {});
  EXPECT_THAT(h.Received(), IsEmpty());
  EXPECT_THAT(h.relayed, IsEmpty());
  ExpectStillInStep();
}

TEST_F(DispatchTest, ChatTooLongForOnePacketSendsNothingAndRelaysNothing) {
  LogIn(NameBlock("Ann"));
  h.Send(kSay, Bytes(65535, 'x'));  // the line would need 65,539 bytes
  EXPECT_THAT(h.Received(), IsEmpty());
  EXPECT_THAT(h.relayed, IsEmpty());
  EXPECT_EQ(h.session.Phase(), kPhaseOpen);
}

TEST_F(DispatchTest, MoveIsRelayedBehindTheNameBlockAndNotAnswered) {
  const Bytes block = NameBlock("Ann");
  LogIn(block);
  const NameField stored = h.session.Char();
  const Bytes move{0x10, 0x00, 0x20, 0x00, 0x05};
  h.Send(kMove, move);
  EXPECT_THAT(h.Received(), IsEmpty());
  EXPECT_THAT(h.relayed, ElementsAre(Packet{kMoved, Join({stored, move})}));
  EXPECT_EQ(h.session.Char(), stored);
}

TEST_F(DispatchTest, OtherOpcodesAreIgnored) {
  for (const std::int16_t opcode : {1, 123, 125, 201, 203, 301, 303, 1013, 32767, -2, -32768}) {
    h.Send(opcode, {0x01, 0x02, 0x03});
    EXPECT_THAT(h.Received(), IsEmpty()) << opcode;
    EXPECT_THAT(h.relayed, IsEmpty()) << opcode;
  }
  EXPECT_EQ(h.session.Char(), NameField{});
  ExpectStillInStep();
}

TEST_F(DispatchTest, LoginStoresTheNameBlock) {
  Bytes block = NameBlock("Ann");
  block[30] = 0x55;
  h.Send(kLogin, Join({block, BytesOf("ignored")}));
  const NameField name = h.session.Char();
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 20, name.begin()));
  EXPECT_EQ(name[30], 0x55);
}

// Two sessions wired like the host wires its two slots.
TEST(RelayBetweenSessionsTest, OtherPlayerReceivesTheSameChatLine) {
  SessionHarness ann;
  SessionHarness bob(0x600DCAFEu);
  ann.session.SetAllSendHandler(
      [&](std::int16_t id, ByteView data) { bob.session.SendData(id, data); });
  ASSERT_TRUE(ann.Connect());
  ASSERT_TRUE(bob.Connect());
  ann.Send(kLogin, NameBlock("Ann"));
  ann.Received();
  bob.Received();

  ann.Send(kSay, {0x01, 0x68, 0x69});
  const Packet line{kChatLine, {0x00, 0x01, 0x41, 0x6E, 0x6E, 0x0A, 0x68, 0x69}};
  EXPECT_THAT(ann.Received(), ElementsAre(line));
  EXPECT_THAT(bob.Received(), ElementsAre(line));
}

// The accessors read the character the login loaded.
TEST(AccessorsTest, ReadTheNameBlockAndTheLoadedPosition) {
  testing::MemoryDataFolder data;
  Bytes character(kCharacterRecordSize, 0x00);
  character[89] = 0x05;
  character[91] = 0x07;
  character[92] = 0x01;
  data.WriteCharacter("Ann", character);

  SessionHarness h(data);
  EXPECT_EQ(h.session.Char(), NameField{});
  EXPECT_EQ(h.session.PlayerX(), 0);
  EXPECT_EQ(h.session.PlayerY(), 0);

  ASSERT_TRUE(h.Connect());
  h.Send(kLogin, NameBlock("Ann"));
  EXPECT_EQ(h.session.PlayerX(), 5);
  EXPECT_EQ(h.session.PlayerY(), 0x0107);
  EXPECT_EQ(h.session.Char()[2], 'n');

  // A name without a file leaves the loaded character in place.
  h.Send(kLogin, NameBlock("Nobody"));
  EXPECT_EQ(h.session.PlayerX(), 5);
  EXPECT_EQ(h.session.PlayerY(), 0x0107);
  EXPECT_EQ(h.session.Char()[1], 'N');
}

}  // namespace
}  // namespace quorvane
