// The host's side of a connection's life on fake sockets and a fake clock:
// the deadlines, the events its observers hear and the lines its diagnostics
// write, Timer1's tick, and the order in which the relay and the
// announcements reach the slots.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_fixture.h"

namespace quorvane::testing {
namespace {

class ConnectionEventsTest : public HostTest {};

TEST_F(ConnectionEventsTest, SilentConnectionIsResetAtItsDeadlineAndTheSlotServesTheNext) {
  HostSettings settings = Defaults();
  settings.handshakeTimeout = 30s;
  settings.loginTimeout = 0s;
  settings.admission.timeoutPenalty = 0s;  // the next connection comes from the same address
  Build(settings);
  ASSERT_EQ(Connect(), 0u);
  clock_.Advance(30s - 1ms);
  EXPECT_TRUE(Connected(0));
  EXPECT_EQ(reports_.lines, std::vector<std::string>{"I " + kSlot1 + ": accepted"});

  clock_.Advance(1ms);
  EXPECT_FALSE(Connected(0));
  EXPECT_EQ(sockets_[0].resets, 1);
  EXPECT_EQ(reports_.lines.back(), "W " + kSlot1 + ": closed: no handshake within 30 s");
  EXPECT_EQ(observer_.events.back(), "closed 0 closed by us (handshake timeout) after 30000 ms");

  ASSERT_EQ(Connect(2), 0u);
  EXPECT_EQ(text_.Text(), kToServer1 + kToServer1);
  ASSERT_TRUE(Handshake(0));
}

// The line gives each deadline the way it was written on the command line.
TEST_F(ConnectionEventsTest, DeadlineLinesNameTheTimeoutInSeconds) {
  struct Case {
    std::chrono::milliseconds timeout;
    std::string seconds;
  };
  for (const Case& c : {Case{1ms, "0.001"}, Case{500ms, "0.5"}, Case{1500ms, "1.5"},
                        Case{30s, "30"}, Case{86400s, "86400"}}) {
    SCOPED_TRACE(c.seconds);
    HostSettings settings = Defaults();
    settings.loginTimeout = 0s;
    settings.handshakeTimeout = c.timeout;
    Build(settings);
    ASSERT_EQ(Connect(), 0u);
    clock_.Advance(c.timeout);
    EXPECT_EQ(reports_.lines.at(1),
              "W " + kSlot1 + ": closed: no handshake within " + c.seconds + " s");

    settings.handshakeTimeout = 24h;
    settings.loginTimeout = c.timeout;
    settings.admission.timeoutPenalty = 0s;
    Build(settings);
    ASSERT_EQ(Connect(), 0u);
    ASSERT_TRUE(Handshake(0));
    clock_.Advance(c.timeout);
    EXPECT_EQ(reports_.lines.at(1),
              "W " + kSlot1 + ": closed: no login within " + c.seconds + " s");
  }
}

// Each deadline counts from the accept (idle: from the last arrival) and
// closes the connection at its time, not a millisecond before.
TEST_F(ConnectionEventsTest, EachDeadlineClosesAQuietConnectionAtItsTime) {
  struct Case {
    std::string name;
    std::chrono::milliseconds handshake, login, idle;
    bool handshakes, logsIn;
    std::chrono::milliseconds closesAt;
    std::string cause;
    // The handshake and login deadlines cost the address the penalty.
    bool penalized;
  };
  const Case cases[] = {
      {"no hello", 10s, 20s, 0s, false, false, 10s, "handshake timeout", true},
      {"no login", 10s, 20s, 0s, true, false, 20s, "login timeout", true},
      {"login deadline before the handshake one", 30s, 5s, 0s, false, false, 5s, "login timeout",
       true},
      {"idle without a login deadline", 10s, 0s, 45s, true, false, 45s, "idle timeout", false},
      {"idle after a login", 10s, 20s, 45s, true, true, 45s, "idle timeout", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    data_.WriteCharacter("Ann", Bytes(93, 0x00));
    HostSettings settings = Defaults();
    settings.handshakeTimeout = c.handshake;
    settings.loginTimeout = c.login;
    settings.idleTimeout = c.idle;
    Build(settings);
    ASSERT_EQ(Connect(), 0u);
    if (c.handshakes) {
      ASSERT_TRUE(Handshake(0));
    }
    if (c.logsIn) sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Ann")));
    clock_.Advance(c.closesAt - 1ms);
    EXPECT_TRUE(Connected(0));
    clock_.Advance(1ms);
    EXPECT_FALSE(Connected(0));
    std::vector<std::string> end{"closed 0 closed by us (" + c.cause + ") after " +
                                 std::to_string(c.closesAt.count()) + " ms"};
    if (c.penalized) end.push_back("banned 127.0.0.1 penalty for 60000 ms");
    EXPECT_EQ(std::vector<std::string>(observer_.events.end() - static_cast<long>(end.size()),
                                       observer_.events.end()),
              end);
    EXPECT_EQ(Connect(2), c.penalized ? kSlotCount : 0u);
    if (Connected(0)) sockets_[0].Drop(CloseReason::kPeerClosed);
  }
}

TEST_F(ConnectionEventsTest, LoggedInSessionWithoutIdleTimeoutIsNeverClosedForBeingQuiet) {
  ASSERT_EQ(Connect(), 0u);
  clock_.Advance(9s);
  ASSERT_TRUE(Handshake(0));
  clock_.Advance(10s);
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Nobody")));
  clock_.Advance(24h);
  EXPECT_TRUE(Connected(0));
  EXPECT_EQ(sockets_[0].resets, 0);
  EXPECT_TRUE(clock_.Running().empty());
}

TEST_F(ConnectionEventsTest, EveryArrivalPutsTheIdleDeadlineOff) {
  HostSettings settings = Defaults();
  settings.idleTimeout = 30s;
  Build(settings);
  ASSERT_EQ(Connect(), 0u);
  ASSERT_TRUE(Handshake(0));
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Nobody")));
  for (int i = 0; i < 10; ++i) {
    clock_.Advance(29s);
    sockets_[0].Deliver(clients_[0]->Seal(124, {}));
  }
  EXPECT_TRUE(Connected(0));
  clock_.Advance(30s);
  EXPECT_FALSE(Connected(0));
  EXPECT_EQ(reports_.lines.back(), "W " + kSlot1 + ": closed: nothing received for 30 s");
}

TEST_F(ConnectionEventsTest, DeadlineOfAConnectionThatEndedDoesNotCutTheNextOneShort) {
  ASSERT_EQ(Connect(1), 0u);
  clock_.Advance(4s);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  clock_.Advance(4s);
  ASSERT_EQ(Connect(2), 0u);

  // 10 s after the first connection: the second has 8 s left.
  clock_.Advance(9s);
  EXPECT_TRUE(Connected(0));
  clock_.Advance(1s);
  EXPECT_FALSE(Connected(0));
  EXPECT_EQ(sockets_[0].resets, 1);
}

TEST_F(ConnectionEventsTest, ConnectionThatEndedBeforeItsDeadlineIsLeftAlone) {
  ASSERT_EQ(Connect(), 0u);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  clock_.Advance(1h);
  EXPECT_EQ(sockets_[0].closes, 1);  // only the one before the Accept
  EXPECT_EQ(sockets_[0].resets, 0);
  EXPECT_TRUE(clock_.Running().empty());
}

TEST_F(ConnectionEventsTest, DeadlineOnASocketThatLostItsPeerUnnoticedOnlyClosesIt) {
  ASSERT_EQ(Connect(), 0u);
  sockets_[0].Disconnect();
  clock_.Advance(1h);
  EXPECT_EQ(sockets_[0].resets, 0);
  EXPECT_EQ(sockets_[0].closes, 2);  // before the Accept, then at the first deadline
  EXPECT_EQ(reports_.lines, std::vector<std::string>{"I " + kSlot1 + ": accepted"});
  EXPECT_TRUE(clock_.Running().empty());
}

TEST_F(ConnectionEventsTest, ObserversHearEachStepOfAConnectionInOrder) {
  data_.WriteCharacter("Ann", Bytes(93, 0x00));
  ASSERT_EQ(Connect(1), 0u);
  clock_.Advance(1s);
  ASSERT_TRUE(Handshake(0));
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Ann")));
  ASSERT_EQ(Connect(2), 1u);
  ASSERT_TRUE(Handshake(1));
  sockets_[1].Deliver(clients_[1]->Seal(kLogin, LoginBlock("Nobody")));
  EXPECT_EQ(Connect(3), kSlotCount);
  clock_.Advance(2500ms);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  sockets_[1].Drop(CloseReason::kTimedOut);

  EXPECT_EQ(observer_.events, (std::vector<std::string>{
                                  "accepted 0 127.0.0.1:40000",
                                  "handshake 0",
                                  "logged in 0 Ann found",
                                  "accepted 1 127.0.0.1:40000",
                                  "handshake 1",
                                  "logged in 1 Nobody not found",
                                  "refused 127.0.0.1:40000 slots full",
                                  "closed 0 peer closed after 3500 ms",
                                  "closed 1 timed out after 2500 ms",
                              }));
}

TEST_F(ConnectionEventsTest, RemovedObserverHearsNothingMore) {
  RecordingObserver second;
  form_->AddObserver(second);
  ASSERT_EQ(Connect(1), 0u);
  form_->RemoveObserver(second);
  sockets_[0].Drop(CloseReason::kReset);
  EXPECT_EQ(second.events, std::vector<std::string>{"accepted 0 127.0.0.1:40000"});
  EXPECT_EQ(observer_.events.back(), "closed 0 reset after 0 ms");
}

TEST_F(ConnectionEventsTest, LinesFollowTheConnectionsLifeAndNameItsSlotAndPeer) {
  data_.WriteUnreadable(DataKind::kCharacter, "Locked", "Input/output error");
  data_.WriteCharacter("Ann", Bytes(93, 0x00));
  ASSERT_EQ(Connect(1), 0u);
  ASSERT_TRUE(Handshake(0));
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Locked")));
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Ann")));
  listener_.peer = {"::ffff:192.0.2.7", 51000};
  ASSERT_EQ(Connect(2), 1u);
  sockets_[1].Drop(CloseReason::kReset);
  sockets_[0].Drop(CloseReason::kSendBound);

  const std::string slot2 = "slot 2 192.0.2.7:51000";
  const std::vector<std::string>& lines = reports_.lines;
  ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "I " + kSlot1 + ": accepted");
  EXPECT_EQ(lines[1], "W " + kSlot1 +
                          ": cannot read character file \"characters/Locked\": Input/output error");
  EXPECT_EQ(lines[2], "I " + kSlot1 + ": logged in as \"Locked\": no character file");
  EXPECT_EQ(lines[3], "I " + kSlot1 + ": logged in as \"Ann\"");
  EXPECT_EQ(lines[4], "I " + slot2 + ": accepted");
  EXPECT_EQ(lines[5], "I " + slot2 + ": closed: the connection was reset or failed");
  EXPECT_EQ(lines[6], "W " + kSlot1 +
                          ": closed: the peer does not read: more than its send bound waited to "
                          "be sent");
}

class RelayOrderTest : public ConnectionEventsTest {
 protected:
  void SetUp() override {
    // The players here stay for hours without logging in.
    HostSettings settings = Defaults();
    settings.loginTimeout = 0s;
    Build(settings);
    ASSERT_EQ(Connect(1), 0u);
    ASSERT_EQ(Connect(2), 1u);
    ASSERT_TRUE(Handshake(0));
    ASSERT_TRUE(Handshake(1));
    journal_.clear();
  }
};

TEST_F(RelayOrderTest, RelayFromASlotReachesEveryOtherSlotOnly) {
  const Bytes line{0x00, 0x01, 'A', 0x0A, 'h', 'i'};
  form_->RelayFrom(0, kChatLine, line);
  EXPECT_EQ(journal_, std::vector<std::size_t>{1});
  EXPECT_EQ(Received(1), (std::vector<Packet>{{kChatLine, line}}));

  journal_.clear();
  form_->RelayFrom(1, kChatLine, line);
  EXPECT_EQ(journal_, std::vector<std::size_t>{0});
  EXPECT_EQ(Received(0), (std::vector<Packet>{{kChatLine, line}}));
}

TEST_F(RelayOrderTest, BroadcastReachesSlotTwoFirstThenSlotOne) {
  const Bytes payload{0x02, 0x03};
  form_->Broadcast(kAppeared, payload);
  EXPECT_EQ(journal_, (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(Received(0), (std::vector<Packet>{{kAppeared, payload}}));
  EXPECT_EQ(Received(1), (std::vector<Packet>{{kAppeared, payload}}));
}

TEST_F(RelayOrderTest, Timer1TicksOnTheClockFromLoadOnAndItsSpawnIsBroadcast) {
  clock_.Advance(1h);
  EXPECT_EQ(form_->Npc(0).Name, "");  // not loaded: Timer1 not running

  form_->Form_Load();
  clock_.Advance(5s);
  EXPECT_EQ(form_->Ticks(), 1);
  EXPECT_EQ(form_->Npc(0).Name, "");
  clock_.Advance(5s);
  EXPECT_EQ(form_->Npc(0).Name, "+Volkrin_ 0");
  EXPECT_EQ(journal_, (std::vector<std::size_t>{1, 0}));
  clock_.Advance(10s);
  EXPECT_EQ(form_->Npc(1).Name, "+Volkrin_ 1");
}

TEST_F(ConnectionEventsTest, FailedLoadLeavesTimer1Stopped) {
  listener_.failBind = true;
  EXPECT_THROW(form_->Form_Load(), std::runtime_error);
  EXPECT_TRUE(clock_.Running().empty());
}

}  // namespace
}  // namespace quorvane::testing
