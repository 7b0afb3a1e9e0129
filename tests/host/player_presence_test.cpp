// Who is on the map as the host's connection events tell it: the roster an
// orchestrator is given (a login joins, a departure leaves), and the watch
// that ends a map once its last player has been gone long enough.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/empty_map_watch.h"
#include "host/player_roster.h"
#include "host_fixture.h"

namespace quorvane::testing {
namespace {

class PlayerPresenceTest : public HostTest {
 protected:
  PlayerPresenceTest() {
    form_->AddObserver(roster_);
    form_->AddObserver(watch_);
  }
  ~PlayerPresenceTest() override {
    form_->RemoveObserver(watch_);
    form_->RemoveObserver(roster_);
  }

  // A client takes a slot, finishes its handshake and logs in as `name`.
  std::size_t Play(const std::string& name, std::int32_t requestID = 1) {
    const std::size_t slot = Connect(requestID);
    EXPECT_LT(slot, kSlotCount);
    EXPECT_TRUE(Handshake(slot));
    LogIn(slot, name);
    return slot;
  }

  void Leave(std::size_t slot) { sockets_[slot].Drop(CloseReason::kPeerClosed); }

  std::vector<std::string> events_;
  PlayerRoster roster_{{
      .joined = [this](const std::string& player) { events_.push_back("joined " + player); },
      .left = [this](const std::string& player) { events_.push_back("left " + player); },
  }};
  int ended_ = 0;
  EmptyMapWatch watch_{clock_, 30s, [this] { ++ended_; }};
};

TEST_F(PlayerPresenceTest, EachLoginJoinsAndEachDepartureLeavesUnderItsSlot) {
  const std::size_t ada = Play("Ada");
  const std::size_t bo = Play("Bo", 2);
  EXPECT_EQ(roster_.Count(), 2u);
  Leave(ada);
  EXPECT_EQ(roster_.Count(), 1u);
  Leave(bo);
  EXPECT_EQ(events_, (std::vector<std::string>{"joined Server1:Ada", "joined Server2:Bo",
                                               "left Server1:Ada", "left Server2:Bo"}));
  EXPECT_EQ(roster_.Count(), 0u);
}

TEST_F(PlayerPresenceTest, TwoPlayersUnderOneNameWithoutAFileStayApart) {
  Play("Nobody");
  Play("Nobody", 2);
  EXPECT_EQ(events_, (std::vector<std::string>{"joined Server1:Nobody", "joined Server2:Nobody"}));
}

TEST_F(PlayerPresenceTest, ASecondLoginOnTheConnectionReplacesTheFirst) {
  const std::size_t slot = Play("Ada");
  clock_.Advance(1s);  // past the login rate's second
  LogIn(slot, "Bo");
  EXPECT_EQ(events_, (std::vector<std::string>{"joined Server1:Ada", "left Server1:Ada",
                                               "joined Server1:Bo"}));
  EXPECT_EQ(roster_.Count(), 1u);
}

TEST_F(PlayerPresenceTest, AConnectionThatNeverLoggedInIsNoPlayer) {
  const std::size_t stranger = Connect();
  ASSERT_TRUE(Handshake(stranger));
  Leave(stranger);
  EXPECT_TRUE(events_.empty());
  clock_.Advance(1h);
  EXPECT_EQ(ended_, 0) << "a map that never had a player waits for its first";
}

TEST_F(PlayerPresenceTest, TheMapEndsOnceItsLastPlayerHasBeenGoneTheWholeWait) {
  const std::size_t ada = Play("Ada");
  const std::size_t bo = Play("Bo", 2);
  Leave(ada);
  clock_.Advance(1h);
  EXPECT_EQ(ended_, 0) << "one player is still on the map";
  Leave(bo);
  clock_.Advance(30s - 1ms);
  EXPECT_EQ(ended_, 0);
  clock_.Advance(1ms);
  EXPECT_EQ(ended_, 1);
}

TEST_F(PlayerPresenceTest, ALoginDuringTheWaitKeepsTheMapButAStrangerDoesNot) {
  Leave(Play("Ada"));
  clock_.Advance(20s);
  const std::size_t bo = Play("Bo", 2);
  clock_.Advance(1h);
  EXPECT_EQ(ended_, 0);

  Leave(bo);
  clock_.Advance(10s);
  const std::size_t stranger = Connect(3);
  ASSERT_TRUE(Handshake(stranger));
  clock_.Advance(20s);
  EXPECT_EQ(ended_, 1) << "the wait counts from the last player's departure";
}

}  // namespace
}  // namespace quorvane::testing
