// What keeps one bad peer from holding a slot or the server's memory: the
// handshake deadline, keepalive, the bounded send queue and read buffer, and
// exceptions stopped at the boundary to Qt's event loop. The real server runs
// on the test's thread; its clients connect over loopback.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host_fakes.h"
#include "kelvane.hpp"
#include "loopback_client.h"
#include "platform/net/qt_listener.h"
#include "platform/net/qt_socket_control.h"
#include "platform/server/server.h"
#include "session/opcodes.h"
#include "spin.h"

namespace quorvane {
namespace {

using client::Packet;
using client::TcpConnection;
using testing::FakeTextBox;
using testing::LoopbackClient;
using testing::SpinFor;
using testing::SpinUntil;
using namespace std::chrono_literals;

using opcode::kChatLine;
using opcode::kPing;
using opcode::kPong;
using opcode::kSay;
const std::string kToServer1 = "Connected client to Server1\r\n";
const std::string kToServer2 = "Connected client to Server2\r\n";

constexpr auto kHandshakeTimeout = 200ms;

std::uint16_t PortOf(const QString& endpoint) {
  return static_cast<std::uint16_t>(endpoint.section(':', -1).toUInt());
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

std::uint16_t PeerPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

// The descriptor of this process's end of a loopback connection, found by its
// two ports; -1 when there is none.
int DescriptorOf(std::uint16_t localPort, std::uint16_t peerPort) {
  DIR* folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int found = -1;
  while (const dirent* entry = ::readdir(folder)) {
    const int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] == '.' || fd == ::dirfd(folder)) continue;
    if (LocalPort(fd) == localPort && PeerPort(fd) == peerPort) found = fd;
  }
  ::closedir(folder);
  return found;
}

// True once the peer has reset or closed the connection, without reading
// anything off it.
bool HungUp(const TcpConnection& connection) {
  pollfd waiter{connection.fd(), POLLRDHUP, 0};
  return ::poll(&waiter, 1, 0) > 0 && (waiter.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
}

std::size_t Occurrences(const std::string& text, const std::string& line) {
  std::size_t count = 0;
  for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
  return count;
}

// The real server on 127.0.0.1 with a short handshake timeout and no NPCs;
// `adjust` changes what a test needs besides.
class RunningServer {
 public:
  explicit RunningServer(const kelvane::Api& cipher,
                         const std::function<void(ServerOptions&)>& adjust = {}) {
    ServerOptions options;
    options.listen = {"127.0.0.1"};
    options.port = 0;
    options.tickMs = 3600 * 1000;
    options.handshakeTimeout = kHandshakeTimeout;
    if (adjust) adjust(options);
    server_ = std::make_unique<Server>(options, cipher, log_);
    server_->Start();
  }

  std::uint16_t port() const { return PortOf(server_->Endpoint()); }
  std::size_t Logged(const std::string& line) const { return Occurrences(log_.Text(), line); }
  // Waits until the log holds `count` copies of `line`.
  bool WaitLogged(const std::string& line, std::size_t count) {
    return SpinUntil([&] { return Logged(line) >= count; });
  }

 private:
  FakeTextBox log_;
  std::unique_ptr<Server> server_;
};

class ConnectionLimitsTest : public ::testing::Test {
 protected:
  // Pings and expects the answer as the next packet.
  static void ExpectPong(LoopbackClient& peer) {
    peer.Send(kPing, {});
    EXPECT_EQ(peer.NextPacket(), (Packet{kPong, {0x00}}));
  }

  // Pings and reads past whatever comes before the answer; false when none
  // came.
  static bool Pinged(LoopbackClient& peer) {
    peer.Send(kPing, {});
    while (const std::optional<Packet> packet = peer.NextPacket()) {
      if (packet->opcode == kPong) return true;
    }
    return false;
  }

  const kelvane::Library library_ = kelvane::Library::open(KELVANE_LIBRARY);
};

TEST_F(ConnectionLimitsTest, ConnectionWithoutAHandshakeIsClosedInTimeAndItsSlotServesTheNext) {
  const Bytes hello = client::ClientSession(7).Hello();
  struct Case {
    const char* name;
    Bytes sent;
  };
  const std::vector<Case> cases{
      {"silent", {}},
      {"half a hello", Bytes(hello.begin(), hello.begin() + 5)},
      {"no hello at all", Bytes(40, 0x55)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The next client comes from the same address as the one the deadline
    // closed: no penalty here.
    RunningServer server(library_.api(), [](ServerOptions& options) {
      options.admission.timeoutPenalty = std::chrono::milliseconds(0);
    });
    QElapsedTimer clock;
    clock.start();
    LoopbackClient idle(server.port(), 1);
    ASSERT_TRUE(server.WaitLogged(kToServer1, 1));
    if (!c.sent.empty()) idle.connection().SendAll(c.sent);

    EXPECT_TRUE(idle.WaitClosed(10 * kHandshakeTimeout));
    // Qt's coarse timers may fire up to 5 % early.
    EXPECT_GE(clock.elapsed(), kHandshakeTimeout.count() * 9 / 10);

    LoopbackClient next(server.port(), 2);
    ASSERT_TRUE(server.WaitLogged(kToServer1, 2));
    EXPECT_EQ(server.Logged(kToServer2), 0u);
    ASSERT_TRUE(next.Handshake());
    ExpectPong(next);
  }
}

TEST_F(ConnectionLimitsTest, QuietSessionPastItsHandshakeIsNeverClosed) {
  RunningServer server(library_.api());
  LoopbackClient quiet(server.port(), 1);
  ASSERT_TRUE(quiet.Handshake());
  EXPECT_FALSE(quiet.WaitClosed(5 * kHandshakeTimeout));

  // Slot 1 is still held: a newcomer that says nothing lands in slot 2 and
  // is the one that goes.
  LoopbackClient idle(server.port(), 2);
  ASSERT_TRUE(server.WaitLogged(kToServer2, 1));
  EXPECT_TRUE(idle.WaitClosed(10 * kHandshakeTimeout));
  EXPECT_FALSE(quiet.closed());
  ExpectPong(quiet);
}

TEST_F(ConnectionLimitsTest, AcceptedSocketProbesAVanishedPeerForAboutAMinuteAndSendsAtOnce) {
  RunningServer server(library_.api());
  TcpConnection peer = TcpConnection::Connect("127.0.0.1", server.port(), 5s);
  ASSERT_TRUE(server.WaitLogged(kToServer1, 1));
  const int accepted = DescriptorOf(server.port(), LocalPort(peer.fd()));
  ASSERT_GE(accepted, 0);

  struct Option {
    const char* name;
    int level;
    int option;
    int expected;
  };
  const std::vector<Option> options{
      {"SO_KEEPALIVE", SOL_SOCKET, SO_KEEPALIVE, 1},
      {"TCP_KEEPIDLE", IPPROTO_TCP, TCP_KEEPIDLE, 30},
      {"TCP_KEEPINTVL", IPPROTO_TCP, TCP_KEEPINTVL, 10},
      {"TCP_KEEPCNT", IPPROTO_TCP, TCP_KEEPCNT, 3},
      {"TCP_USER_TIMEOUT", IPPROTO_TCP, TCP_USER_TIMEOUT, 60000},
      {"TCP_NODELAY", IPPROTO_TCP, TCP_NODELAY, 1},
  };
  for (const Option& o : options) {
    int value = -1;
    socklen_t size = sizeof value;
    ASSERT_EQ(::getsockopt(accepted, o.level, o.option, &value, &size), 0) << o.name;
    EXPECT_EQ(value, o.expected) << o.name;
  }
}

// Chat lines of 60,000 bytes with no name (nobody logged in).
constexpr std::size_t kText = 60000;

Bytes LongChat() {
  Bytes chat{0x01};
  chat.insert(chat.end(), kText, 'x');
  return chat;
}

// A client that chats and never reads its own echoes: the send bound closes
// it, while the other player is served throughout.
TEST_F(ConnectionLimitsTest, PeerThatNeverReadsItsRepliesIsClosedOverTheBound) {
  RunningServer server(library_.api());
  LoopbackClient player(server.port(), 1);
  ASSERT_TRUE(player.Handshake());
  LoopbackClient deaf(server.port(), 2);
  ASSERT_TRUE(deaf.Handshake());

  constexpr std::size_t kBound = 4 * 1024 * 1024;
  constexpr int kMaxLines = 400;
  const Bytes chat = LongChat();
  int lines = 0;
  try {
    while (lines < kMaxLines && !HungUp(deaf.connection())) {
      deaf.Send(kSay, chat);
      ++lines;
      ASSERT_TRUE(Pinged(player)) << "line " << lines;
    }
  } catch (const std::runtime_error&) {
    // The reset reached the deaf client's write first.
  }
  ASSERT_TRUE(SpinUntil([&] { return HungUp(deaf.connection()); }))
      << lines << " lines did not fill the queue";
  EXPECT_GT(static_cast<std::size_t>(lines) * (kText + 3), kBound);

  // The freed slot takes the next client.
  LoopbackClient next(server.port(), 3);
  ASSERT_TRUE(server.WaitLogged(kToServer2, 2));
  ASSERT_TRUE(next.Handshake());
  ExpectPong(next);
  EXPECT_TRUE(Pinged(player));
}

// The other way round: a player's flood towards a peer that reads slowly.
// Relays to it are dropped unsealed once its output is over the soft limit,
// so it is never closed for the flood and, once it reads, opens everything
// in step. The relay rate is off here, so that only the soft limit acts.
TEST_F(ConnectionLimitsTest, FloodTowardsASlowReaderIsDroppedNotLetToCloseIt) {
  RunningServer server(library_.api(), [](ServerOptions& options) {
    options.relayRates = RelayRates{0, 0};
  });
  LoopbackClient chatter(server.port(), 1);
  ASSERT_TRUE(chatter.Handshake());
  LoopbackClient slow(server.port(), 2);
  ASSERT_TRUE(slow.Handshake());

  Bytes expectedLine{0x00, 0x01, 0x0A};
  expectedLine.insert(expectedLine.end(), kText, 'x');
  const Bytes chat = LongChat();
  constexpr int kLines = 400;  // 24 MB: far past the send bound
  for (int line = 1; line <= kLines; ++line) {
    chatter.Send(kSay, chat);
    const std::optional<Packet> echo = chatter.NextPacket();
    ASSERT_TRUE(echo) << "line " << line;
    ASSERT_EQ(echo->payload, expectedLine);
  }
  EXPECT_FALSE(HungUp(slow.connection()));

  int relayed = 0;
  slow.Send(kPing, {});
  while (const std::optional<Packet> packet = slow.NextPacket()) {
    if (packet->opcode == kPong) break;
    ASSERT_EQ(packet->payload, expectedLine);
    ++relayed;
  }
  EXPECT_EQ(slow.session().phase(), client::ClientSession::Phase::kOpen)
      << "out of step: " << slow.session().Error();
  EXPECT_GT(relayed, 0);
  EXPECT_LT(relayed, kLines);
  ExpectPong(slow);
  ExpectPong(chatter);
}

// A listener and one control with nothing behind them.
class BareControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_.SetConnectionRequestHandler([this](std::int32_t id) {
      ++requests_;
      if (onRequest_) onRequest_(id);
    });
    listener_.Bind(0);
    listener_.Listen();
  }

  TcpConnection Connect() {
    const int before = requests_;
    TcpConnection peer = TcpConnection::Connect("127.0.0.1", PortOf(listener_.Endpoint()), 5s);
    EXPECT_TRUE(SpinUntil([&] { return requests_ > before; }));
    return peer;
  }

  QtListener listener_{{QHostAddress(QHostAddress::LocalHost)}};
  QtSocketControl control_{listener_};
  std::function<void(std::int32_t)> onRequest_;
  int requests_ = 0;
};

TEST_F(BareControlTest, FloodArrivesWholeAndInOrderInPiecesOfAtMostOnePacket) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  Bytes received;
  std::size_t largest = 0;
  control_.SetDataArrivalHandler([&] {
    const std::size_t before = received.size();
    control_.GetData(received);
    largest = std::max(largest, received.size() - before);
  });
  TcpConnection peer = Connect();

