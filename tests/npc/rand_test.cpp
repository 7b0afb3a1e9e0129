// Rand, and the step the mover draws from it, on the real generator with a
// fixed seed and a clock that never moves.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <set>

#include "npc_host.h"
#include "scripted_generator.h"

namespace quorvane::testing {
namespace {

constexpr std::uint64_t kSeed = 0x5EEDF00D;
constexpr std::uint64_t kFrozenClock = 1'700'000'000;

Generator::Clock FrozenClock() {
  return [] { return kFrozenClock; };
}

TEST(RandTest, TurnsUnitsIntoTheWholeRangeInclusive) {
  struct Case {
    float unit;
    std::int16_t low;
    std::int16_t high;
    std::int16_t expected;
  };
  constexpr float kLargestUnit = 1.0f - 0x1.0p-24f;
  const Case cases[] = {
      {0.0f, 10, 100, 10},
      {kLargestUnit, 10, 100, 100},
      {0.5f, 10, 100, 55},
      {0.0f, 1, 9, 1},
      {kLargestUnit, 1, 9, 9},
      {0.4999999f, 0, 1, 0},
      {0.5f, 0, 1, 1},
      {kLargestUnit, 0, 1, 1},
      {0.0f, -32768, 32767, -32768},
      {kLargestUnit, -32768, 32767, 32767},
  };
  for (const Case& c : cases) {
    ScriptedGenerator generator;
    NpcHost host(generator);
    generator.Queue({c.unit});
    EXPECT_EQ(host.form().Rand(c.low, c.high), c.expected)
        << c.unit << " in " << c.low << ".." << c.high;
  }
}

TEST(RandTest, ReseedsBeforeEveryDraw) {
  ScriptedGenerator generator;
  NpcHost host(generator);
  generator.Queue({0.1f, 0.2f, 0.3f});
  host.form().Rand(0, 1);
  host.form().Rand(1, 9);
  host.form().Rand(10, 100);
  EXPECT_EQ(generator.Calls(), "RDRDRD");
}

TEST(RandTest, CoversEachRangeWithAnUnchangedClockReading) {
  struct Range {
    std::int16_t low;
    std::int16_t high;
  };
  for (const Range range : {Range{10, 100}, Range{1, 9}, Range{0, 1}}) {
    SCOPED_TRACE(::testing::Message() << range.low << ".." << range.high);
    Generator generator(kSeed, FrozenClock());
    NpcHost host(generator);
    const int span = range.high - range.low + 1;
    std::set<std::int16_t> seen;
    for (int i = 0; i < 50 * span; ++i) {
      const std::int16_t value = host.form().Rand(range.low, range.high);
      ASSERT_GE(value, range.low);
      ASSERT_LE(value, range.high);
      seen.insert(value);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(span));
  }
}

// Each axis moves +1 with 1/4, -1 with 1/4 and stays with 1/2, so a step is
// silent with 1/4, straight with 1/8 per facing and diagonal with 1/16.
TEST(RandTest, MoverStepsReachAllNineOutcomesWithTheirOdds) {
  Generator generator(kSeed, FrozenClock());
  NpcHost host(generator);
  host.ConnectPlayer();
  for (int tick = 0; tick < 4; ++tick) host.Tick();
  ASSERT_FALSE(host.form().Npc(1).Name.empty());
  host.Received(0);

  constexpr int kTicks = 10000;
  constexpr int kSteps = 2 * kTicks;
  std::map<int, int> facings;  // new facing -> count
  for (int tick = 0; tick < kTicks; ++tick) host.Tick();
  for (const Packet& packet : host.Received(0)) {
    ASSERT_EQ(packet.opcode, 203);
    ASSERT_EQ(packet.payload.size(), 54u);
    ++facings[packet.payload[53]];
  }
  int moves = 0;
  for (const auto& [facing, count] : facings) moves += count;
  const int silent = kSteps - moves;

  const auto expectNear = [](int count, double expected, const char* what) {
    EXPECT_NEAR(count, expected, 0.15 * expected) << what;
  };
  expectNear(silent, kSteps / 4.0, "standing still");
  for (const int straight : {2, 4, 6, 8}) expectNear(facings[straight], kSteps / 8.0, "straight");
  for (const int diagonal : {1, 3, 7, 9}) expectNear(facings[diagonal], kSteps / 16.0, "diagonal");
  EXPECT_EQ(facings.count(5), 0u);
  EXPECT_EQ(facings.size(), 8u);
}

}  // namespace
}  // namespace quorvane::testing
