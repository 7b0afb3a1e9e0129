// The operator's commands on a host of fake sockets and a fake clock: what
// the players receive, which connections end and why, bans and their
// expiry, and the shutdown countdown step by step.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/host_operator.h"
#include "host_fixture.h"

namespace quorvane::testing {
namespace {

const PeerEndpoint kAnnPeer{"127.0.0.1", 40000};
const PeerEndpoint kBobPeer{"127.0.0.2", 40001};
const Operator kAlice{1000, "alice"};

std::optional<AddressRange> Range(const char* text) {
  return AddressRange::Parse(text);
}

class HostOperatorTest : public HostTest {
 protected:
  HostOperatorTest() { MakeOperator({}); }

  // A fresh host under a fresh operator, which goes first: it leaves the
  // host's observers on its way out.
  void Rebuild(const HostSettings& settings, OperatorSettings operatorSettings) {
    operator_.reset();
    Build(settings);
    MakeOperator(std::move(operatorSettings));
  }

  void MakeOperator(OperatorSettings settings) {
    operator_.reset();
    operator_ = std::make_unique<HostOperator>(
        *form_, clock_, reports_.Sink(), std::move(settings),
        HostOperator::Hooks{
            .draining = [this] { hooks_.push_back("draining"); },
            .resumed = [this] { hooks_.push_back("resumed"); },
            .end = [this] { hooks_.push_back("end"); },
            .store =
                [this](const std::vector<BanRecord>& bans) {
                  stored_ = bans;
                  return storeError_;
                },
        },
        [this] { return kEpoch + (clock_.Now() - Clock::TimePoint{}); });
  }

  void TwoPlayers() {
    listener_.peer = kAnnPeer;
    ASSERT_EQ(Connect(1), 0u);
    ASSERT_TRUE(Handshake(0));
    LogIn(0, "Ann");
    listener_.peer = kBobPeer;
    ASSERT_EQ(Connect(2), 1u);
    ASSERT_TRUE(Handshake(1));
    LogIn(1, "Bob");
    Received(0);
    Received(1);
    observer_.events.clear();
    reports_.lines.clear();
  }

  // The texts of the chat lines the client in `slot` got since the last
  // call; every one from the welcome line's sender with its line type.
  std::vector<std::string> Chat(std::size_t slot) {
    std::vector<std::string> texts;
    const std::string head = std::string("\x00\x04", 2) + "OrlanServer\n";
    for (const Packet& packet : Received(slot)) {
      if (packet.opcode != kChatLine) continue;
      const std::string payload(packet.payload.begin(), packet.payload.end());
      EXPECT_TRUE(payload.starts_with(head)) << payload;
      texts.push_back(payload.substr(head.size()));
    }
    return texts;
  }

  static constexpr std::chrono::system_clock::time_point kEpoch{std::chrono::hours(480000)};
  std::unique_ptr<HostOperator> operator_;
  std::vector<std::string> hooks_;
  std::vector<BanRecord> stored_;
  std::string storeError_;
};

TEST_F(HostOperatorTest, SayReachesEveryLoggedInPlayerAndNoOneElse) {
  TwoPlayers();
  listener_.peer = kBobPeer;
  form_->Winsock1_ConnectionRequest(3);  // no slot left: refused, never told
  const ActionResult said = operator_->Say("Server restarts at noon", kAlice);
  EXPECT_TRUE(said.done) << said.text;
  EXPECT_EQ(said.text, "said to 2 players: Server restarts at noon");
  EXPECT_EQ(Chat(0), std::vector<std::string>{"Server restarts at noon"});
  EXPECT_EQ(Chat(1), std::vector<std::string>{"Server restarts at noon"});
  EXPECT_EQ(reports_.lines.back(),
            "I operator alice (uid 1000): said to 2 players: Server restarts at noon");
  EXPECT_FALSE(operator_->Say("", kAlice).done);
  EXPECT_FALSE(operator_->Say(std::string(kLongestOperatorText + 1, 'x'), kAlice).done);
  EXPECT_EQ(operator_->ActionCounts()[static_cast<std::size_t>(AdminAction::kSay)], 1u);
}

TEST_F(HostOperatorTest, KickTellsThePlayerThenClosesWithTheCauseKicked) {
  TwoPlayers();
  const ActionResult kicked = operator_->Kick(2, "spamming", kAlice);
  EXPECT_TRUE(kicked.done) << kicked.text;
  EXPECT_EQ(kicked.text, "kicked slot 2 127.0.0.2: spamming");
  EXPECT_EQ(Chat(1), std::vector<std::string>{"Kicked: spamming"});
  EXPECT_FALSE(Connected(1));
  EXPECT_TRUE(Connected(0));
  EXPECT_EQ(observer_.events,
            std::vector<std::string>{"closed 1 closed by us (kicked) after 0 ms"});

  ASSERT_TRUE(operator_->Kick(1, "", kAlice).done);
  EXPECT_EQ(Chat(0), std::vector<std::string>{"Kicked"});

  struct Case {
    int slot;
    std::string reason;
    std::string refusal;
  };
  for (const Case& c : std::vector<Case>{
           {1, "", "slot 1 is free"},
           {0, "", "no slot 0: slots are 1 to 2"},
           {3, "", "no slot 3: slots are 1 to 2"},
           {1, std::string(kLongestOperatorText + 1, 'x'), "the reason is longer than 1024 bytes"},
       }) {
    const ActionResult refused = operator_->Kick(c.slot, c.reason, kAlice);
    EXPECT_FALSE(refused.done) << c.slot;
    EXPECT_EQ(refused.text, c.refusal);
  }
  EXPECT_EQ(operator_->ActionCounts()[static_cast<std::size_t>(AdminAction::kKick)], 2u);
}

TEST_F(HostOperatorTest, BanClosesConnectedPlayersOfTheRangeAndRefusesNewOnesUntilItLifts) {
  TwoPlayers();
  const ActionResult banned = operator_->Ban(*Range("127.0.0.2/32"), 1h, "cheating", kAlice);
  ASSERT_TRUE(banned.done) << banned.text;
  EXPECT_EQ(banned.text, "banned 127.0.0.2/32 for 3600 s: cheating (closed 1 connected)");
  EXPECT_EQ(Chat(1), std::vector<std::string>{"Kicked: cheating"});
  EXPECT_FALSE(Connected(1));
  EXPECT_TRUE(Connected(0));
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].by, "alice");
  EXPECT_EQ(stored_[0].until, kEpoch + 1h);

