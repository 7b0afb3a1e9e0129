// The status model on a real Form1 over fake sockets and a fake clock: what a
// snapshot says about each slot, the NPCs and the server's counters after the
// host's own events, and after the events that the host's policy raises
// (refusals, bans, dropped relays), which the tests raise themselves.
#include "host/server_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_socket.h"
#include "host/form1.h"
#include "host_fakes.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"
#include "sample_files.h"
#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

// A socket that also keeps a count of every byte the session wrote.
class CountingSocket : public FakeSocket {
 public:
  void SendData(ByteView bytes) override {
    written += bytes.size();
    FakeSocket::SendData(bytes);
  }
  std::uint64_t written = 0;
};

Bytes LoginBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

std::size_t Index(std::int16_t value, PacketDirection direction) {
  for (std::size_t index = 0; index < kOpcodeTable.size(); ++index) {
    if (kOpcodeTable[index].value == value && kOpcodeTable[index].direction == direction) {
      return index;
    }
  }
  ADD_FAILURE() << "no opcode " << value;
  return 0;
}

class ServerStatusTest : public ::testing::Test {
 protected:
  ServerStatusTest() {
    HostSettings settings;
    settings.tickInterval = 5s;
    settings.handshakeTimeout = 10s;
    settings.loginTimeout = 20s;
    form_ = std::make_unique<Form1>(
        Form1::Controls{text_, listener_, {sockets_[0], sockets_[1]}, clock_, {}, &data_},
        LinkedApi(), generator_, settings);
    source_ = std::make_unique<FormStatusSource>(*form_);
    status_ = std::make_unique<ServerStatus>(*source_, clock_);
    form_->AddObserver(*status_);
    form_->Form_Load();
  }

  void Connect(std::size_t slot) {
    form_->Winsock1_ConnectionRequest(static_cast<std::int32_t>(slot) + 1);
    ASSERT_EQ(sockets_[slot].State(), SocketControl::kConnected) << slot;
  }

  void Handshake(std::size_t slot) {
    clients_[slot] = std::make_unique<ProtocolClient>(0xBEEF00u + slot);
    Deliver(slot, clients_[slot]->Hello());
    ASSERT_TRUE(clients_[slot]->TakeReply(sockets_[slot].TakeSent())) << slot;
  }

  void Send(std::size_t slot, std::int16_t opcode, ByteView payload) {
    Deliver(slot, clients_[slot]->Seal(opcode, payload));
  }

  void Deliver(std::size_t slot, const Bytes& bytes) {
    delivered_[slot] += bytes.size();
    sockets_[slot].Deliver(bytes);
  }

  const SlotStatus& Slot(std::size_t slot) {
    snapshot_ = status_->Snapshot();
    return snapshot_.slotTable[slot];
  }

  MemoryDataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::array<CountingSocket, kSlotCount> sockets_;
  std::array<std::unique_ptr<ProtocolClient>, kSlotCount> clients_;
  std::array<std::uint64_t, kSlotCount> delivered_{};
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  std::unique_ptr<Form1> form_;
  std::unique_ptr<FormStatusSource> source_;
  std::unique_ptr<ServerStatus> status_;
  ServerSnapshot snapshot_;
};

