// Who keeps a slot when a newcomer finds both taken: connections that have
// not logged in only for their login grace, ended connections not at all;
// connections the reloaded address rules refuse are closed; and IPv6 peers
// count per prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"

namespace quorvane::testing {
namespace {

constexpr std::int16_t kPing = 124;
constexpr std::int16_t kPong = 125;
const std::string kRefusedLine = "Cannot connect more than 2 clients\r\n";
const std::string kToServer2 = "Connected client to Server2\r\n";

class SlotRoomTest : public HostTest {
 protected:
  // A request from `address`; the slot that accepted it, or kSlotCount.
  std::size_t ConnectFrom(const std::string& address, std::int32_t requestID) {
    listener_.peer = {address, static_cast<std::uint16_t>(40000 + requestID)};
    form_->Winsock1_ConnectionRequest(requestID);
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
      const auto& accepted = sockets_[slot].accepted;
      if (Connected(slot) && !accepted.empty() && accepted.back() == requestID) return slot;
    }
    return kSlotCount;
  }

  // A fresh host on sockets that no connection holds.
  void Rebuild(const HostSettings& settings) {
    for (auto& socket : sockets_) socket.Drop(CloseReason::kPeerClosed);
    Build(settings);
  }

  bool Pinged(std::size_t slot) {
    sockets_[slot].Deliver(clients_[slot]->Seal(kPing, {}));
    return Received(slot) == std::vector<Packet>{{kPong, {0x00}}};
  }

  // The latest line of the log box.
  std::string TopLine() const { return text_.Text().substr(0, text_.Text().find('\n') + 1); }

  void Forget() {
    observer_.events.clear();
    reports_.lines.clear();
  }
};

// Both slots hold strangers that have not logged in: one only finished its
// handshake, the other said nothing at all.
TEST_F(SlotRoomTest, NewcomerWaitsOutTheGraceThenTakesTheSlotHeldLongest) {
  ASSERT_EQ(ConnectFrom("192.0.2.1", 1), 0u);
  clock_.Advance(500ms);
  ASSERT_EQ(ConnectFrom("192.0.2.2", 2), 1u);
  ASSERT_TRUE(Handshake(1));
  clock_.Advance(1499ms);
  Forget();

  // 1.999 s after the first accept: still within its grace.
  EXPECT_EQ(ConnectFrom("127.0.0.1", 3), kSlotCount);
  EXPECT_EQ(TopLine(), kRefusedLine);
  EXPECT_EQ(observer_.events, std::vector<std::string>{"refused 127.0.0.1:40003 slots full"});

  clock_.Advance(1ms);
  Forget();
  EXPECT_EQ(ConnectFrom("127.0.0.1", 4), 0u);
  EXPECT_EQ(TopLine(), kToServer1);
  EXPECT_EQ(observer_.events, (std::vector<std::string>{
                                  "closed 0 closed by us (made room) after 2000 ms",
                                  "accepted 0 127.0.0.1:40004",
                              }));
  EXPECT_EQ(reports_.lines,
            (std::vector<std::string>{
                "W slot 1 192.0.2.1:40001: closed: made room for a newcomer: no login within "
                "the 2 s grace",
                "I slot 1 127.0.0.1:40004: accepted",
            }));
  EXPECT_EQ(sockets_[0].resets, 1);
  ASSERT_TRUE(Handshake(0));
  LogIn(0, "Ann");
  Received(0);

  // The next newcomer finds the player logged in and the stranger within...
  clock_.Advance(499ms);
  EXPECT_EQ(ConnectFrom("192.0.2.3", 5), kSlotCount);
  // ...then past its grace: the stranger goes, never the player.
  clock_.Advance(1ms);
  EXPECT_EQ(ConnectFrom("192.0.2.3", 6), 1u);
  EXPECT_EQ(TopLine(), kToServer2);
  EXPECT_TRUE(Pinged(0));
}

TEST_F(SlotRoomTest, TheOlderConnectionGoesWhicheverSlotItHolds) {
  ASSERT_EQ(ConnectFrom("192.0.2.1", 1), 0u);
  ASSERT_EQ(ConnectFrom("192.0.2.2", 2), 1u);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  clock_.Advance(1s);
  ASSERT_EQ(ConnectFrom("192.0.2.3", 3), 0u);
  clock_.Advance(2s);
  Forget();
  EXPECT_EQ(ConnectFrom("127.0.0.1", 4), 1u);
  EXPECT_EQ(TopLine(), kToServer2);
  EXPECT_EQ(observer_.events.front(), "closed 1 closed by us (made room) after 3000 ms");
  EXPECT_TRUE(Connected(0));
}

TEST_F(SlotRoomTest, LoggedInPlayersAreNeverClosedForANewcomer) {
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    ASSERT_EQ(ConnectFrom("127.0.0.1", static_cast<std::int32_t>(slot) + 1), slot);
    ASSERT_TRUE(Handshake(slot));
    LogIn(slot, slot == 0 ? "Ann" : "Bob");
  }
  for (int minute = 0; minute < 5; ++minute) {
    clock_.Advance(60s);
    Forget();
    EXPECT_EQ(ConnectFrom("192.0.2.9", 10 + minute), kSlotCount);
    EXPECT_EQ(TopLine(), kRefusedLine);
    EXPECT_EQ(observer_.events.size(), 1u);
  }
  Received(0);
  Received(1);
  EXPECT_TRUE(Pinged(0));
  EXPECT_TRUE(Pinged(1));
}

