// The client of the Agones SDK sidecar against a stand-in on loopback: the
// calls in order with their bodies, retries of a sidecar that is not up yet or
// answers 5xx, a refusal that is not retried, the report of a sidecar that
// stays away, the bounded shutdown, and an event loop that keeps turning all
// the while.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <string>
#include <vector>

#include "fake_agones_sdk.h"
#include "platform/agones/agones_port.h"
#include "platform/agones/agones_sdk.h"
#include "spin.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

const std::string kAdd = "/v1beta1/lists/players:addValue";
const std::string kRemove = "/v1beta1/lists/players:removeValue";

// Short enough for a test; the shape of the product's timing.
AgonesSdk::Timing QuickTiming() {
  return {.health = 300ms,
          .callTimeout = 1000ms,
          .firstRetry = 20ms,
          .longestRetry = 200ms,
          .reportAfter = 400ms};
}

std::vector<std::string> Paths(const std::vector<FakeAgonesSdk::Call>& calls) {
  std::vector<std::string> paths;
  for (const auto& call : calls) {
    if (call.path != "/health") paths.push_back(call.path);
  }
  return paths;
}

class AgonesSdkTest : public ::testing::Test {
 protected:
  explicit AgonesSdkTest(bool listening = true) : sidecar_(listening) {}

  AgonesSdk& Sdk() {
    if (!sdk_) {
      sdk_ = std::make_unique<AgonesSdk>(
          sidecar_.port(),
          [this](const Diagnostic& d) {
            reports_.push_back(std::string(1, static_cast<char>(d.severity)) + " " +
                               std::string(d.subject) + ": " + std::string(d.message));
          },
          QuickTiming());
    }
    return *sdk_;
  }

  // Spins until `done`, noting the longest time the loop did not turn.
  bool SpinWatchingTheLoop(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer since;
    since.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestStall_ = std::max<qint64>(longestStall_, since.restart()); });
    tick.start(5);
    return SpinUntil(done, timeout);
  }

  FakeAgonesSdk sidecar_;
  std::vector<std::string> reports_;
  std::unique_ptr<AgonesSdk> sdk_;
  qint64 longestStall_ = 0;
};

TEST_F(AgonesSdkTest, CallsGoOutInTheOrderMadeWithTheirBodies) {
  bool done = false;
  Sdk().Ready();
  Sdk().AddPlayer("Server1:Ada");
  Sdk().AddPlayer("Server2:\xC9mile");  // a Latin-1 login name
  Sdk().RemovePlayer("Server1:Ada");
  Sdk().Shutdown(5s, [&] { done = true; });
  ASSERT_TRUE(SpinUntil([&] { return done; }));
  const auto calls = sidecar_.Calls();
  EXPECT_EQ(Paths(calls), (std::vector<std::string>{"/ready", kAdd, kAdd, kRemove, "/shutdown"}));
  for (const auto& call : calls) EXPECT_EQ(call.method, "POST") << call.path;
  const auto adds = sidecar_.CallsTo(kAdd);
  EXPECT_EQ(adds[0].body, R"({"value":"Server1:Ada"})");
  EXPECT_EQ(adds[1].body, "{\"value\":\"Server2:\xC3\x89mile\"}") << "UTF-8 in the JSON";
  EXPECT_EQ(sidecar_.CallsTo("/ready")[0].body, "{}");
  EXPECT_TRUE(reports_.empty()) << reports_.front();
}

TEST_F(AgonesSdkTest, HealthPingsComeAtTheIntervalAndStopAtShutdown) {
  Sdk().StartHealth();
  ASSERT_TRUE(SpinUntil([&] { return sidecar_.CallsTo("/health").size() >= 5; }));
  const auto pings = sidecar_.CallsTo("/health");
  for (std::size_t i = 1; i < pings.size(); ++i) {
    // Half the interval: a ping the busy machine delayed lets the next one seem early.
    EXPECT_GE(pings[i].at - pings[i - 1].at, 150ms) << "ping " << i << " came early";
  }
  bool done = false;
  Sdk().Shutdown(5s, [&] { done = true; });
  ASSERT_TRUE(SpinUntil([&] { return done; }));
  const std::size_t after = sidecar_.CallsTo("/health").size();
  SpinFor(500ms);
  EXPECT_EQ(sidecar_.CallsTo("/health").size(), after);
}

TEST_F(AgonesSdkTest, AnAnswerOf500IsRetriedAndTheCallsBehindItWait) {
  sidecar_.AnswerWith(500);
  Sdk().Ready();
  Sdk().AddPlayer("Server1:Ada");
  ASSERT_TRUE(SpinUntil([&] { return sidecar_.CallsTo("/ready").size() >= 3; }));
  EXPECT_TRUE(sidecar_.CallsTo(kAdd).empty()) << "a player before the map is ready";
  sidecar_.AnswerWith(200);
  ASSERT_TRUE(SpinUntil([&] { return sidecar_.CallsTo(kAdd).size() == 1; }));
  SpinFor(300ms);
  EXPECT_EQ(sidecar_.CallsTo(kAdd).size(), 1u) << "a call taken is not sent again";
}

