// The relay token buckets on times the test sets: the burst, the steady rate,
// packets larger than a bucket, and limits turned off.
#include "host/relay_budget.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using TimePoint = RelayBudget::TimePoint;

const TimePoint kStart{};

// How many packets of `bytes` pass at `at`, trying until one is refused.
int Passing(RelayBudget& budget, std::size_t bytes, TimePoint at, int most = 100000) {
  int passed = 0;
  while (passed < most && budget.Take(bytes, at)) ++passed;
  return passed;
}

TEST(RelayBudgetTest, PacketsPassInABurstOfTwoSecondsThenAtTheRate) {
  RelayBudget budget({.packetsPerSecond = 200, .bytesPerSecond = 0});
  budget.Refill(kStart);
  EXPECT_EQ(Passing(budget, 10, kStart), 400);
  EXPECT_EQ(Passing(budget, 10, kStart + 1s), 200);
  EXPECT_EQ(Passing(budget, 10, kStart + 1s + 5ms), 1);
  // A long quiet spell fills the bucket, no further.
  EXPECT_EQ(Passing(budget, 10, kStart + 1h), 400);
}

TEST(RelayBudgetTest, BytesPassInABurstOfTwoSecondsThenAtTheRate) {
  RelayBudget budget({.packetsPerSecond = 0, .bytesPerSecond = 256 * 1024});
  budget.Refill(kStart);
  // 7 × 65,543 bytes fit in 512 KiB, an eighth does not.
  EXPECT_EQ(Passing(budget, 65543, kStart), 7);
  EXPECT_EQ(Passing(budget, 65543, kStart + 1s), 4);
}

TEST(RelayBudgetTest, PacketLargerThanTheBucketPassesWhenItIsFullAndLeavesItInDebt) {
  RelayBudget budget({.packetsPerSecond = 0, .bytesPerSecond = 1000});
  budget.Refill(kStart);
  EXPECT_TRUE(budget.Take(5000, kStart));
  // 3000 bytes of debt and 2000 to fill the bucket take five seconds.
  EXPECT_FALSE(budget.Take(5000, kStart + 5s - 1ms));
  EXPECT_TRUE(budget.Take(5000, kStart + 5s));
}

TEST(RelayBudgetTest, ARefusedPacketTakesNothingFromEitherBucket) {
  RelayBudget budget({.packetsPerSecond = 10, .bytesPerSecond = 100});
  budget.Refill(kStart);
  EXPECT_TRUE(budget.Take(150, kStart));
  EXPECT_FALSE(budget.Take(100, kStart));  // 50 bytes left
  // Packets were not spent on the refusals: 19 small ones still pass.
  EXPECT_EQ(Passing(budget, 1, kStart), 19);
}

TEST(RelayBudgetTest, RefillGivesANewConnectionFullBuckets) {
  RelayBudget budget({.packetsPerSecond = 200, .bytesPerSecond = 256 * 1024});
  budget.Refill(kStart);
  EXPECT_EQ(Passing(budget, 100, kStart), 400);
  budget.Refill(kStart + 10ms);
  EXPECT_EQ(Passing(budget, 100, kStart + 10ms), 400);
}

TEST(RelayBudgetTest, ZeroRatesLimitNothing) {
  RelayBudget budget({.packetsPerSecond = 0, .bytesPerSecond = 0});
  budget.Refill(kStart);
  EXPECT_EQ(Passing(budget, 65543, kStart), 100000);
}

}  // namespace
}  // namespace quorvane
