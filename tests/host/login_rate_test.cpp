// The host's limit on logins per connection: within any one second at most
// --login-rate of them are handled; the rest are opened (so the client's
// packets stay in sequence) and dropped.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fake_clock.h"
#include "fake_socket.h"
#include "host/form1.h"
#include "host/login_rate_limit.h"
#include "host_fakes.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"
#include "report_log.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::int16_t kLogin = 200;
constexpr std::int16_t kPing = 124;
constexpr std::int16_t kPong = 125;
constexpr std::int16_t kChatLine = 303;

TEST(LoginRateLimitTest, AdmitsAtMostTheRateWithinAnyOneSecond) {
  // Milliseconds since the start, and whether a login then is admitted.
  const std::vector<std::pair<int, bool>> steps = {
      {0, true},    {600, true},  {600, true},   {600, true},   {600, false},
      {999, false}, {1000, true}, {1000, false}, {1599, false}, {1600, true},
      {1600, true}, {1600, true}, {1600, false}, {2000, true},  {5000, true}};
  LoginRateLimit limit(4);
  const Clock::TimePoint start{};
  for (const auto& [at, admitted] : steps) {
    EXPECT_EQ(limit.Admit(start + std::chrono::milliseconds(at)), admitted) << "at " << at << " ms";
  }
  limit.Reset();
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(limit.Admit(start + 5000ms)) << i;
  EXPECT_FALSE(limit.Admit(start + 5000ms));
}

TEST(LoginRateLimitTest, ZeroIsNoLimit) {
  LoginRateLimit limit(0);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(limit.Admit(Clock::TimePoint{}));
}

class HostLoginRateTest : public ::testing::Test {
 protected:
  void Build(int loginRate) {
    HostSettings settings;
    settings.loginRate = loginRate;
    form_ = std::make_unique<Form1>(
        Form1::Controls{
            text_, listener_, {sockets_[0], sockets_[1]}, clock_, reports_.Sink(), &data_},
        LinkedApi(), generator_, settings);
  }

  // A new connection in the first slot, past its handshake.
  void Connect() {
    form_->Winsock1_ConnectionRequest(1);
    client_ = std::make_unique<ProtocolClient>(0xC0FFEE00u);
    sockets_[0].Deliver(client_->Hello());
    ASSERT_TRUE(client_->TakeReply(sockets_[0].TakeSent()));
  }

  // `logins` login packets and a ping in one arrival; how many logins were
  // handled (each ends in its welcome line), and whether the ping was
  // answered after them.
  std::size_t Logins(int logins) {
    Bytes arrival;
    for (int i = 0; i < logins; ++i) Append(arrival, client_->Seal(kLogin, Bytes(46, 0x41)));
    Append(arrival, client_->Seal(kPing, {}));
    sockets_[0].Deliver(arrival);
    const std::vector<Packet> packets = client_->Open(sockets_[0].TakeSent());
    EXPECT_FALSE(client_->Broken());
    EXPECT_EQ(packets.empty() ? 0 : packets.back().opcode, kPong) << "the ping after the logins";
    std::size_t welcomes = 0;
    for (const Packet& packet : packets) welcomes += packet.opcode == kChatLine ? 1 : 0;
    return welcomes;
  }

  MemoryDataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::array<FakeSocket, kSlotCount> sockets_;
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  ReportLog reports_;

  // The reports of dropped logins, leaving out the connection's life.
  std::vector<std::string> Drops() const {
    std::vector<std::string> drops;
    for (const std::string& line : reports_.lines) {
      if (line.find("dropping logins") != std::string::npos) drops.push_back(line);
    }
    return drops;
  }
  std::unique_ptr<Form1> form_;
  std::unique_ptr<ProtocolClient> client_;
};

TEST_F(HostLoginRateTest, LoginsPastTheRateAreDroppedAndThePacketsAfterThemServed) {
  Build(4);
  Connect();
  EXPECT_EQ(Logins(6), 4u);
  clock_.Advance(999ms);
  EXPECT_EQ(Logins(1), 0u);
  clock_.Advance(1ms);
  EXPECT_EQ(Logins(5), 4u);
  // One report for each run of dropped logins, not one per login.
  const std::string report = "W slot 1 127.0.0.1:40000: dropping logins: more than 4 a second";
  EXPECT_EQ(Drops(), (std::vector<std::string>{report, report}));
}

TEST_F(HostLoginRateTest, ANewConnectionStartsWithNoLoginsCounted) {
  Build(4);
  Connect();
  EXPECT_EQ(Logins(4), 4u);
  sockets_[0].Drop(CloseReason::kPeerClosed);
  Connect();
  EXPECT_EQ(Logins(4), 4u);
  EXPECT_TRUE(Drops().empty());
}

TEST_F(HostLoginRateTest, RateZeroHandlesEveryLogin) {
  Build(0);
  Connect();
  EXPECT_EQ(Logins(50), 50u);
  EXPECT_TRUE(Drops().empty());
}

}  // namespace
}  // namespace quorvane::testing
