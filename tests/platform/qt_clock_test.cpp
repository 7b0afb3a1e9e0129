// The host's timers on Qt's event loop.
#include "platform/loop/qt_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::SpinFor;
using testing::SpinUntil;

TEST(QtClockTest, OneShotTimerFiresOnceAfterItsIntervalAndAgainOnlyWhenRestarted) {
  QtClock clock;
  int fired = 0;
  const auto timer = clock.CreateTimer(TimerKind::kOneShot, "a deadline", [&] { ++fired; });
  SpinFor(50ms);
  EXPECT_EQ(fired, 0) << "created stopped";

  const Clock::TimePoint started = clock.Now();
  timer->Start(30ms);
  ASSERT_TRUE(SpinUntil([&] { return fired == 1; }));
  // Qt's coarse timers may fire up to 5 % early.
  EXPECT_GE(clock.Now() - started, 28ms);
  SpinFor(100ms);
  EXPECT_EQ(fired, 1);

  timer->Start(10ms);
  EXPECT_TRUE(SpinUntil([&] { return fired == 2; }));
}

TEST(QtClockTest, PeriodicTimerFiresUntilStopped) {
  QtClock clock;
  int fired = 0;
  const auto timer = clock.CreateTimer(TimerKind::kPeriodic, "a tick", [&] { ++fired; });
  timer->Start(5ms);
  ASSERT_TRUE(SpinUntil([&] { return fired >= 3; }));
  timer->Stop();
  const int atStop = fired;
  SpinFor(100ms);
  EXPECT_EQ(fired, atStop);
}

TEST(QtClockTest, FailureEscapingAHandlerIsReportedWithThePurposeAndTheTimerGoesOn) {
  QtClock clock;
  int fired = 0;
  const auto timer = clock.CreateTimer(TimerKind::kPeriodic, "the NPC timer", [&] {
    if (++fired == 1) throw std::runtime_error("no table");
  });
  ::testing::internal::CaptureStderr();
  timer->Start(5ms);
  const bool first = SpinUntil([&] { return fired >= 1; });
  const std::string report = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(first);
  EXPECT_TRUE(report.ends_with("Z E the NPC timer failed: no table\n")) << report;
  EXPECT_TRUE(SpinUntil([&] { return fired >= 2; }));
}

}  // namespace
}  // namespace quorvane
