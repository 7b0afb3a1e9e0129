// Accept, Closer, Stat and the seed handshake of phase 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "memory_data_folder.h"
#include "sample_files.h"
#include "session/opcodes.h"
#include "session_harness.h"

namespace quorvane {
namespace {

using testing::CharacterFile;
using ::testing::ElementsAre;
using testing::FakeSocket;
using testing::Join;
using testing::LinkedApi;
using testing::MemoryDataFolder;
using testing::ProtocolClient;
using testing::SessionHarness;

using opcode::kPing;
using opcode::kPong;

// Draws the value the test sets.
class FixedGenerator : public Generator {
 public:
  explicit FixedGenerator(float draw) : Generator(0), draw_(draw) {}
  float NextUnit() override { return draw_; }

 private:
  float draw_;
};

bool SameCipherState(const ::CipherState& a, const ::CipherState& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(SessionLifecycleTest, AcceptOpensPhaseOneOnTheRequestedConnection) {
  SessionHarness h;
  EXPECT_EQ(h.session.Phase(), kPhaseIdle);
  h.session.Accept(77);
  EXPECT_EQ(h.session.Phase(), kPhaseAwaitingHello);
  EXPECT_THAT(h.socket.accepted, ElementsAre(77));
  EXPECT_EQ(h.session.Stat(), SocketControl::kConnected);
}

TEST(SessionLifecycleTest, CloserClosesTheSocketAndChangesNothingElse) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  const ::CipherState before = h.session.Cipher();
  h.session.Closer();
  EXPECT_EQ(h.socket.closes, 2);  // once before the Accept, once now
  EXPECT_NE(h.session.Stat(), SocketControl::kConnected);
  EXPECT_EQ(h.session.Phase(), kPhaseOpen);
  EXPECT_TRUE(SameCipherState(h.session.Cipher(), before));
}

TEST(SessionLifecycleTest, StatPassesTheSocketStateThrough) {
  SessionHarness h;
  for (const std::int16_t state : {0, 6, 7, 9, -3}) {
    h.socket.state = state;
    EXPECT_EQ(h.session.Stat(), state);
  }
}

TEST(SessionLifecycleTest, BytesBeforeAnyAcceptAreDropped) {
  SessionHarness h;
  h.socket.Deliver(h.client.Hello());
  EXPECT_TRUE(h.socket.NothingSent());
  EXPECT_EQ(h.session.Phase(), kPhaseIdle);
  // Nothing of them is joined to the first arrival of a real connection.
  ASSERT_TRUE(h.Connect());
}

TEST(HandshakeTest, ValidHelloIsAnsweredWithOneReplyAndOpensTheSession) {
  SessionHarness h;
  h.session.Accept(1);
  h.socket.Deliver(h.client.Hello());

  const auto writes = h.socket.TakeWrites();
  ASSERT_EQ(writes.size(), 1u);
  const Bytes reply = ProtocolClient::Unescape(writes[0]);
  ASSERT_EQ(reply.size(), 10u);
  EXPECT_THAT(Bytes(reply.begin(), reply.begin() + 6),
              ElementsAre(0x07, 0x08, 0x01, 0x00, 0x00, 0x01));
  ASSERT_TRUE(h.client.TakeReply(writes[0]));
  EXPECT_LE(h.client.ServerSeed(), 32767u);
  EXPECT_EQ(h.session.Phase(), kPhaseOpen);
  EXPECT_EQ(h.session.Cipher().clientSeed, 0x1234ABCDu);
  EXPECT_EQ(h.session.Cipher().serverSeed, h.client.ServerSeed());

  // Both ends now share the keys: a ping is answered and opened.
  h.Send(kPing, {});
  EXPECT_THAT(h.Received(), ElementsAre(testing::Packet{kPong, {0x00}}));
}

TEST(HandshakeTest, HelloAndReplyLookOnTheWireAsExpected) {
  FakeSocket socket;
  FixedGenerator generator(0.0f);
  MemoryDataFolder data;
  ServerSocket session(socket, LinkedApi(), generator, data);
  ProtocolClient client(0);
  const Bytes hello = client.Hello();
  EXPECT_THAT(Bytes(hello.begin(), hello.begin() + 11),
              ElementsAre(0x07, 0x08, 0x08, 0x07, 0x0F, 0x07, 0x08, 0x07, 0x0E, 0x07, 0x0E));
  EXPECT_EQ(hello.back(), 0x01);

  session.Accept(1);
  socket.Deliver(hello);
  // Server seed 0: 0x0016C8E5 rotated right by 7 is 0xCA002D91, sent low
  // byte first with its 00 escaped.
  EXPECT_THAT(socket.TakeSent(),
              ElementsAre(0x07, 0x08, 0x08, 0x07, 0x0E, 0x07, 0x0F, 0x07, 0x0F, 0x07, 0x0E,  //
                          0x91, 0x2D, 0x07, 0x0F, 0xCA, 0x01));
}

struct SeedCase {
  float draw;
  std::uint32_t serverSeed;
};

class ServerSeedTest : public ::testing::TestWithParam<SeedCase> {};

TEST_P(ServerSeedTest, IsTheDrawScaledTo32768AndRoundedDown) {
  FakeSocket socket;
  FixedGenerator generator(GetParam().draw);
  MemoryDataFolder data;
  ServerSocket session(socket, LinkedApi(), generator, data);
  ProtocolClient client(99);
  session.Accept(1);
  socket.Deliver(client.Hello());
  ASSERT_TRUE(client.TakeReply(socket.TakeSent()));
  EXPECT_EQ(client.ServerSeed(), GetParam().serverSeed);
  EXPECT_EQ(session.Cipher().serverSeed, GetParam().serverSeed);
}

INSTANTIATE_TEST_SUITE_P(Draws, ServerSeedTest,
                         ::testing::Values(SeedCase{0.0f, 0}, SeedCase{0.5f, 16384},
                                           SeedCase{0.25f + 0x1.0p-24f, 8192},
                                           SeedCase{1.0f - 0x1.0p-24f, 32767}));

// Hellos that must get no reply, each followed by a valid one in a later
// arrival on the same connection.
struct BadHelloCase {
  const char* what;
  Bytes (*wire)(const ProtocolClient&);
};

Bytes WithPrefixByteChanged(const ProtocolClient& c, std::size_t index) {
  Bytes body = c.HelloBody();
  body[index] ^= 0x01;
  return ProtocolClient::Escape(body);
}

const BadHelloCase kBadHellos[] = {
    {"9 bytes",
     [](const ProtocolClient& c) {
       Bytes body = c.HelloBody();
       body.pop_back();
       return ProtocolClient::Escape(body);
     }},
    {"11 bytes",
     [](const ProtocolClient& c) {
       return ProtocolClient::Escape(Join({c.HelloBody(), Bytes{0x00}}));
     }},
    {"two hellos in one arrival",
     [](const ProtocolClient& c) {
       return Join({c.Hello(), c.Hello()});
     }},
    {"prefix byte 1", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 0); }},
    {"prefix byte 2", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 1); }},
    {"prefix byte 3", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 2); }},
    {"prefix byte 4", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 3); }},
    {"prefix byte 5", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 4); }},
    {"prefix byte 6", [](const ProtocolClient& c) { return WithPrefixByteChanged(c, 5); }},
    {"the reply instead of a hello",
     [](const ProtocolClient& c) {
       Bytes body = c.HelloBody();
       const Bytes reply{0x07, 0x08, 0x01, 0x00, 0x00, 0x01};
       std::copy(reply.begin(), reply.end(), body.begin());
       return ProtocolClient::Escape(body);
     }},
    {"empty arrival", [](const ProtocolClient&) { return Bytes{}; }},
    {"one byte", [](const ProtocolClient&) { return Bytes{0x01}; }},
};