  Bytes flood(3 * 1024 * 1024);
  for (std::size_t i = 0; i < flood.size(); ++i) {
    flood[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
  }
  std::thread sender([&] { peer.SendAll(flood); });
  EXPECT_TRUE(SpinUntil([&] { return received.size() >= flood.size(); }, 30s));
  sender.join();

  EXPECT_TRUE(received == flood);
  EXPECT_LE(largest, 65543u);
}

// Without a handler that takes them, one packet's worth of bytes wait in the
// control and the rest in the kernel; once taken, the rest follows in order
// and the connection stays.
TEST_F(BareControlTest, BytesNobodyTakesWaitUpToOnePacketAndTheRestFollowsInOrder) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection peer = Connect();
  Bytes sent(300 * 1024);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 509);
  peer.SendAll(sent);
  SpinFor(200ms);

  Bytes received;
  control_.GetData(received);
  EXPECT_EQ(received.size(), 65543u);
  EXPECT_EQ(control_.State(), SocketControl::kConnected);
  control_.SetDataArrivalHandler([&] { control_.GetData(received); });
  EXPECT_TRUE(SpinUntil([&] { return received.size() >= sent.size(); }));
  EXPECT_TRUE(received == sent);
  EXPECT_EQ(control_.State(), SocketControl::kConnected);
}

