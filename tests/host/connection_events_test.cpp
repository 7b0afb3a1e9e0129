// The host's side of a connection's life on fake sockets and a fake clock:
// the handshake deadline, the events its observers hear, Timer1's tick, and
// the order in which the relay and the announcements reach the slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_socket.h"
#include "form1.h"
#include "host_fakes.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::int16_t kLogin = 200;
constexpr std::int16_t kAppeared = 205;
constexpr std::int16_t kChatLine = 303;
const std::string kToServer1 = "Connected client to Server1\r\n";

// A login payload: 00, the name, 00 bytes to 46.
Bytes LoginBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

std::string ReasonText(CloseReason reason) {
  switch (reason) {
    case CloseReason::kPeerClosed:
      return "peer closed";
    case CloseReason::kReset:
      return "reset";
    case CloseReason::kTimedOut:
      return "timed out";
    case CloseReason::kSendBound:
      return "send bound";
    case CloseReason::kClosedByUs:
      return "closed by us";
  }
  return "?";
}

// Every event as one line of text, in order.
class RecordingObserver : public ConnectionObserver {
 public:
  void ConnectionAccepted(std::size_t slot, std::string_view peer) override {
    events.push_back("accepted " + std::to_string(slot) + " " + std::string(peer));
  }
  void ConnectionRefused(std::string_view, RefusalReason) override { events.push_back("refused"); }
  void HandshakeDone(std::size_t slot) override {
    events.push_back("handshake " + std::to_string(slot));
  }
  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override {
    events.push_back("logged in " + std::to_string(slot) + " " + std::string(fileName) +
                     (characterFound ? " found" : " not found"));
  }
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override {
    events.push_back("closed " + std::to_string(slot) + " " + ReasonText(reason) +
                     (cause == HostCause::kHandshakeTimeout ? " (handshake timeout)" : "") +
                     " after " + std::to_string(lasted.count()) + " ms");
  }

  std::vector<std::string> events;
};

// A fake socket that also notes, in one journal shared by all slots, which
// slot each write went to.
class JournaledSocket : public FakeSocket {
 public:
  JournaledSocket(std::vector<std::size_t>& journal, std::size_t slot)
      : journal_(journal), slot_(slot) {}
  void SendData(ByteView bytes) override {
    journal_.push_back(slot_);
    FakeSocket::SendData(bytes);
  }

 private:
  std::vector<std::size_t>& journal_;
  std::size_t slot_;
};

class ConnectionEventsTest : public ::testing::Test {
 protected:
  ConnectionEventsTest() { Build(30s); }

  // A fresh host on the same fakes with `handshakeTimeout`.
  void Build(std::chrono::milliseconds handshakeTimeout) {
    form_.reset();
    HostSettings settings;
    settings.tickInterval = 5s;
    settings.handshakeTimeout = handshakeTimeout;
    form_ = std::make_unique<Form1>(
        Form1::Controls{text_,
                        listener_,
                        {sockets_[0], sockets_[1]},
                        clock_,
                        [this](std::string_view report) { reports_.emplace_back(report); },
                        &data_},
        LinkedApi(), generator_, settings);
    form_->AddObserver(observer_);
  }

  // A connection request; the slot it went to, or kSlotCount when refused.
  std::size_t Connect(std::int32_t requestID = 1) {
    std::array<bool, kSlotCount> before{};
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) before[slot] = Connected(slot);
    form_->Winsock1_ConnectionRequest(requestID);
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
      if (!before[slot] && Connected(slot)) return slot;
    }
    return kSlotCount;
  }

  // The client in `slot` sends its hello; false when no reply came.
  bool Handshake(std::size_t slot) {
    clients_[slot] = std::make_unique<ProtocolClient>(0xC0FFEE00u + slot);
    sockets_[slot].Deliver(clients_[slot]->Hello());
    return clients_[slot]->TakeReply(sockets_[slot].TakeSent());
  }

  bool Connected(std::size_t slot) const {
    return sockets_[slot].State() == SocketControl::kConnected;
  }

  // Packets the client in `slot` opened since the last call.
  std::vector<Packet> Received(std::size_t slot) {
    return clients_[slot]->Open(sockets_[slot].TakeSent());
  }

  MemoryDataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::vector<std::size_t> journal_;
  std::array<JournaledSocket, kSlotCount> sockets_{JournaledSocket(journal_, 0),
                                                   JournaledSocket(journal_, 1)};
  std::array<std::unique_ptr<ProtocolClient>, kSlotCount> clients_;
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  std::vector<std::string> reports_;
  RecordingObserver observer_;
  std::unique_ptr<Form1> form_;
};

