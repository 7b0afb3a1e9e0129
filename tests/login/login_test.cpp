// The login sequence behind opcode 200, as the client and the other player
// see it.
#include <gtest/gtest.h>

#include "login_session.h"
#include "session/welcome_line.h"

namespace quorvane::testing {
namespace {

using LoginTest = LoginSessionTest;

const TestCharacter kAnn{.level = 120,
                         .stat1a = 100,
                         .stat1b = 250,
                         .stat4a = 7,
                         .stat4b = 9,
                         .stat6 = 4,
                         .stat7 = 77,
                         .posX = 5,
                         .posY = 7};
const TestCharacter kBob{
    .level = 3, .cls = 1, .stat2a = 40, .stat10 = 1000, .posX = 300, .posY = 2};
const std::vector<TestItem> kAnnItems{{.kind = 2, .index = 4, .word1 = 300, .word2 = 1, .count = 5},
                                      {.kind = 2, .index = 5, .word1 = 9, .word2 = 9, .count = 0}};

TEST_F(LoginTest, SendsTheWholeSequenceInOrderAndAnnouncesTheCharacter) {
  data.WriteCharacter("Ann", CharacterFile(kAnn));
  data.WriteItems("Ann", ItemFile(kAnnItems));
  const Bytes block{0x00, 0x41, 0x6E, 0x6E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

  const std::vector<Packet> received = Login(block);

  EXPECT_EQ(received, ExpectedLogin(block, kAnn, kAnnItems));
  ASSERT_GE(received.size(), 3u);
  Bytes echo = block;
  echo[20] = 0x07;
  EXPECT_EQ(received[0], (Packet{opcode::kIdentity, echo}));
  EXPECT_EQ(received[1], (Packet{opcode::kLoginBegin, {0x00}}));
  EXPECT_EQ(received[2], (Packet{opcode::kPosition, {0x05, 0x00, 0x07, 0x00, 0x00, 0x00, 0x02}}));
  EXPECT_EQ(received.back().payload.size(), 40u);

  ASSERT_EQ(harness.relayed.size(), 1u);
  EXPECT_EQ(
      harness.relayed[0],
      (Packet{opcode::kAppeared, Join({echo, Bytes{0x05, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00}})}));
  const NameField stored = harness.session.Char();
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), echo);
  EXPECT_EQ(harness.session.Phase(), kPhaseOpen);
}

TEST_F(LoginTest, WithoutFileOnFreshSlotServesTheZeroRecord) {
  const std::vector<Packet> received = Login(NameBlock("Ghost"));

  EXPECT_EQ(received, ExpectedLogin(NameBlock("Ghost"), {}));
  ASSERT_GE(received.size(), 3u);
  EXPECT_EQ(received[2].payload, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}));
}

TEST_F(LoginTest, WithoutFileAfterAnotherCharacterServesThatCharacter) {
  data.WriteCharacter("Ann", CharacterFile(kAnn));
  Login(NameBlock("Ann"));

  EXPECT_EQ(Login(NameBlock("Ghost")), ExpectedLogin(NameBlock("Ghost"), kAnn));
  EXPECT_EQ(harness.session.PlayerX(), 5);
}

TEST_F(LoginTest, ShortBlockIsBlankPaddedAndItsNameFindsTheFiles) {
  data.WriteCharacter("Bob", CharacterFile(kBob));
  const std::vector<TestItem> bobItems{{.kind = 7, .index = 1, .word1 = 2, .word2 = 3, .count = 4}};
  data.WriteItems("Bob", ItemFile(bobItems));
  const Bytes block{0x00, 'B', 'o', 'b', 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

  const std::vector<Packet> received = Login(block);

  Bytes stored = Join({block, Bytes(36, 0x20)});
  stored[20] = 0x07;
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received[0], (Packet{opcode::kIdentity, stored}));
  EXPECT_EQ(received, ExpectedLogin(block, kBob, bobItems));
}

TEST_F(LoginTest, BytesPastFortySixHaveNoEffect) {
  data.WriteCharacter("Ann", CharacterFile(kAnn));
  const Bytes block = Join({NameBlock("Ann"), Bytes(30, 0xEE)});

  EXPECT_EQ(Login(block), ExpectedLogin(NameBlock("Ann"), kAnn));
  ASSERT_EQ(harness.relayed.size(), 1u);
  EXPECT_EQ(harness.relayed[0], ExpectedAnnouncement(NameBlock("Ann"), kAnn));
}

TEST_F(LoginTest, SecondLoginOnOneConnectionRunsEverythingAgain) {
  data.WriteCharacter("Ann", CharacterFile(kAnn));
  data.WriteCharacter("Bob", CharacterFile(kBob));

  EXPECT_EQ(Login(NameBlock("Ann")), ExpectedLogin(NameBlock("Ann"), kAnn));
  EXPECT_EQ(Login(NameBlock("Bob")), ExpectedLogin(NameBlock("Bob"), kBob));
  EXPECT_EQ(harness.relayed, (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Ann"), kAnn),
                                                  ExpectedAnnouncement(NameBlock("Bob"), kBob)}));
}