TEST_F(SlotRoomTest, GraceZeroNeverMakesRoom) {
  HostSettings settings = Defaults();
  settings.loginGrace = 0ms;
  Build(settings);
  ASSERT_EQ(ConnectFrom("192.0.2.1", 1), 0u);
  ASSERT_EQ(ConnectFrom("192.0.2.2", 2), 1u);
  clock_.Advance(9s);
  EXPECT_EQ(ConnectFrom("127.0.0.1", 3), kSlotCount);
  EXPECT_EQ(TopLine(), kRefusedLine);
}

// A player who leaves and reconnects at once: the end of the old connection
// waits unread while the new request comes.
TEST_F(SlotRoomTest, ConnectionThatEndedUnnoticedFreesItsSlotForTheNewcomer) {
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    ASSERT_EQ(ConnectFrom("127.0.0.1", static_cast<std::int32_t>(slot) + 1), slot);
    ASSERT_TRUE(Handshake(slot));
    LogIn(slot, slot == 0 ? "Ann" : "Bob");
  }
  Received(0);
  sockets_[1].DropUnhandled(CloseReason::kPeerClosed);
  Forget();
  EXPECT_EQ(ConnectFrom("127.0.0.1", 3), 1u);
  EXPECT_EQ(TopLine(), kToServer2);
  EXPECT_EQ(observer_.events, (std::vector<std::string>{
                                  "closed 1 peer closed after 0 ms",
                                  "accepted 1 127.0.0.1:40003",
                              }));
  ASSERT_TRUE(Handshake(1));
  LogIn(1, "Bob");
  EXPECT_EQ(observer_.events.back(), "logged in 1 Bob not found");
  Received(0);
  EXPECT_TRUE(Pinged(0));
}

// A burst of connections reset before they were taken: no slot, no log
// line, one diagnostic for the lot.
TEST_F(SlotRoomTest, RequestWithoutAReadablePeerIsClosedBeforeAnySlotOrLogLine) {
  ASSERT_EQ(ConnectFrom("127.0.0.1", 1), 0u);
  ASSERT_TRUE(Handshake(0));
  const std::string logBefore = text_.Text();
  Forget();
  listener_.peer = {};
  for (int i = 0; i < 100; ++i) EXPECT_EQ(Connect(10 + i), kSlotCount);
  EXPECT_EQ(text_.Text(), logBefore);
  EXPECT_EQ(listener_.refused.size(), 100u);
  EXPECT_EQ(sockets_[1].accepted.size(), 0u);
  EXPECT_EQ(observer_.events.size(), 100u);
  EXPECT_EQ(reports_.lines.size(), 1u);
  EXPECT_TRUE(Pinged(0));
}

