// The bound on lines per source and interval, on explicit time points.
#include "platform/output/message_flood.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using TimePoint = MessageFlood::TimePoint;

const TimePoint kStart{};

int Admitted(MessageFlood& flood, const std::string& source, TimePoint now, int tries) {
  int admitted = 0;
  for (int i = 0; i < tries; ++i) admitted += flood.Admit(source, now) ? 1 : 0;
  return admitted;
}

TEST(MessageFloodTest, AFloodWritesTheFirstFewLinesAndCountsTheRest) {
  MessageFlood flood;
  EXPECT_EQ(Admitted(flood, "qt.httpserver", kStart, 1000),
            static_cast<int>(MessageFlood::kLinesPerInterval));
  EXPECT_TRUE(flood.Holding());
  EXPECT_TRUE(flood.TakeEnded(kStart + 999ms).empty()) << "the interval is still on";

  const auto ended = flood.TakeEnded(kStart + 1s);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].source, "qt.httpserver");
  EXPECT_EQ(ended[0].count, 1000 - MessageFlood::kLinesPerInterval);
  EXPECT_FALSE(flood.Holding());
  EXPECT_TRUE(flood.TakeEnded(kStart + 2s).empty()) << "told once";
}

TEST(MessageFloodTest, EachSourceHasItsOwnBoundAndANewIntervalStartsAfresh) {
  MessageFlood flood;
  Admitted(flood, "qt.network", kStart, 10);
  EXPECT_TRUE(flood.Admit("qt", kStart)) << "another source";
  flood.TakeEnded(kStart + 1500ms);
  EXPECT_EQ(Admitted(flood, "qt.network", kStart + 1500ms, 10),
            static_cast<int>(MessageFlood::kLinesPerInterval));
}

TEST(MessageFloodTest, ALineNowAndThenIsNeverHeld) {
  MessageFlood flood;
  for (int second = 0; second < 20; ++second) {
    const TimePoint now = kStart + std::chrono::seconds(second);
    EXPECT_TRUE(flood.TakeEnded(now).empty());
    EXPECT_TRUE(flood.Admit("qt", now));
  }
  EXPECT_FALSE(flood.Holding());
}

}  // namespace
}  // namespace quorvane
