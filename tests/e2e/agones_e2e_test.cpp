// The real server talking to a stand-in for the Agones SDK sidecar on
// loopback: ready once the game port listens and never without it, health
// pings at their interval while the event loop turns and none while it is
// stopped, the players' list on login and departure, the shutdown after
// --exit-when-empty and after SIGTERM, and a sidecar that starts late or
// answers 500 retried while the players' pings go on undelayed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "e2e_fixture.h"
#include "fake_agones_sdk.h"

namespace quorvane::testing {
namespace {

const std::string kAdd = "/v1beta1/lists/players:addValue";
const std::string kRemove = "/v1beta1/lists/players:removeValue";

// A port nothing listens on right now, for the server to take.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The fixture's helpers, each server started by the test itself.
class AgonesTest : public ServerTest {
 protected:
  void SetUp() override {}

  // The server on `port` with the sidecar's port in its environment, as
  // Agones starts it.
  std::unique_ptr<ChildProcess> Start(std::uint16_t port, std::vector<std::string> extra = {}) {
    ChildProcess::Options options;
    options.arguments = {QUORVANE_PROGRAM, "--headless",         "--listen",  "127.0.0.1",
                         "--port",         std::to_string(port), "--tick-ms", "3600000"};
    options.arguments.insert(options.arguments.end(), extra.begin(), extra.end());
    options.environment = {{"AGONES_SDK_HTTP_PORT", std::to_string(sidecar_->port())}};
    return std::make_unique<ChildProcess>(options);
  }

  std::unique_ptr<ChildProcess> StartListening(std::vector<std::string> extra = {}) {
    port_ = FreePort();
    auto server = Start(port_, std::move(extra));
    EXPECT_TRUE(server->WaitForStderrLine("listening on 127.0.0.1:" + std::to_string(port_), 10s));
    return server;
  }

  std::unique_ptr<SyncClient> Player(const std::string& name, std::uint32_t seed) {
    auto player = std::make_unique<SyncClient>("127.0.0.1", port_, seed);
    EXPECT_TRUE(player->Handshake());
    player->Send(opcode::kLogin, NameBlock(name));
    while (const std::optional<Packet> packet = player->NextPacket()) {
      if (packet->opcode == opcode::kChatLine) return player;
    }
    ADD_FAILURE() << "no welcome line for " << name;
    return player;
  }

  std::unique_ptr<FakeAgonesSdk> sidecar_ = std::make_unique<FakeAgonesSdk>();
  std::uint16_t port_ = 0;
};

TEST_F(AgonesTest, ReadyComesOnceTheGamePortListens) {
  const std::uint16_t port = FreePort();
  sidecar_->ProbeOnEachCall(port);
  const auto server = Start(port);
  ASSERT_TRUE(sidecar_->WaitForCalls("/ready", 1, 10s));
  const auto ready = sidecar_->CallsTo("/ready");
  EXPECT_TRUE(ready[0].probeListened) << "ready before the game port listened";
  EXPECT_EQ(ready[0].method, "POST");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(sidecar_->CallsTo("/ready").size(), 1u);
  EXPECT_TRUE(
      server->WaitForStderrLine("agones sdk on 127.0.0.1:" + std::to_string(sidecar_->port()), 1s));
}

TEST_F(AgonesTest, NoReadyWhenTheGamePortCannotBeBound) {
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &size);
  const auto server = Start(ntohs(address.sin_port));
  const std::optional<int> status = server->WaitForExit(10s);
  ::close(holder);
  ASSERT_TRUE(status) << "the server went on without its port";
  EXPECT_EQ(*status, 1);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(sidecar_->CallsTo("/ready").empty());
}

TEST_F(AgonesTest, HealthPingsComeAtTheIntervalWhileTheLoopTurnsAndNoneWhileItIsStopped) {
  const auto server = StartListening();
  ASSERT_TRUE(sidecar_->WaitForCalls("/health", 4, 15s));
  const auto pings = sidecar_->CallsTo("/health");
  for (std::size_t i = 1; i < pings.size(); ++i) {
    const auto gap = pings[i].at - pings[i - 1].at;
    EXPECT_GE(gap, 1500ms) << "ping " << i;
    EXPECT_LE(gap, 4000ms) << "ping " << i;
  }

  ASSERT_EQ(::kill(server->pid(), SIGSTOP), 0);
  const auto stopped = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(6s);
  const auto resumed = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(server->pid(), SIGCONT), 0);
  for (const auto& ping : sidecar_->CallsTo("/health")) {
    // A request written just before the stop may still arrive.
    EXPECT_FALSE(ping.at > stopped + 200ms && ping.at < resumed) << "a ping from a stopped loop";
  }
  const std::size_t before = sidecar_->CallsTo("/health").size();
  EXPECT_TRUE(sidecar_->WaitForCalls("/health", before + 1, 5s)) << "no ping after SIGCONT";
}