TEST(HandshakeTest, InvalidHelloGetsNoReplyAndALaterValidOneIsAccepted) {
  for (const BadHelloCase& c : kBadHellos) {
    SCOPED_TRACE(c.what);
    SessionHarness h;
    h.session.Accept(1);
    h.socket.Deliver(c.wire(h.client));
    EXPECT_TRUE(h.socket.NothingSent());
    EXPECT_EQ(h.session.Phase(), kPhaseAwaitingHello);

    h.socket.Deliver(h.client.Hello());
    EXPECT_TRUE(h.client.TakeReply(h.socket.TakeSent()));
    EXPECT_EQ(h.session.Phase(), kPhaseOpen);
  }
}

// A client seed on whose escaped hello `fits`, from seeds spread over the
// whole 32-bit range.
std::uint32_t SeedWhoseHello(bool (*fits)(const Bytes& hello)) {
  for (std::uint32_t step = 1; step < 100000; ++step) {
    const std::uint32_t seed = step * 0x9E3779B1u;
    if (fits(ProtocolClient(seed).Hello())) return seed;
  }
  ADD_FAILURE() << "no such seed";
  return 0;
}

// Hellos with no escaped seed byte (16 bytes), with escapes among the seed
// bytes, and with the last seed byte escaped, so that the hello decodes whole
// even without its end marker.
std::vector<std::uint32_t> SeedsOfEveryHelloShape() {
  return {
      SeedWhoseHello([](const Bytes& hello) { return hello.size() == 16; }),
      SeedWhoseHello(
          [](const Bytes& hello) { return hello.size() >= 18 && hello[hello.size() - 3] != 0x07; }),
      SeedWhoseHello([](const Bytes& hello) { return hello[hello.size() - 3] == 0x07; }),
  };
}