TEST_F(AgonesSdkTest, ARefusalIsReportedAndNotRetried) {
  sidecar_.AnswerWith(404);  // a GameServer without the players list
  Sdk().AddPlayer("Server1:Ada");
  ASSERT_TRUE(SpinUntil([&] { return !reports_.empty(); }));
  sidecar_.AnswerWith(200);
  Sdk().RemovePlayer("Server1:Ada");
  ASSERT_TRUE(SpinUntil([&] { return sidecar_.CallsTo(kRemove).size() == 1; }));
  EXPECT_EQ(sidecar_.CallsTo(kAdd).size(), 1u);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].rfind("W agones 127.0.0.1:" + std::to_string(sidecar_.port()) + ": POST " +
                                  kAdd + " refused, answered 404: {}",
                              0),
            0u)
      << reports_[0];
}

class LateSidecarTest : public AgonesSdkTest {
 protected:
  LateSidecarTest() : AgonesSdkTest(false) {}
};

TEST_F(LateSidecarTest, ASidecarThatStartsLateGetsTheCallsAndTheLoopNeverWaits) {
  Sdk().StartHealth();
  Sdk().Ready();
  SpinWatchingTheLoop([] { return false; }, 300ms);
  EXPECT_TRUE(reports_.empty()) << "reported before it had been away long";
  sidecar_.Listen();
  ASSERT_TRUE(SpinWatchingTheLoop([&] { return sidecar_.CallsTo("/ready").size() == 1; }, 5s));
  EXPECT_LT(longestStall_, 500) << "ms the event loop did not turn";
}

TEST_F(LateSidecarTest, ASidecarThatStaysAwayIsReportedOnceAndAnsweringAgain) {
  Sdk().StartHealth();
  Sdk().Ready();
  ASSERT_TRUE(SpinUntil([&] { return !reports_.empty(); }));
  SpinFor(800ms);
  ASSERT_EQ(reports_.size(), 1u) << reports_.back();
  EXPECT_EQ(reports_[0].rfind("W agones 127.0.0.1:" + std::to_string(sidecar_.port()) +
                                  ": no answer for 0.4 s (POST /",
                              0),
            0u)
      << reports_[0];
  EXPECT_NE(reports_[0].find("still trying, the game goes on"), std::string::npos) << reports_[0];
  sidecar_.Listen();
  ASSERT_TRUE(SpinUntil([&] { return reports_.size() == 2; }));
  EXPECT_EQ(reports_[1],
            "I agones 127.0.0.1:" + std::to_string(sidecar_.port()) + ": answering again");
}

// A sidecar that takes the connection and never answers: every call ends at
// its timeout, the loop turns meanwhile, and the shutdown keeps its bound.
TEST_F(AgonesSdkTest, ASidecarThatNeverAnswersHoldsNothingUp) {
  sidecar_.Hang();
  Sdk().StartHealth();
  Sdk().Ready();
  ASSERT_TRUE(SpinWatchingTheLoop([&] { return sidecar_.CallsTo("/ready").size() >= 2; }, 10s))
      << "the call that timed out was not sent again";
  QElapsedTimer took;
  took.start();
  bool done = false;
  Sdk().Shutdown(300ms, [&] { done = true; });
  ASSERT_TRUE(SpinWatchingTheLoop([&] { return done; }, 5s));
  EXPECT_GE(took.elapsed(), 250);
  EXPECT_LT(took.elapsed(), 900) << "ms; the call timeout is 1000";
  EXPECT_LT(longestStall_, 500) << "ms the event loop did not turn; a call waits up to 1000";
}

TEST(AgonesPortTest, TheOptionWinsOverTheVariableAndZeroIsOff) {
  struct Case {
    std::optional<std::uint16_t> option;
    const char* variable;
    std::optional<std::uint16_t> port;
    bool error;
  };
  for (const Case& c :
       {Case{std::nullopt, nullptr, std::nullopt, false},
        Case{std::nullopt, "", std::nullopt, false}, Case{std::nullopt, "9358", 9358, false},
        Case{std::nullopt, " 9358 ", 9358, false}, Case{std::nullopt, "0", std::nullopt, true},
        Case{std::nullopt, "70000", std::nullopt, true},
        Case{std::nullopt, "http", std::nullopt, true}, Case{9400, "9358", 9400, false},
        Case{0, "9358", std::nullopt, false}}) {
    SCOPED_TRACE(c.variable == nullptr ? "unset" : c.variable);
    const AgonesPort chosen = ChooseAgonesPort(c.option, c.variable);
    EXPECT_EQ(chosen.port, c.port);
    EXPECT_EQ(!chosen.error.isEmpty(), c.error) << chosen.error.toStdString();
  }
}

}  // namespace
}  // namespace quorvane::testing