TEST_F(ServerStatusTest, SlotFollowsItsConnectionFromAcceptToClose) {
  data_.WriteCharacter("Ann", CharacterFile({.level = 40, .cls = 1, .posX = 30, .posY = 31}));
  EXPECT_EQ(Slot(0).state, SlotState::kFree);
  EXPECT_EQ(snapshot_.PlayersConnected(), 0u);

  Connect(0);
  EXPECT_EQ(Slot(0).state, SlotState::kAwaitingHello);
  EXPECT_EQ(Slot(0).peer, "127.0.0.1:40000");
  EXPECT_EQ(Slot(0).connectedFor, 0ms);
  clock_.Advance(2500ms);
  EXPECT_EQ(Slot(0).connectedFor, 2500ms);

  Handshake(0);
  EXPECT_EQ(Slot(0).state, SlotState::kOpen);
  EXPECT_EQ(Slot(0).character, "");

  Send(0, opcode::kLogin, LoginBlock("Ann"));
  const SlotStatus& in = Slot(0);
  EXPECT_EQ(in.state, SlotState::kLoggedIn);
  EXPECT_EQ(in.character, "Ann");
  EXPECT_TRUE(in.characterFound);
  EXPECT_EQ(in.level, 40);
  EXPECT_EQ(in.characterClass, 1);
  EXPECT_EQ(in.x, 30);
  EXPECT_EQ(in.y, 31);
  EXPECT_EQ(snapshot_.PlayersConnected(), 1u);
  EXPECT_EQ(snapshot_.SlotsIn(SlotState::kLoggedIn), 1u);
  EXPECT_EQ(snapshot_.SlotsIn(SlotState::kFree), 1u);

  sockets_[0].Drop(CloseReason::kPeerClosed);
  const SlotStatus& gone = Slot(0);
  EXPECT_EQ(gone.state, SlotState::kFree);
  EXPECT_EQ(gone.peer, "");
  EXPECT_EQ(gone.character, "");
  EXPECT_EQ(gone.level, 0);
  EXPECT_EQ(gone.traffic, TrafficCounters{});

  const StatusCounters& counters = snapshot_.counters;
  EXPECT_EQ(counters.connectionsAccepted, 1u);
  EXPECT_EQ(counters.handshakesDone, 1u);
  EXPECT_EQ(counters.loginsFound, 1u);
  EXPECT_EQ(counters.loginsNotFound, 0u);
  EXPECT_EQ(counters.closed[static_cast<std::size_t>(CloseReason::kPeerClosed)], 1u);
}

TEST_F(ServerStatusTest, LoginWithoutACharacterFileKeepsTheNameAndCountsNotFound) {
  Connect(0);
  Handshake(0);
  Send(0, opcode::kLogin, LoginBlock("Nobody"));
  EXPECT_EQ(Slot(0).state, SlotState::kLoggedIn);
  EXPECT_EQ(Slot(0).character, "Nobody");
  EXPECT_FALSE(Slot(0).characterFound);
  EXPECT_EQ(snapshot_.counters.loginsNotFound, 1u);
  EXPECT_EQ(snapshot_.counters.loginsFound, 0u);
}

// The byte counts are checked against what crossed the fake sockets, the
// packet counts against what the client sent and opened.
TEST_F(ServerStatusTest, TrafficCountsEachConnectionApartAndTheServerOverItsLife) {
  data_.WriteCharacter("Ann", CharacterFile({.level = 40, .posX = 30, .posY = 31}));
  constexpr auto kIn = PacketDirection::kClientToServer;
  constexpr auto kOut = PacketDirection::kServerToClient;

  Connect(0);
  Handshake(0);
  const std::uint64_t helloBytes = delivered_[0];
  const std::uint64_t replyBytes = sockets_[0].written;
  Send(0, opcode::kPing, {});
  Send(0, opcode::kPing, {});
  Send(0, opcode::kLogin, LoginBlock("Ann"));
  Send(0, 999, {});
  const std::vector<Packet> received = clients_[0]->Open(sockets_[0].TakeSent());

  const TrafficCounters first = Slot(0).traffic;
  EXPECT_EQ(first.handshakeReceived, (PacketTally{1, helloBytes}));
  EXPECT_EQ(first.handshakeSent, (PacketTally{1, replyBytes}));
  EXPECT_EQ(first.received[Index(opcode::kPing, kIn)].packets, 2u);
  EXPECT_EQ(first.received[Index(opcode::kPing, kIn)].bytes, 16u);  // two bare headers
  EXPECT_EQ(first.received[Index(opcode::kLogin, kIn)], (PacketTally{1, 8 + 46}));
  EXPECT_EQ(first.received[kUnlistedOpcode], (PacketTally{1, 8}));
  EXPECT_EQ(first.sent[Index(opcode::kPong, kOut)], (PacketTally{2, 2 * 9}));
  EXPECT_EQ(first.TotalReceived().bytes, delivered_[0]);
  EXPECT_EQ(first.TotalSent().bytes, sockets_[0].written);
  EXPECT_EQ(first.TotalSent().packets, received.size() + 1);
  const auto loginSteps = std::count_if(received.begin(), received.end(), [](const Packet& p) {
    return p.opcode == opcode::kLoginStep;
  });
  EXPECT_EQ(first.sent[Index(opcode::kLoginStep, kOut)].packets,
            static_cast<std::uint64_t>(loginSteps));

  // The slot's next connection starts from nothing; the totals go on.
  sockets_[0].Drop(CloseReason::kReset);
  Connect(0);
  Handshake(0);
  Send(0, opcode::kPing, {});
  const TrafficCounters second = Slot(0).traffic;
  EXPECT_EQ(second.received[Index(opcode::kPing, kIn)], (PacketTally{1, 8}));
  EXPECT_EQ(second.received[Index(opcode::kLogin, kIn)], PacketTally{});
  EXPECT_EQ(second.handshakeReceived.packets, 1u);
  EXPECT_EQ(snapshot_.traffic.received[Index(opcode::kPing, kIn)], (PacketTally{3, 24}));
  EXPECT_EQ(snapshot_.traffic.handshakeReceived.packets, 2u);
  EXPECT_EQ(snapshot_.traffic.TotalReceived().bytes, delivered_[0]);
  EXPECT_EQ(snapshot_.traffic.TotalSent().bytes, sockets_[0].written);
}