TEST(HandshakeTest, HelloCutAnywhereIsAnsweredExactlyOnce) {
  for (const std::uint32_t seed : SeedsOfEveryHelloShape()) {
    const Bytes hello = ProtocolClient(seed).Hello();
    for (std::size_t cut = 1; cut < hello.size(); ++cut) {
      SCOPED_TRACE("hello of " + std::to_string(hello.size()) + " bytes cut after byte " +
                   std::to_string(cut));
      SessionHarness h(seed);
      h.session.Accept(1);
      h.socket.Deliver(Bytes(hello.begin(), hello.begin() + static_cast<std::ptrdiff_t>(cut)));
      h.socket.Deliver(Bytes(hello.begin() + static_cast<std::ptrdiff_t>(cut), hello.end()));
      const auto writes = h.socket.TakeWrites();
      ASSERT_EQ(writes.size(), 1u);
      ASSERT_TRUE(h.client.TakeReply(writes[0]));
      EXPECT_EQ(h.session.Phase(), kPhaseOpen);
      EXPECT_EQ(h.session.Cipher().clientSeed, seed);
      // A trailing end marker after a hello that was whole without it is the
      // start of a sealed packet; the cut of every other hello leaves the
      // session in step with its client.
      if (h.session.Traffic().handshakeReceived.bytes == hello.size()) {
        h.Send(kPing, {});
        EXPECT_THAT(h.Received(), ElementsAre(testing::Packet{kPong, {0x00}}));
      }
    }
  }
}

TEST(HandshakeTest, HelloDeliveredByteByByteIsAnsweredOnce) {
  SessionHarness h;
  h.session.Accept(1);
  const Bytes hello = h.client.Hello();
  for (const std::uint8_t byte : hello) h.socket.Deliver(Bytes{byte});
  const auto writes = h.socket.TakeWrites();
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_TRUE(h.client.TakeReply(writes[0]));
  h.Send(kPing, {});
  EXPECT_THAT(h.Received(), ElementsAre(testing::Packet{kPong, {0x00}}));
}

// The client's hello after its first 5 bytes.
Bytes RestOfHello(const ProtocolClient& c) {
  const Bytes hello = c.Hello();
  return Bytes(hello.begin() + 5, hello.end());
}

