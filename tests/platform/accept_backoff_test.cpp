// The listener's pauses while accepting fails, on a clock the test moves.
#include "platform/net/accept_backoff.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_clock.h"
#include "report_log.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakeClock;
using testing::ReportLog;

class AcceptBackoffTest : public ::testing::Test {
 protected:
  // One failed accept that closed one waiting connection.
  void FailAtEachRetry() { backoff_.Failed("127.0.0.1:4000", "Too many open files (EMFILE)", 1); }

  FakeClock clock_;
  ReportLog log_;
  int retries_ = 0;
  bool descriptorsFree_ = false;
  AcceptBackoff backoff_{clock_, log_.Sink(), [this] {
                           ++retries_;
                           return descriptorsFree_;
                         }};
};

TEST_F(AcceptBackoffTest, EachFailureWaitsLongerUpToTheLongestPause) {
  std::vector<std::chrono::milliseconds> pauses;
  for (int i = 0; i < 7; ++i) {
    FailAtEachRetry();
    pauses.push_back(backoff_.Pause());
    clock_.Advance(backoff_.Pause() - 1ms);
    EXPECT_EQ(retries_, i) << "no retry before the pause is over";
    clock_.Advance(1ms);
    EXPECT_EQ(retries_, i + 1);
  }
  const std::vector<std::chrono::milliseconds> expected{20ms,  40ms,  80ms, 160ms,
                                                        320ms, 320ms, 320ms};
  EXPECT_EQ(pauses, expected);
  EXPECT_TRUE(backoff_.Failing());
  ASSERT_EQ(log_.lines.size(), 1u) << "one line as the episode begins";
  EXPECT_EQ(log_.lines[0],
            "E 127.0.0.1:4000: cannot accept connections: Too many open files (EMFILE); trying "
            "again after growing pauses");
}

TEST_F(AcceptBackoffTest, ARetryThatFindsDescriptorsFreeEndsTheEpisodeWithItsCount) {
  for (int i = 0; i < 3; ++i) {
    FailAtEachRetry();
    clock_.Advance(backoff_.Pause());
  }
  FailAtEachRetry();
  descriptorsFree_ = true;
  clock_.Advance(backoff_.Pause());
  EXPECT_FALSE(backoff_.Failing());
  ASSERT_EQ(log_.lines.size(), 2u);
  EXPECT_EQ(log_.lines[1],
            "I 127.0.0.1:4000: accepting again after 4 failed attempts in 0.3 s; 4 waiting "
            "connections closed unserved");

  // A later shortage is an episode of its own, from the first pause.
  descriptorsFree_ = false;
  FailAtEachRetry();
  EXPECT_EQ(backoff_.Pause(), AcceptBackoff::kFirstPause);
  EXPECT_EQ(log_.lines.size(), 3u);
}

TEST_F(AcceptBackoffTest, AnAcceptedConnectionEndsTheEpisodeAndNoRetryFollows) {
  backoff_.Accepted();
  EXPECT_TRUE(log_.lines.empty()) << "no episode, nothing to tell";
  FailAtEachRetry();
  clock_.Advance(backoff_.Pause());
  backoff_.Accepted();
  EXPECT_FALSE(backoff_.Failing());
  EXPECT_EQ(log_.lines.size(), 2u);
  const int retried = retries_;
  clock_.Advance(1s);
  EXPECT_EQ(retries_, retried);
}

}  // namespace
}  // namespace quorvane