  listener_.peer = kBobPeer;
  EXPECT_EQ(Connect(3), kSlotCount);
  EXPECT_EQ(observer_.events.back(), "refused 127.0.0.2:40001 banned");
  listener_.peer = {"127.0.0.3", 40002};
  EXPECT_EQ(Connect(4), 1u) << "outside the range";
  form_->Slot(1).Closer();

  clock_.Advance(1h - 1s);
  listener_.peer = kBobPeer;
  EXPECT_EQ(Connect(5), kSlotCount);
  EXPECT_EQ(operator_->ManualBansInForce(), 1u);
  clock_.Advance(1s);
  EXPECT_EQ(operator_->ManualBansInForce(), 0u);
  EXPECT_TRUE(operator_->Bans().empty());
  EXPECT_EQ(Connect(6), 1u) << "the ban has lifted";
}

TEST_F(HostOperatorTest, UnbanRemovesExactlyThatRangeAndAFailedStoreChangesNothing) {
  ASSERT_TRUE(operator_->Ban(*Range("192.0.2.0/24"), std::nullopt, "", kAlice).done);
  ASSERT_TRUE(operator_->Ban(*Range("2001:db8::/32"), 60s, "flood", kAlice).done);
  EXPECT_EQ(operator_->Bans().size(), 2u);

  EXPECT_EQ(operator_->Unban(*Range("192.0.2.7"), kAlice).text, "no ban of 192.0.2.7/32");
  EXPECT_TRUE(operator_->Unban(*Range("192.0.2.0/24"), kAlice).done);
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_[0].range, *Range("2001:db8::/32"));

  storeError_ = "cannot write bans.new: No space left on device";
  const ActionResult failed = operator_->Ban(*Range("198.51.100.1"), std::nullopt, "", kAlice);
  EXPECT_FALSE(failed.done);
  EXPECT_EQ(failed.text, storeError_);
  EXPECT_FALSE(operator_->Unban(*Range("2001:db8::/32"), kAlice).done);
  EXPECT_EQ(operator_->Bans().size(), 1u) << "neither the failed ban nor the failed unban took";
  listener_.peer = {"198.51.100.1", 5000};
  EXPECT_EQ(Connect(1), 0u);
}

TEST_F(HostOperatorTest, BansListsAutomaticBansAndUnbanLiftsOne) {
  HostSettings settings = Defaults();
  settings.admission.autoban = Autoban{1, 60s, 300s};
  Rebuild(settings, {});
  listener_.peer = {"192.0.2.9", 5000};
  Connect(1);
  form_->Slot(0).Closer();
  EXPECT_EQ(Connect(2), kSlotCount) << "banned for its rate";
  const std::vector<BanRecord> bans = operator_->Bans();
  ASSERT_EQ(bans.size(), 1u);
  EXPECT_FALSE(bans[0].manual);
  EXPECT_EQ(bans[0].range, *Range("192.0.2.9/32"));
  EXPECT_EQ(bans[0].reason, "connection_rate");
  EXPECT_EQ(bans[0].until, kEpoch + 300s);
  EXPECT_TRUE(stored_.empty()) << "automatic bans stay in memory";

  EXPECT_TRUE(operator_->Unban(*Range("192.0.2.9"), kAlice).done);
  EXPECT_TRUE(operator_->Bans().empty());
}