// What becomes of the start of a hello kept from an earlier arrival.
TEST(HandshakeTest, StartOfAHelloMeetsWhatComesNext) {
  struct Case {
    const char* what;
    // The arrivals after the first 5 bytes of the client's hello.
    std::vector<Bytes> (*next)(const ProtocolClient&);
    bool answered;
  };
  const Case cases[] = {
      {"a whole hello by itself",
       [](const ProtocolClient& c) { return std::vector<Bytes>{c.Hello()}; }, true},
      {"the rest with more bytes after it",
       [](const ProtocolClient& c) {
         return std::vector<Bytes>{Join({RestOfHello(c), Bytes{0x5A}})};
       },
       false},
      {"a whole invalid hello, then a valid one",
       [](const ProtocolClient& c) {
         Bytes body = c.HelloBody();
         body.pop_back();
         return std::vector<Bytes>{ProtocolClient::Escape(body), c.Hello()};
       },
       true},
      {"bytes no hello holds, then the rest",
       [](const ProtocolClient& c) {
         return std::vector<Bytes>{Bytes{0xFF, 0xFF}, RestOfHello(c)};
       },
       false},
      {"bytes no hello holds, then a new hello in two pieces",
       [](const ProtocolClient& c) {
         const Bytes hello = c.Hello();
         return std::vector<Bytes>{Bytes{0xFF}, Bytes(hello.begin(), hello.begin() + 3),
                                   Bytes(hello.begin() + 3, hello.end())};
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SessionHarness h;
    h.session.Accept(1);
    const Bytes hello = h.client.Hello();
    h.socket.Deliver(Bytes(hello.begin(), hello.begin() + 5));
    for (const Bytes& arrival : c.next(h.client)) h.socket.Deliver(arrival);
    const auto writes = h.socket.TakeWrites();
    EXPECT_EQ(writes.size(), c.answered ? 1u : 0u);
    EXPECT_EQ(h.session.Phase(), c.answered ? kPhaseOpen : kPhaseAwaitingHello);
    if (!c.answered) {
      // Nothing of it lingers: a hello by itself is still answered.
      h.socket.Deliver(hello);
      EXPECT_TRUE(h.client.TakeReply(h.socket.TakeSent()));
    }
  }
}

// The start of a hello is the connection's own: a new connection on the slot
// does not join it to its hello.
TEST(HandshakeTest, StartOfAHelloDoesNotReachTheNextConnection) {
  SessionHarness h;
  h.session.Accept(1);
  const Bytes hello = h.client.Hello();
  h.socket.Deliver(Bytes(hello.begin(), hello.begin() + 11));
  h.session.Closer();
  h.session.Accept(2);
  h.socket.Deliver(Bytes(hello.begin() + 11, hello.end()));
  EXPECT_TRUE(h.socket.NothingSent());
}

TEST(HandshakeTest, HelloInPhaseTwoIsTakenForASealedPacket) {
  SessionHarness h;
  ASSERT_TRUE(h.Connect());
  const std::uint32_t clientSeed = h.session.Cipher().clientSeed;
  ProtocolClient other(0x0BADF00Du);
  h.socket.Deliver(other.Hello());
  EXPECT_TRUE(h.socket.NothingSent());
  EXPECT_EQ(h.session.Phase(), kPhaseOpen);
  EXPECT_EQ(h.session.Cipher().clientSeed, clientSeed);
}

TEST(HandshakeTest, NewConnectionOnTheSlotNeedsItsOwnHandshakeAndStartsAfresh) {
  MemoryDataFolder data;
  data.WriteCharacter("Ann", CharacterFile({.level = 7, .posX = 5, .posY = 9}));
  SessionHarness h(data);
  ASSERT_TRUE(h.Connect());
  Bytes block(46, 0x00);
  block[1] = 'A';
  block[2] = 'n';
  block[3] = 'n';
  h.Send(200, block);
  h.Received();
  ASSERT_EQ(h.session.PlayerX(), 5);

  // The first client leaves half a packet behind; it must not reach the next.
  const Bytes ping = h.client.Seal(kPing, {});
  h.socket.Deliver(Bytes(ping.begin(), ping.begin() + 5));

  ProtocolClient next(0x55AA55AAu);
  h.session.Closer();
  h.session.Accept(2);
  EXPECT_EQ(h.session.Phase(), kPhaseAwaitingHello);
  EXPECT_EQ(h.session.Char(), NameField{});
  EXPECT_EQ(h.session.Character(), CharacterRecord{});
  h.socket.Deliver(next.Hello());
  ASSERT_TRUE(next.TakeReply(h.socket.TakeSent()));

  h.socket.Deliver(next.Seal(kPing, Bytes{0x01}));
  EXPECT_THAT(next.Open(h.socket.TakeSent()), ElementsAre(testing::Packet{kPong, {0x00}}));
  // Before its own login the newcomer speaks under no name, and a login
  // without a file serves the zero record, not the earlier client's.
  h.socket.Deliver(next.Seal(302, Bytes{0x01, 'h', 'i'}));
  EXPECT_THAT(next.Open(h.socket.TakeSent()),
              ElementsAre(testing::Packet{303, {0x00, 0x01, 0x0A, 'h', 'i'}}));
  block[1] = 'Z';
  h.socket.Deliver(next.Seal(200, block));
  const std::vector<testing::Packet> login = next.Open(h.socket.TakeSent());
  ASSERT_GE(login.size(), 3u);
  EXPECT_EQ(login[2].payload, (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}));
}

}  // namespace
}  // namespace quorvane