TEST_F(ServerStatusTest, RefusalsCountByReasonAndAgainstTheSlotsOfTheSameAddress) {
  Connect(0);
  listener_.peer = {"::1", 40001};
  Connect(1);
  listener_.peer = {"192.0.2.8", 40002};
  form_->Winsock1_ConnectionRequest(3);  // both slots taken: the host refuses it
  status_->ConnectionRefused("127.0.0.1:50000", RefusalReason::kPerAddressLimit);
  status_->ConnectionRefused("127.0.0.1:50001", RefusalReason::kBanned);
  status_->ConnectionRefused("[::1]:50002", RefusalReason::kDenied);
  status_->ConnectionRefused("192.0.2.9:50003", RefusalReason::kNotAllowed);

  const ServerSnapshot snapshot = status_->Snapshot();
  const auto refused = [&](RefusalReason reason) {
    return snapshot.counters.refused[static_cast<std::size_t>(reason)];
  };
  EXPECT_EQ(refused(RefusalReason::kSlotsFull), 1u);
  EXPECT_EQ(refused(RefusalReason::kPerAddressLimit), 1u);
  EXPECT_EQ(refused(RefusalReason::kBanned), 1u);
  EXPECT_EQ(refused(RefusalReason::kDenied), 1u);
  EXPECT_EQ(refused(RefusalReason::kNotAllowed), 1u);
  EXPECT_EQ(snapshot.counters.RefusedTotal(), 5u);
  EXPECT_EQ(snapshot.slotTable[0].refusals, 2u);
  EXPECT_EQ(snapshot.slotTable[1].refusals, 1u);

  // A new connection in the slot starts with none.
  sockets_[0].Drop(CloseReason::kPeerClosed);
  Connect(0);
  EXPECT_EQ(Slot(0).refusals, 0u);
}

TEST_F(ServerStatusTest, BansAreInForceForTheirDurationAndARenewalExtendsThem) {
  status_->AddressBanned("192.0.2.1", BanReason::kConnectionRate, 10s);
  status_->AddressBanned("192.0.2.2", BanReason::kTimeoutPenalty, 5s);
  EXPECT_EQ(status_->Snapshot().bansInForce, 2u);
  clock_.Advance(5s);
  EXPECT_EQ(status_->Snapshot().bansInForce, 1u);
  status_->AddressBanned("192.0.2.1", BanReason::kConnectionRate, 10s);
  clock_.Advance(9s);
  EXPECT_EQ(status_->Snapshot().bansInForce, 1u);
  clock_.Advance(1s);
  const ServerSnapshot snapshot = status_->Snapshot();
  EXPECT_EQ(snapshot.bansInForce, 0u);
  EXPECT_EQ(snapshot.counters.banned[static_cast<std::size_t>(BanReason::kConnectionRate)], 2u);
  EXPECT_EQ(snapshot.counters.banned[static_cast<std::size_t>(BanReason::kTimeoutPenalty)], 1u);
}