TEST_F(HostOperatorTest, ShutdownCountsDownWithNoticesAtTheStepsThenClosesEveryone) {
  TwoPlayers();
  const ActionResult started = operator_->Shutdown(65s, "", kAlice);
  ASSERT_TRUE(started.done) << started.text;
  EXPECT_EQ(started.text, "shutting down in 65 s");
  EXPECT_EQ(hooks_, std::vector<std::string>{"draining"});
  EXPECT_EQ(Chat(0), std::vector<std::string>{"The server is shutting down (in 65 s)"});
  EXPECT_EQ(Chat(1), std::vector<std::string>{"The server is shutting down (in 65 s)"});

  listener_.peer = {"127.0.0.3", 40002};
  form_->Winsock1_ConnectionRequest(9);
  EXPECT_EQ(observer_.events.back(), "refused 127.0.0.3:40002 shutting down");
  EXPECT_FALSE(operator_->Shutdown(5s, "", kAlice).done) << "one countdown at a time";

  const std::vector<std::pair<std::chrono::seconds, std::string>> steps{
      {5s, "The server is shutting down (in 60 s)"},
      {30s, "The server is shutting down (in 30 s)"},
      {20s, "The server is shutting down (in 10 s)"},
      {5s, "The server is shutting down (in 5 s)"},
  };
  for (const auto& [wait, notice] : steps) {
    clock_.Advance(wait - 1ms);
    EXPECT_TRUE(Chat(0).empty()) << notice;
    clock_.Advance(1ms);
    EXPECT_EQ(Chat(0), std::vector<std::string>{notice});
    EXPECT_EQ(Chat(1), std::vector<std::string>{notice});
  }
  clock_.Advance(5s - 1ms);
  EXPECT_TRUE(Connected(0));
  clock_.Advance(1ms);
  EXPECT_FALSE(Connected(0));
  EXPECT_FALSE(Connected(1));
  EXPECT_EQ(hooks_, (std::vector<std::string>{"draining", "end"}));
  EXPECT_EQ(observer_.events.back(), "closed 1 closed by us (shutdown) after 65000 ms");
}

TEST_F(HostOperatorTest, ShutdownEndsAtOnceWithNoPlayerAndCancelServesAgain) {
  EXPECT_EQ(operator_->Shutdown(std::nullopt, "", kAlice).text, "shutting down now");
  EXPECT_EQ(hooks_, std::vector<std::string>{"end"});

  Rebuild(Defaults(), {.shutdownGrace = 20s, .shutdownText = "Maintenance"});
  hooks_.clear();
  TwoPlayers();
  operator_->Terminate("SIGTERM");
  clock_.Advance(10s);
  const std::vector<std::string> notices{"Maintenance (in 20 s)", "Maintenance (in 10 s)"};
  EXPECT_EQ(Chat(0), notices);
  EXPECT_EQ(Chat(1), notices);
  EXPECT_TRUE(operator_->CancelShutdown(kAlice).done);
  EXPECT_EQ(Chat(0), std::vector<std::string>{"The shutdown is cancelled"});
  EXPECT_EQ(Chat(1), std::vector<std::string>{"The shutdown is cancelled"});
  EXPECT_EQ(hooks_, (std::vector<std::string>{"draining", "resumed"}));
  clock_.Advance(1h);
  EXPECT_TRUE(Connected(0));
  EXPECT_FALSE(operator_->CancelShutdown(kAlice).done);

  ASSERT_TRUE(operator_->Shutdown(2s, "Bye", kAlice).done);
  EXPECT_EQ(Chat(0), std::vector<std::string>{"Bye (in 2 s)"});
  operator_->Terminate("SIGINT");
  EXPECT_FALSE(Connected(0)) << "a second signal ends at once";
  EXPECT_EQ(hooks_.back(), "end");
}

TEST_F(HostOperatorTest, CountdownEndsEarlyOnceTheLastPlayerHasLeft) {
  TwoPlayers();
  ASSERT_TRUE(operator_->Shutdown(30s, "", kAlice).done);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  EXPECT_EQ(hooks_, std::vector<std::string>{"draining"});
  sockets_[1].Drop(CloseReason::kPeerClosed);
  EXPECT_EQ(hooks_, (std::vector<std::string>{"draining", "end"}));
}

}  // namespace
}  // namespace quorvane::testing