TEST_F(ConnectionEventsTest, SilentConnectionIsResetAtItsDeadlineAndTheSlotServesTheNext) {
  ASSERT_EQ(Connect(), 0u);
  clock_.Advance(30s - 1ms);
  EXPECT_TRUE(Connected(0));
  EXPECT_TRUE(reports_.empty());

  clock_.Advance(1ms);
  EXPECT_FALSE(Connected(0));
  EXPECT_EQ(sockets_[0].resets, 1);
  EXPECT_EQ(reports_, std::vector<std::string>{
                          "closing the connection from 127.0.0.1:40000: no handshake within 30 s"});
  EXPECT_EQ(observer_.events.back(), "closed 0 closed by us (handshake timeout) after 30000 ms");

  ASSERT_EQ(Connect(2), 0u);
  EXPECT_EQ(text_.Text(), kToServer1 + kToServer1);
  ASSERT_TRUE(Handshake(0));
}

// The report gives the timeout the way it was written on the command line.
TEST_F(ConnectionEventsTest, DeadlineReportNamesTheTimeoutInSeconds) {
  struct Case {
    std::chrono::milliseconds timeout;
    std::string seconds;
  };
  for (const Case& c : {Case{1ms, "0.001"}, Case{500ms, "0.5"}, Case{1500ms, "1.5"},
                        Case{30s, "30"}, Case{86400s, "86400"}}) {
    Build(c.timeout);
    reports_.clear();
    ASSERT_EQ(Connect(), 0u);
    clock_.Advance(c.timeout);
    EXPECT_EQ(reports_, std::vector<std::string>{"closing the connection from 127.0.0.1:40000: "
                                                 "no handshake within " +
                                                 c.seconds + " s"});
  }
}

TEST_F(ConnectionEventsTest, SessionPastItsHandshakeIsNeverClosedForBeingQuiet) {
  ASSERT_EQ(Connect(), 0u);
  clock_.Advance(29s);
  ASSERT_TRUE(Handshake(0));
  clock_.Advance(24h);
  EXPECT_TRUE(Connected(0));
  EXPECT_EQ(sockets_[0].resets, 0);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(ConnectionEventsTest, DeadlineOfAConnectionThatEndedDoesNotCutTheNextOneShort) {
  ASSERT_EQ(Connect(1), 0u);
  clock_.Advance(10s);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  clock_.Advance(10s);
  ASSERT_EQ(Connect(2), 0u);

  // 30 s after the first connection: the second has 20 s left.
  clock_.Advance(25s);
  EXPECT_TRUE(Connected(0));
  clock_.Advance(5s);
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
  clock_.Advance(30s);
  EXPECT_EQ(sockets_[0].resets, 0);
  EXPECT_EQ(sockets_[0].closes, 2);  // before the Accept, then at the deadline
  EXPECT_TRUE(reports_.empty());
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
                                  "refused",
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

TEST_F(ConnectionEventsTest, SessionReportsReachTheHostsDiagnostics) {
  data_.WriteUnreadable(DataKind::kCharacter, "Locked", "Input/output error");
  ASSERT_EQ(Connect(), 0u);
  ASSERT_TRUE(Handshake(0));
  sockets_[0].Deliver(clients_[0]->Seal(kLogin, LoginBlock("Locked")));
  EXPECT_EQ(reports_, std::vector<std::string>{
                          "cannot read character file \"characters/Locked\": Input/output error"});
  EXPECT_EQ(observer_.events.back(), "logged in 0 Locked not found");
}

class RelayOrderTest : public ConnectionEventsTest {
 protected:
  void SetUp() override {
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