TEST_F(ServerStatusTest, ManyShortBansDoNotPileUp) {
  for (int i = 0; i < 10'000; ++i) {
    status_->AddressBanned("192.0.2." + std::to_string(i), BanReason::kConnectionRate, 1ms);
    clock_.Advance(1ms);
  }
  EXPECT_EQ(status_->Snapshot().bansInForce, 0u);
  status_->AddressBanned("192.0.2.1", BanReason::kConnectionRate, 1s);
  EXPECT_EQ(status_->Snapshot().bansInForce, 1u);
}

TEST_F(ServerStatusTest, DroppedRelaysCountAgainstTheSlotAnswerableForThem) {
  Connect(0);
  Connect(1);
  struct Case {
    std::size_t from;
    std::size_t to;
    DropReason reason;
    std::size_t answerable;
  };
  const std::vector<Case> cases{
      {0, 1, DropReason::kBackPressure, 1},
      {1, 0, DropReason::kBackPressure, 0},
      {0, 1, DropReason::kRateLimit, 0},
      {0, 1, DropReason::kRateLimit, 0},
  };
  std::array<std::uint64_t, kSlotCount> expected{};
  for (const Case& c : cases) {
    status_->RelayDropped(c.from, c.to, opcode::kChatLine, c.reason);
    ++expected[c.answerable];
  }
  const ServerSnapshot snapshot = status_->Snapshot();
  EXPECT_EQ(snapshot.slotTable[0].relaysDropped, expected[0]);
  EXPECT_EQ(snapshot.slotTable[1].relaysDropped, expected[1]);
  EXPECT_EQ(snapshot.counters.relaysDropped[static_cast<std::size_t>(DropReason::kBackPressure)],
            2u);
  EXPECT_EQ(snapshot.counters.relaysDropped[static_cast<std::size_t>(DropReason::kRateLimit)], 2u);
}

TEST_F(ServerStatusTest, ConnectionsTheHostEndsCountByCause) {
  Connect(0);
  clock_.Advance(10s);  // no handshake: the host resets it
  EXPECT_EQ(Slot(0).state, SlotState::kFree);
  status_->ConnectionClosed(1, CloseReason::kClosedByUs, HostCause::kLoginTimeout, 1s);
  status_->ConnectionClosed(1, CloseReason::kClosedByUs, HostCause::kLoginTimeout, 1s);

  const StatusCounters& counters = status_->Snapshot().counters;
  const auto byHost = [&](HostCause cause) {
    return counters.closedByHost[static_cast<std::size_t>(cause)];
  };
  EXPECT_EQ(byHost(HostCause::kHandshakeTimeout), 1u);
  EXPECT_EQ(byHost(HostCause::kLoginTimeout), 2u);
  EXPECT_EQ(byHost(HostCause::kNone), 0u);
  EXPECT_EQ(counters.closed[static_cast<std::size_t>(CloseReason::kClosedByUs)], 3u);
}

TEST_F(ServerStatusTest, NpcsAreTheLiveEntriesOfTheTableWhereTheyStandNow) {
  EXPECT_TRUE(status_->Snapshot().npcs.empty());
  clock_.Advance(10s);  // the second tick spawns the first NPC
  clock_.Advance(10s);  // and the fourth the second
  const ServerSnapshot snapshot = status_->Snapshot();
  ASSERT_EQ(snapshot.npcs.size(), 2u);
  for (std::size_t index = 0; index < 2; ++index) {
    const NpcRecord& npc = form_->Npc(index);
    EXPECT_EQ(snapshot.npcs[index].name, "+Volkrin_ " + std::to_string(index));
    EXPECT_EQ(snapshot.npcs[index].x, npc.X);
    EXPECT_EQ(snapshot.npcs[index].y, npc.Y);
    EXPECT_EQ(snapshot.npcs[index].facing, npc.Dir);
  }
}

TEST_F(ServerStatusTest, UptimeCountsFromTheStatusBeingMade) {
  clock_.Advance(90s);
  EXPECT_EQ(status_->Snapshot().uptime, 90s);
}

}  // namespace
}  // namespace quorvane::testing
