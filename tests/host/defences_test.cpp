// The host's defences on fake sockets and a fake clock, each against the
// attack it is for: address rules, automatic bans, the timeout penalty,
// slots per address, relay back-pressure and rate, and one player per
// character. Throughout, the other player stays served.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"

namespace quorvane::testing {
namespace {

constexpr std::int16_t kPing = 124;
constexpr std::int16_t kPong = 125;
constexpr std::int16_t kMove = 202;
constexpr std::int16_t kMoved = 203;
constexpr std::int16_t kSay = 302;
constexpr std::size_t kSoftLimit = 256 * 1024;

const PeerEndpoint kPlayerPeer{"127.0.0.1", 40000};
const PeerEndpoint kStrangerPeer{"192.0.2.66", 50000};

class DefencesTest : public HostTest {
 protected:
  // A connection request from `peer`; the slot it went to, or kSlotCount.
  std::size_t ConnectFrom(const PeerEndpoint& peer, std::int32_t requestID = 1) {
    listener_.peer = peer;
    return Connect(requestID);
  }

  // The client in `slot` pings; true when the pong is the only answer.
  bool Pinged(std::size_t slot) {
    sockets_[slot].Deliver(clients_[slot]->Seal(kPing, {}));
    return Received(slot) == std::vector<Packet>{{kPong, {0x00}}};
  }

  // Two players in the slots, their handshakes done and logged in.
  void TwoPlayers() {
    ASSERT_EQ(ConnectFrom(kPlayerPeer, 1), 0u);
    ASSERT_TRUE(Handshake(0));
    LogIn(0, "Ann");
    ASSERT_EQ(ConnectFrom(kStrangerPeer, 2), 1u);
    ASSERT_TRUE(Handshake(1));
    LogIn(1, "Bob");
    Received(0);
    Received(1);
    observer_.events.clear();
    reports_.lines.clear();
  }