TEST_F(SlotRoomTest, ReloadedRulesCloseTheConnectionsTheyRefuseAndNoOther) {
  struct Case {
    std::vector<const char*> allow, deny;
  };
  const Case cases[] = {{{}, {"192.0.2.0/24"}}, {{"127.0.0.0/8"}, {}}};
  for (const Case& c : cases) {
    Rebuild(Defaults());
    ASSERT_EQ(ConnectFrom("127.0.0.1", 1), 0u);
    ASSERT_TRUE(Handshake(0));
    LogIn(0, "Ann");
    ASSERT_EQ(ConnectFrom("192.0.2.66", 2), 1u);
    ASSERT_TRUE(Handshake(1));
    LogIn(1, "Bob");
    Received(0);
    Forget();
    std::vector<AddressRange> allow, deny;
    for (const char* range : c.allow) allow.push_back(*AddressRange::Parse(range));
    for (const char* range : c.deny) deny.push_back(*AddressRange::Parse(range));
    form_->SetAddressRanges(allow, deny);
    EXPECT_EQ(observer_.events,
              std::vector<std::string>{"closed 1 closed by us (denied) after 0 ms"});
    EXPECT_EQ(reports_.lines,
              std::vector<std::string>{
                  "W slot 2 192.0.2.66:40002: closed: the reloaded address rules refuse its "
                  "address"});
    EXPECT_FALSE(Connected(1));
    EXPECT_TRUE(Pinged(0));
  }
}

// Addresses of one IPv6 prefix are one peer to the bans and the slot limit;
// IPv4 addresses stay apart.
TEST_F(SlotRoomTest, IPv6PeersCountPerPrefix) {
  struct Case {
    int bits;
    std::vector<std::string> addresses;
    bool oneRecord;
    std::string banLine;
  };
  const Case cases[] = {
      {64,
       {"2001:db8::1", "2001:db8::ffff:2", "2001:db8::3:0:0:3"},
       true,
       "W 2001:db8::/64: banned for 300 s: more than 2 connections within 60 s"},
      {48,
       {"2001:db8::1", "2001:db8:0:1::2", "2001:db8:0:ffff::3"},
       true,
       "W 2001:db8::/48: banned for 300 s: more than 2 connections within 60 s"},
      {64, {"2001:db8::1", "2001:db8:0:1::2", "2001:db8:0:2::3"}, false, ""},
      {128, {"2001:db8::1", "2001:db8::2", "2001:db8::3"}, false, ""},
      {64, {"192.0.2.1", "192.0.2.2", "192.0.2.3"}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.addresses.back() + " /" + std::to_string(c.bits));
    HostSettings settings = Defaults();
    settings.admission.ipv6PrefixBits = c.bits;
    settings.admission.autoban = Autoban{2, 60s, 300s};
    settings.admission.maxPerAddress = 1;
    Rebuild(settings);
    ASSERT_EQ(ConnectFrom(c.addresses[0], 1), 0u);
    // The slot limit: a second address of the same peer holds no slot.
    EXPECT_EQ(ConnectFrom(c.addresses[1], 2), c.oneRecord ? kSlotCount : 1u);
    sockets_[0].Drop(CloseReason::kPeerClosed);
    sockets_[1].Drop(CloseReason::kPeerClosed);
    Forget();
    EXPECT_EQ(ConnectFrom(c.addresses[2], 3), c.oneRecord ? kSlotCount : 0u);
    EXPECT_EQ(reports_.lines.front(),
              c.oneRecord
                  ? c.banLine
                  : "I slot 1 " + IpAddress::Parse(c.addresses[2])->WithPort(40003) + ": accepted");
  }
}

}  // namespace
}  // namespace quorvane::testing