TEST_F(BareControlTest, ExceptionFromAnArrivalHandlerIsReportedAndTheNextArrivalStillComes) {
  struct Case {
    std::function<void()> fail;
    std::string report;
  };
  const std::vector<Case> cases{
      {[] { throw std::runtime_error("no room"); }, "Z E a data arrival failed: no room\n"},
      {[] { throw 42; }, "Z E a data arrival failed: unknown exception\n"},
  };
  for (const Case& c : cases) {
    onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
    int arrivals = 0;
    Bytes received;
    control_.SetDataArrivalHandler([&] {
      control_.GetData(received);
      if (++arrivals == 1) c.fail();
    });
    TcpConnection peer = Connect();

    ::testing::internal::CaptureStderr();
    peer.SendAll(Bytes{0x01});
    const bool first = SpinUntil([&] { return arrivals == 1; });
    const std::string report = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(first);
    // One line, stamped like every report.
    EXPECT_TRUE(report.ends_with(c.report)) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;

    peer.SendAll(Bytes{0x02});
    EXPECT_TRUE(SpinUntil([&] { return arrivals == 2; }));
    EXPECT_EQ(received, (Bytes{0x01, 0x02}));
    EXPECT_EQ(control_.State(), SocketControl::kConnected);
  }
}

TEST_F(BareControlTest, ExceptionFromAConnectionRequestIsReportedAndTheRequestRefused) {
  onRequest_ = [](std::int32_t) { throw std::runtime_error("slot table broken"); };
  ::testing::internal::CaptureStderr();
  TcpConnection refused = Connect();
  const std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(report.ends_with("Z E a connection request failed: slot table broken\n")) << report;
  Bytes arrived;
  EXPECT_TRUE(SpinUntil(
      [&] { return refused.ReadSome(arrived, 0ms) == TcpConnection::ReadStatus::kClosed; }));

  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection accepted = Connect();
  EXPECT_EQ(control_.State(), SocketControl::kConnected);
}

}  // namespace
}  // namespace quorvane