TEST_F(AgonesTest, PlayersJoinAndLeaveTheListAndTheEmptyMapShutsDown) {
  const auto server = StartListening({"--exit-when-empty", "1"});
  ASSERT_TRUE(sidecar_->WaitForCalls("/ready", 1, 5s));
  auto ada = Player("Ada", 1);
  auto bo = Player("Bo", 2);
  ASSERT_TRUE(sidecar_->WaitForCalls(kAdd, 2, 5s));
  EXPECT_EQ(sidecar_->CallsTo(kAdd)[0].body, R"({"value":"Server1:Ada"})");
  EXPECT_EQ(sidecar_->CallsTo(kAdd)[1].body, R"({"value":"Server2:Bo"})");

  ada.reset();
  ASSERT_TRUE(sidecar_->WaitForCalls(kRemove, 1, 5s));
  EXPECT_EQ(sidecar_->CallsTo(kRemove)[0].body, R"({"value":"Server1:Ada"})");
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(sidecar_->CallsTo("/shutdown").empty()) << "Bo is still on the map";

  bo.reset();
  const auto left = std::chrono::steady_clock::now();
  ASSERT_TRUE(sidecar_->WaitForCalls("/shutdown", 1, 10s));
  EXPECT_GE(sidecar_->CallsTo("/shutdown")[0].at - left, 900ms);
  EXPECT_EQ(server->WaitForExit(10s), 0);
  EXPECT_TRUE(server->WaitForStderrLine("the map has been empty for 1 s: shutting down", 1s));
  const auto calls = sidecar_->Calls();
  const auto last = std::find_if(calls.rbegin(), calls.rend(),
                                 [](const auto& call) { return call.path != "/health"; });
  EXPECT_EQ(last->path, "/shutdown");
  EXPECT_EQ(sidecar_->CallsTo(kRemove).size(), 2u);
}

TEST_F(AgonesTest, SigtermTellsTheSidecarBeforeTheServerEnds) {
  const auto server = StartListening();
  ASSERT_TRUE(sidecar_->WaitForCalls("/ready", 1, 5s));
  EXPECT_EQ(server->Signal(SIGTERM, 10s), 0);
  EXPECT_EQ(sidecar_->CallsTo("/shutdown").size(), 1u);
}

TEST_F(AgonesTest, ASidecarAwayDoesNotKeepTheServerFromEnding) {
  sidecar_ = std::make_unique<FakeAgonesSdk>(false);
  const auto server = StartListening();
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(server->Signal(SIGTERM, 10s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 6s);
}

// A sidecar not up yet, or not well, gets the calls once it is, and the
// players' pings meanwhile are answered as ever.
TEST_F(AgonesTest, ASidecarThatStartsLateOrAnswers500IsRetriedWhilePlayersPlay) {
  for (const bool late : {true, false}) {
    SCOPED_TRACE(late ? "starts late" : "answers 500");
    sidecar_ = std::make_unique<FakeAgonesSdk>(!late);
    if (!late) sidecar_->AnswerWith(500);
    const auto server = StartListening();
    auto ada = Player("Ada", 1);
    auto slowest = 0ms;
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (std::chrono::steady_clock::now() < until) {
      const auto sent = std::chrono::steady_clock::now();
      UntilPong(*ada);
      slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - sent));
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_LT(slowest, 500ms) << "the slowest ping while the sidecar was away";
    if (late) {
      EXPECT_TRUE(sidecar_->Calls().empty());
      sidecar_->Listen();
    } else {
      EXPECT_GE(sidecar_->CallsTo("/ready").size(), 3u) << "not retried";
      EXPECT_TRUE(sidecar_->CallsTo(kAdd).empty()) << "a player before the map was ready";
      sidecar_->AnswerWith(200);
    }
    const std::size_t tries = sidecar_->CallsTo("/ready").size();
    ASSERT_TRUE(sidecar_->WaitForCalls("/ready", tries + 1, 10s));
    ASSERT_TRUE(sidecar_->WaitForCalls(kAdd, 1, 5s));
    EXPECT_EQ(sidecar_->CallsTo(kAdd).back().body, R"({"value":"Server1:Ada"})");
  }
}

}  // namespace
}  // namespace quorvane::testing