TEST_F(LoginTest, AWordedWelcomeLineClosesTheLoginInThePlaceOfTheDefault) {
  harness.session.SetWelcomeLine(*WelcomeLine("Keeper", "Mind the gap"));
  std::vector<Packet> expected = ExpectedLogin(NameBlock("Ghost"), {});
  expected.back() =
      Packet{opcode::kChatLine,
             Join({Bytes{0x00, 0x04}, BytesOf("Keeper"), Bytes{0x0A}, BytesOf("Mind the gap")})};

  EXPECT_EQ(Login(NameBlock("Ghost")), expected);
}

TEST(WelcomeLineTest, DefaultIsTheFortyByteGreetingAndBadWordingIsRefused) {
  const Bytes greeting{0x00, 0x04, 'O', 'r', 'l', 'a', 'n', 'S', 'e', 'r', 'v', 'e', 'r', 0x0A,
                       'W',  'e',  'l', 'c', 'o', 'm', 'e', ' ', 't', 'o', ' ', 'O', 'r', 'l',
                       'a',  'n',  ' ', 'R', 'P', ' ', 'S', 'e', 'r', 'v', 'e', 'r'};
  EXPECT_EQ(WelcomeLine(kDefaultWelcomeSender, kDefaultWelcomeText), greeting);
  EXPECT_EQ(WelcomeLine("", ""), (Bytes{0x00, 0x04, 0x0A}));
  EXPECT_FALSE(WelcomeLine("two\nlines", "text"));
  EXPECT_FALSE(WelcomeLine(std::string(kLongestWelcomeSender + 1, 'x'), "text"));
  EXPECT_FALSE(WelcomeLine("sender", std::string(kLongestWelcomeText + 1, 'x')));
  EXPECT_TRUE(
      WelcomeLine(std::string(kLongestWelcomeSender, 'x'), std::string(kLongestWelcomeText, 'x')));
}

TEST_F(LoginTest, XOf32767EndsTheLoginAfterFourteenStatsAndTheSessionServesOn) {
  const TestCharacter edge{.level = 60, .posX = 32767, .posY = 9};
  data.WriteCharacter("Edge", CharacterFile(edge));

  const std::vector<Packet> received = Login(NameBlock("Edge"));

  std::vector<Packet> expected = ExpectedLogin(NameBlock("Edge"), edge);
  expected.resize(3 + 14);
  EXPECT_EQ(received, expected);
  EXPECT_TRUE(harness.relayed.empty());
  EXPECT_EQ(harness.session.Phase(), kPhaseOpen);

  harness.Send(124, {});
  EXPECT_EQ(harness.Received(), (std::vector<Packet>{{125, {0x00}}}));
}

// Two sessions wired the way the host relays between its slots.
class AnnouncementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data.WriteCharacter("Ann", CharacterFile(kAnn));
    ASSERT_TRUE(ann.Connect(1));
    ann.session.SetAllSendHandler([this](std::int16_t id, ByteView bytes) {
      // What Ann's client had received when the relay ran.
      annBeforeRelay = ann.Received();
      other.session.SendData(id, bytes);
    });
  }

  MemoryDataFolder data;
  SessionHarness ann{data, 0x1111u};
  SessionHarness other{data, 0x2222u};
  std::vector<Packet> annBeforeRelay;
};

TEST_F(AnnouncementTest, OtherPlayerPastItsHandshakeGets205BeforeTheWelcome) {
  ASSERT_TRUE(other.Connect(2));

  ann.Send(200, NameBlock("Ann"));

  EXPECT_EQ(other.Received(), (std::vector<Packet>{ExpectedAnnouncement(NameBlock("Ann"), kAnn)}));
  std::vector<Packet> expected = ExpectedLogin(NameBlock("Ann"), kAnn);
  const Packet welcome = expected.back();
  expected.pop_back();
  EXPECT_EQ(annBeforeRelay, expected);
  EXPECT_EQ(ann.Received(), (std::vector<Packet>{welcome}));
}

TEST_F(AnnouncementTest, OtherSlotNotPastItsHandshakeDropsItAndTheLoginCompletes) {
  for (const bool accepted : {false, true}) {
    SCOPED_TRACE(accepted ? "accepted, no hello yet" : "never accepted");
    if (accepted) {
      other.session.Closer();
      other.session.Accept(2);
    }

    ann.Send(200, NameBlock("Ann"));

    EXPECT_TRUE(other.socket.NothingSent());
    std::vector<Packet> all = annBeforeRelay;
    for (Packet& packet : ann.Received()) all.push_back(std::move(packet));
    EXPECT_EQ(all, ExpectedLogin(NameBlock("Ann"), kAnn));
  }
}

}  // namespace
}  // namespace quorvane::testing
