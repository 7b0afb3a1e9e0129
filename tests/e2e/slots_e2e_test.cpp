// Slot assignment over real TCP: the log lines, the third client refused, a
// freed slot taken again.
#include <thread>

#include "e2e_fixture.h"

namespace quorvane::testing {
namespace {

const std::string kToServer1 = "Connected client to Server1";
const std::string kToServer2 = "Connected client to Server2";
const std::string kRefused = "Cannot connect more than 2 clients";

// These tests open a few dozen connections from 127.0.0.1 within seconds,
// more than the automatic ban lets one address open.
class SlotsTest : public ServerTest {
 protected:
  SlotsTest() { settings_.extraArguments = {"--autoban", "off"}; }
};

TEST_F(SlotsTest, ClientsLandInSlotOneThenTwoAndTheLogSaysSo) {
  auto first = Join(1);
  ASSERT_TRUE(server().WaitForLogCount(kToServer1, 1));
  auto second = Join(2);
  ASSERT_TRUE(server().WaitForLogCount(kToServer2, 1));
  EXPECT_EQ(server().LogLines(), (std::vector<std::string>{kToServer1, kToServer2}));
}

TEST_F(SlotsTest, ThirdClientIsRefusedAndDisconnectedWhileTheOthersGoOn) {
  auto first = Join(1);
  auto second = Join(2);
  auto third = Connect(3);
  EXPECT_TRUE(third->WaitClosed());
  EXPECT_FALSE(third->Handshake(200ms));
  ASSERT_TRUE(server().WaitForLogCount(kRefused, 1));
  EXPECT_EQ(server().LogLines(), (std::vector<std::string>{kToServer1, kToServer2, kRefused}));
  EXPECT_TRUE(UntilPong(*first).empty());
  EXPECT_TRUE(UntilPong(*second).empty());
}

TEST_F(SlotsTest, RefusalsPileNothingUp) {
  auto first = Join(1);
  auto second = Join(2);
  for (std::uint32_t seed = 10; seed < 30; ++seed) EXPECT_TRUE(Connect(seed)->WaitClosed());
  EXPECT_TRUE(server().WaitForLogCount(kRefused, 20));
  EXPECT_TRUE(UntilPong(*first).empty());
}

// The server sees a departure when it next reads that socket; a newcomer
// that comes before is refused, so this tries again for a bounded time.
client::TcpConnection ConnectUntilAccepted(ServerProcess& server) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const std::size_t logged = server.LogLines().size();
    auto connection = client::TcpConnection::Connect("127.0.0.1", server.port(), 5s);
    for (int wait = 0; wait < 200 && server.LogLines().size() == logged; ++wait) {
      std::this_thread::sleep_for(10ms);
    }
    if (server.LogLines().back() != kRefused) return connection;
    std::this_thread::sleep_for(50ms);
  }
  throw std::runtime_error("no slot came free");
}

TEST_F(SlotsTest, NextClientAfterSlotOneLeavesLandsThereAndMustDoItsOwnHandshake) {
  auto first = Join(1);
  auto second = Join(2);
  UntilPong(*first);
  // What the departed client would have sent next on its cipher state.
  const Bytes staleBytes = first->session().Seal(kPing, {});
  first.reset();

  client::TcpConnection newcomer = ConnectUntilAccepted(server());
  EXPECT_EQ(server().LogLines().back(), kToServer1);

  // The slot waits for a hello: the old client's state is of no use.
  newcomer.SendAll(staleBytes);
  Bytes arrived;
  EXPECT_EQ(newcomer.ReadSome(arrived, 300ms), client::TcpConnection::ReadStatus::kTimeout);

  client::ClientSession session(0x5EED);
  newcomer.SendAll(session.Hello());
  while (session.phase() == client::ClientSession::Phase::kAwaitingReply &&
         newcomer.ReadSome(arrived, 5s) == client::TcpConnection::ReadStatus::kData) {
    session.Receive(arrived);
    arrived.clear();
  }
  ASSERT_EQ(session.phase(), client::ClientSession::Phase::kOpen);
  newcomer.SendAll(session.Seal(kPing, {}));
  ASSERT_EQ(newcomer.ReadSome(arrived, 5s), client::TcpConnection::ReadStatus::kData);
  EXPECT_EQ(session.Receive(arrived), (std::vector<Packet>{{kPong, {0x00}}}));
  EXPECT_TRUE(UntilPong(*second).empty());
}

}  // namespace
}  // namespace quorvane::testing