  std::size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
  }
};

TEST_F(DefencesTest, RequestRefusedByAnAddressRuleNeverReachesTheSlots) {
  struct Case {
    std::vector<const char*> allow, deny;
    PeerEndpoint peer;
    std::string event;
    std::string line;
  };
  const Case cases[] = {
      {{},
       {"127.0.0.0/8"},
       {"127.0.0.1", 40000},
       "refused 127.0.0.1:40000 denied",
       "W 127.0.0.1:40000: refused: inside a --deny range"},
      {{"10.0.0.0/8"},
       {},
       {"127.0.0.1", 40000},
       "refused 127.0.0.1:40000 not allowed",
       "W 127.0.0.1:40000: refused: outside every --allow range"},
      {{},
       {"192.0.2.0/24"},
       {"::ffff:192.0.2.5", 1},
       "refused 192.0.2.5:1 denied",
       "W 192.0.2.5:1: refused: inside a --deny range"},
      {{},
       {},
       {"", 0},
       "refused  no peer address",
       "W unknown peer: refused: its peer address cannot be read: the connection ended before "
       "it was taken"},
      {{"10.0.0.0/8"},
       {},
       {"", 0},
       "refused  no peer address",
       "W unknown peer: refused: its peer address cannot be read: the connection ended before "
       "it was taken"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    HostSettings settings = Defaults();
    for (const char* range : c.allow)
      settings.admission.allow.push_back(*AddressRange::Parse(range));
    for (const char* range : c.deny) settings.admission.deny.push_back(*AddressRange::Parse(range));
    Build(settings);
    observer_.events.clear();
    listener_.refused.clear();
    const int closesBefore = sockets_[0].closes;

    EXPECT_EQ(ConnectFrom(c.peer, 7), kSlotCount);
    EXPECT_EQ(listener_.refused, std::vector<std::int32_t>{7});
    EXPECT_EQ(text_.Text(), "") << "no log line for a refused address";
    EXPECT_EQ(sockets_[0].closes, closesBefore) << "the slot was touched";
    EXPECT_EQ(observer_.events, std::vector<std::string>{c.event});
    EXPECT_EQ(reports_.lines, std::vector<std::string>{c.line});
  }
}

TEST_F(DefencesTest, AllowedAddressIsServedAsUsual) {
  HostSettings settings = Defaults();
  settings.admission.allow.push_back(*AddressRange::Parse("127.0.0.0/8"));
  settings.admission.deny.push_back(*AddressRange::Parse("127.0.0.2"));
  Build(settings);
  EXPECT_EQ(ConnectFrom(kPlayerPeer), 0u);
  EXPECT_EQ(text_.Text(), kToServer1);
  EXPECT_TRUE(listener_.refused.empty());
}

// Connecting and leaving at once, faster than any player would: after the
// allowed number the address is refused for the ban's time, with one line
// for the whole burst, while the player already in is served throughout.
TEST_F(DefencesTest, ConnectionBurstBansTheAddressWithOneLineAndSparesThePlayer) {
  ASSERT_EQ(ConnectFrom(kPlayerPeer, 1), 0u);
  ASSERT_TRUE(Handshake(0));
  LogIn(0, "Ann");
  Received(0);
  reports_.lines.clear();

  int admitted = 0;
  for (std::int32_t request = 2; request < 200; ++request) {
    if (ConnectFrom(kStrangerPeer, request) == 1) {
      ++admitted;
      sockets_[1].Drop(CloseReason::kPeerClosed);
    }
    clock_.Advance(10ms);
    ASSERT_TRUE(Pinged(0)) << request;
  }
  EXPECT_EQ(admitted, 20);
  EXPECT_EQ(Count(observer_.events, "banned 192.0.2.66 rate for 300000 ms"), 1u);
  EXPECT_EQ(
      Count(reports_.lines, "W 192.0.2.66: banned for 300 s: more than 20 connections within 60 s"),
      1u);
  EXPECT_EQ(reports_.lines.size(), 20u * 2 + 1) << "accepted and closed, then the ban";
  EXPECT_EQ(text_.Text().find("Cannot connect"), std::string::npos);

  clock_.Advance(300s);
  EXPECT_EQ(ConnectFrom(kStrangerPeer, 300), 1u);
}

// A stranger that never says hello and reconnects the moment it is closed:
// with the penalty it holds the free slot for one deadline a minute, without
// it nearly all the time.
TEST_F(DefencesTest, NeverHelloReconnectorHoldsTheSlotOnlyOneDeadlineAMinute) {
  struct Case {
    std::chrono::milliseconds penalty;
    // Sampled once a second over two minutes; a deadline is 10 s.
    int fewestSecondsHeld, mostSecondsHeld;
  };
  for (const Case& c : {Case{60s, 15, 20}, Case{0s, 100, 120}}) {
    SCOPED_TRACE(c.penalty.count());
    HostSettings settings = Defaults();
    settings.admission.timeoutPenalty = c.penalty;
    Build(settings);
    if (Connected(0)) sockets_[0].Drop(CloseReason::kPeerClosed);
    if (Connected(1)) sockets_[1].Drop(CloseReason::kPeerClosed);
    ASSERT_EQ(ConnectFrom(kPlayerPeer, 1), 0u);
    ASSERT_TRUE(Handshake(0));
    LogIn(0, "Ann");
    Received(0);

    int held = 0;
    for (int second = 0; second < 120; ++second) {
      if (!Connected(1)) ConnectFrom(kStrangerPeer, 100 + second);
      clock_.Advance(1s);
      if (Connected(1)) ++held;
      ASSERT_TRUE(Pinged(0)) << second;
    }
    EXPECT_LE(held, c.mostSecondsHeld);
    EXPECT_GE(held, c.fewestSecondsHeld);
  }
}

// Two strangers finish the handshake and only ping: the login deadline frees
// both slots for the player kept out.
// Without the login grace's room for newcomers, the login deadline alone.
TEST_F(DefencesTest, QuietConnectionsHoldingBothSlotsLoseThemToTheLoginDeadline) {
  HostSettings settings = Defaults();
  settings.loginGrace = 0ms;
  Build(settings);
  ASSERT_EQ(ConnectFrom(kStrangerPeer, 1), 0u);
  ASSERT_EQ(ConnectFrom({"192.0.2.67", 50000}, 2), 1u);
  ASSERT_TRUE(Handshake(0));
  ASSERT_TRUE(Handshake(1));
  for (int second = 0; second < 19; ++second) {
    clock_.Advance(1s);
    ASSERT_TRUE(Pinged(0));
    ASSERT_TRUE(Pinged(1));
    EXPECT_EQ(ConnectFrom(kPlayerPeer, 10 + second), kSlotCount);
  }
  clock_.Advance(1s);
  EXPECT_FALSE(Connected(0));
  EXPECT_FALSE(Connected(1));
  EXPECT_EQ(ConnectFrom(kPlayerPeer, 99), 0u);
  ASSERT_TRUE(Handshake(0));
  EXPECT_TRUE(Pinged(0));
}

TEST_F(DefencesTest, AnAddressHoldsNoMoreSlotsThanItsLimit) {
  HostSettings settings = Defaults();
  settings.admission.maxPerAddress = 1;
  Build(settings);
  ASSERT_EQ(ConnectFrom(kStrangerPeer, 1), 0u);
  EXPECT_EQ(ConnectFrom(kStrangerPeer, 2), kSlotCount);
  EXPECT_EQ(observer_.events.back(), "refused 192.0.2.66:50000 per-address limit");
  EXPECT_EQ(ConnectFrom(kPlayerPeer, 3), 1u);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  EXPECT_EQ(ConnectFrom(kStrangerPeer, 4), 0u);
}

// The receiver's output over the soft limit: relayed packets are dropped
// before sealing, so the receiver's sequence does not move and it opens the
// next relayed packet in step. The sender's own echo is not held back.
TEST_F(DefencesTest, RelayToAReceiverBehindOnItsOutputIsDroppedUnsealed) {
  TwoPlayers();
  sockets_[1].pendingBytes = kSoftLimit + 1;
  sockets_[0].Deliver(clients_[0]->Seal(kSay, {0x01, 'a'}));
  EXPECT_EQ(Received(0).size(), 1u);
  EXPECT_TRUE(sockets_[1].NothingSent());
  EXPECT_EQ(observer_.events, std::vector<std::string>{"dropped 303 from 0 to 1 back-pressure"});

  sockets_[1].pendingBytes = kSoftLimit;
  sockets_[0].Deliver(clients_[0]->Seal(kSay, {0x01, 'b'}));
  const std::vector<Packet> relayed = Received(1);
  ASSERT_EQ(relayed.size(), 1u);
  EXPECT_EQ(relayed[0].payload.back(), 'b');
  EXPECT_TRUE(Pinged(1));

  clock_.Advance(1s);
  EXPECT_EQ(reports_.lines,
            std::vector<std::string>{"W " + kSlot1 +
                                     ": relay to slot 2: dropped 1 packets in 1 s (1 with over "
                                     "262144 bytes waiting for the receiver)"});
}

// A sender flooding moves as fast as it can: the burst goes through, the rest
// is dropped, and the rate goes on; the receiver stays in sequence and the
// sender's own pings are answered.
TEST_F(DefencesTest, MoveFloodIsHeldToTheSendersRelayRate) {
  TwoPlayers();
  Bytes flood;
  for (int i = 0; i < 450; ++i) {
    const Bytes packet = clients_[0]->Seal(kMove, {0x01, 0x02});
    flood.insert(flood.end(), packet.begin(), packet.end());
  }
  sockets_[0].Deliver(flood);
  EXPECT_EQ(Received(1).size(), 400u);
  EXPECT_EQ(Count(observer_.events, "dropped 203 from 0 to 1 rate"), 50u);
  EXPECT_TRUE(Pinged(0));
  EXPECT_TRUE(Pinged(1));

  clock_.Advance(1s);
  for (int i = 0; i < 300; ++i) sockets_[0].Deliver(clients_[0]->Seal(kMove, {0x03}));
  const std::vector<Packet> later = Received(1);
  ASSERT_EQ(later.size(), 200u);
  EXPECT_EQ(later.back().opcode, kMoved);
  EXPECT_EQ(later.back().payload.back(), 0x03);

  clock_.Advance(1s);
  EXPECT_EQ(Count(reports_.lines, "W " + kSlot1 +
                                      ": relay to slot 2: dropped 100 packets in 1 s (100 over "
                                      "the sender's relay rate)"),
            1u);
}

TEST_F(DefencesTest, NewConnectionStartsWithAFullRelayBudget) {
  TwoPlayers();
  for (int i = 0; i < 400; ++i) sockets_[0].Deliver(clients_[0]->Seal(kMove, {0x01}));
  sockets_[0].Drop(CloseReason::kPeerClosed);
  ASSERT_EQ(ConnectFrom(kPlayerPeer, 9), 0u);
  ASSERT_TRUE(Handshake(0));
  Received(1);
  for (int i = 0; i < 400; ++i) sockets_[0].Deliver(clients_[0]->Seal(kMove, {0x02}));
  EXPECT_EQ(Received(1).size(), 400u);
}

// The server's own announcements meet the soft limit, never a rate.
TEST_F(DefencesTest, BroadcastsMeetTheSoftLimitButNoRate) {
  TwoPlayers();
  const Bytes payload(54, 0x02);
  for (int i = 0; i < 1000; ++i) form_->Broadcast(kMoved, payload);
  EXPECT_EQ(Received(0).size(), 1000u);
  EXPECT_EQ(Received(1).size(), 1000u);

  sockets_[0].pendingBytes = kSoftLimit + 1;
  form_->Broadcast(kMoved, payload);
  EXPECT_TRUE(sockets_[0].NothingSent());
  EXPECT_EQ(Received(1).size(), 1u);
  EXPECT_EQ(observer_.events,
            std::vector<std::string>{"dropped 203 from server to 0 back-pressure"});
  sockets_[0].pendingBytes = 0;
  EXPECT_TRUE(Pinged(0));
}

// A second connection logging in as the character the other slot plays is
// refused before any reply: it gets nothing, is closed, and the player is
// not told of it.
TEST_F(DefencesTest, LoginAsTheCharacterTheOtherSlotPlaysIsRefused) {
  struct Case {
    std::string first, second;
    bool refused;
  };
  const Case cases[] = {
      {"Ann", "Ann", true},  {"Ann", "ann", true},      {"Ann", "Ann   ", true},
      {"Ann", "Bob", false}, {"Ghost", "Ghost", false},
  };
  data_.WriteCharacter("Ann", Bytes(93, 0x00));
  data_.WriteCharacter("Bob", Bytes(93, 0x00));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first + " then " + c.second);
    Build(Defaults());
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
      if (Connected(slot)) sockets_[slot].Drop(CloseReason::kPeerClosed);
    }
    ASSERT_EQ(ConnectFrom(kPlayerPeer, 1), 0u);
    ASSERT_TRUE(Handshake(0));
    LogIn(0, c.first);
    Received(0);
    ASSERT_EQ(ConnectFrom(kStrangerPeer, 2), 1u);
    ASSERT_TRUE(Handshake(1));
    reports_.lines.clear();

