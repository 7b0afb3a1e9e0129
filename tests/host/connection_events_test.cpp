// The host's side of a connection's life on fake sockets and a fake clock:
// the deadlines, the events its observers hear and the lines its diagnostics
// write, Timer1's tick, and the order in which the relay and the
// announcements reach the slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data_folder.h"
#include "fake_clock.h"
#include "fake_socket.h"
#include "form1.h"
#include "host_fakes.h"
#include "linked_api.h"
#include "protocol_client.h"
#include "report_log.h"

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

std::string CauseText(HostCause cause) {
  switch (cause) {
    case HostCause::kNone:
      return "";
    case HostCause::kHandshakeTimeout:
      return " (handshake timeout)";
    case HostCause::kLoginTimeout:
      return " (login timeout)";
    case HostCause::kIdleTimeout:
      return " (idle timeout)";
    case HostCause::kCharacterInUse:
      return " (character in use)";
    case HostCause::kNoCharacterFile:
      return " (no character file)";
  }
  return " (?)";
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
                     CauseText(cause) + " after " + std::to_string(lasted.count()) + " ms");
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

// A host with the product's defaults but for what a test changes.
HostSettings Defaults(const DataFolder& data) {
  HostSettings settings;
  settings.dataDir = data.root();
  settings.tickInterval = 5s;
  return settings;
}

class ConnectionEventsTest : public ::testing::Test {
 protected:
  ConnectionEventsTest() { Build(Defaults(data_)); }

  // A fresh host on the same fakes.
  void Build(const HostSettings& settings) {
    form_.reset();
    reports_.lines.clear();
    form_ = std::make_unique<Form1>(
        Form1::Controls{text_, listener_, {sockets_[0], sockets_[1]}, clock_, reports_.Sink()},
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

  DataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::vector<std::size_t> journal_;
  std::array<JournaledSocket, kSlotCount> sockets_{JournaledSocket(journal_, 0),
                                                   JournaledSocket(journal_, 1)};
  std::array<std::unique_ptr<ProtocolClient>, kSlotCount> clients_;
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  ReportLog reports_;
  RecordingObserver observer_;
  std::unique_ptr<Form1> form_;
};

const std::string kSlot1 = "slot 1 127.0.0.1:40000";

TEST_F(ConnectionEventsTest, SilentConnectionIsResetAtItsDeadlineAndTheSlotServesTheNext) {
  HostSettings settings = Defaults(data_);
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
    HostSettings settings = Defaults(data_);
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
  };
  const Case cases[] = {
      {"no hello", 10s, 20s, 0s, false, false, 10s, "handshake timeout"},
      {"no login", 10s, 20s, 0s, true, false, 20s, "login timeout"},
      {"login deadline before the handshake one", 30s, 5s, 0s, false, false, 5s, "login timeout"},
      {"idle without a login deadline", 10s, 0s, 45s, true, false, 45s, "idle timeout"},
      {"idle after a login", 10s, 20s, 45s, true, true, 45s, "idle timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    data_.WriteCharacter("Ann", Bytes(93, 0x00));
    HostSettings settings = Defaults(data_);
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
    EXPECT_EQ(observer_.events.back(), "closed 0 closed by us (" + c.cause + ") after " +
                                           std::to_string(c.closesAt.count()) + " ms");
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
  HostSettings settings = Defaults(data_);
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

TEST_F(ConnectionEventsTest, LinesFollowTheConnectionsLifeAndNameItsSlotAndPeer) {
  // A regular file whose first read fails (EIO) for every user, root included.
  std::filesystem::create_symlink("/proc/self/mem", data_.root() / "characters" / "Locked");
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
  EXPECT_EQ(lines[1].rfind("W " + kSlot1 + ": cannot read character file \"" +
                               data_.root().string() + "/characters/Locked\": ",
                           0),
            0u)
      << lines[1];
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
    HostSettings settings = Defaults(data_);
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