    LogIn(1, c.second);
    EXPECT_EQ(Connected(1), !c.refused);
    EXPECT_EQ(Received(1).empty(), c.refused);
    EXPECT_EQ(Received(0).empty(), c.refused) << "the announcement of the second";
    EXPECT_TRUE(Pinged(0));
    if (c.refused) {
      EXPECT_EQ(sockets_[1].resets, 1);
      EXPECT_EQ(reports_.lines,
                std::vector<std::string>{"W slot 2 192.0.2.66:50000: closed: its login named the "
                                         "character another slot plays"});
    }
    sockets_[1].resets = 0;
  }
}

TEST_F(DefencesTest, CharacterIsFreeAgainOnceItsPlayerLeaves) {
  data_.WriteCharacter("Ann", Bytes(93, 0x00));
  TwoPlayers();
  LogIn(0, "Ann");  // its own character again: no conflict
  EXPECT_TRUE(Connected(0));
  LogIn(1, "Ann");
  EXPECT_FALSE(Connected(1));

  ASSERT_EQ(ConnectFrom(kStrangerPeer, 3), 1u);
  ASSERT_TRUE(Handshake(1));
  sockets_[0].Drop(CloseReason::kPeerClosed);
  LogIn(1, "Ann");
  EXPECT_TRUE(Connected(1));
  EXPECT_FALSE(Received(1).empty());
}

TEST_F(DefencesTest, RequiredCharacterFileRefusesLoginsWithoutOne) {
  data_.WriteCharacter("Ann", Bytes(93, 0x00));
  HostSettings settings = Defaults();
  settings.requireCharacter = true;
  Build(settings);
  ASSERT_EQ(ConnectFrom(kPlayerPeer, 1), 0u);
  ASSERT_TRUE(Handshake(0));
  LogIn(0, "Ann");
  EXPECT_TRUE(Connected(0));
  ASSERT_EQ(ConnectFrom(kStrangerPeer, 2), 1u);
  ASSERT_TRUE(Handshake(1));
  LogIn(1, "Ghost");
  EXPECT_FALSE(Connected(1));
  EXPECT_TRUE(Received(1).empty());
  EXPECT_EQ(reports_.lines.back(),
            "W slot 2 192.0.2.66:50000: closed: its login named no character file");
  EXPECT_EQ(observer_.events.back(), "closed 1 closed by us (no character file) after 0 ms");
}

}  // namespace
}  // namespace quorvane::testing
