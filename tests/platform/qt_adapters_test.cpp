// The Qt listener and socket control over real loopback connections, with a
// plain client on the other end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QStringList>

#include "client/tcp_connection.h"
#include "host/address_range.h"
#include "platform/loop/guarded.h"
#include "platform/net/qt_listener.h"
#include "platform/net/qt_socket_control.h"
#include "spin.h"

namespace quorvane {
namespace {

using client::TcpConnection;
using namespace std::chrono_literals;
using testing::SpinUntil;

// Reads from the client side without blocking the event loop.
TcpConnection::ReadStatus ReadWhileSpinning(TcpConnection& peer, Bytes& into) {
  std::optional<TcpConnection::ReadStatus> status;
  SpinUntil([&] {
    const auto now = peer.ReadSome(into, 0ms);
    if (now != TcpConnection::ReadStatus::kTimeout) status = now;
    return status.has_value();
  });
  return status.value_or(TcpConnection::ReadStatus::kTimeout);
}

std::uint16_t LocalPort(const TcpConnection& connection) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(connection.fd(), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

// How the server's end went away, seen from the client: an orderly close
// (true) or a reset (false); nothing when it did not go away in time.
std::optional<bool> EndedInOrder(const TcpConnection& peer) {
  std::optional<bool> orderly;
  SpinUntil([&] {
    pollfd waiter{peer.fd(), POLLIN, 0};
    if (::poll(&waiter, 1, 0) <= 0) return false;
    char byte;
    const ssize_t got = ::recv(peer.fd(), &byte, 1, 0);
    if (got == 0) orderly = true;
    if (got < 0 && errno == ECONNRESET) orderly = false;
    return orderly.has_value();
  });
  return orderly;
}

// Bytes that tell where in a long stream they stand.
Bytes Numbered(std::size_t size, std::size_t from) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t at = from + i;
    bytes[i] = static_cast<std::uint8_t>(at * 131 + at / 251);
  }
  return bytes;
}

class QtAdaptersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_.SetConnectionRequestHandler([this](std::int32_t id) {
      requests_.push_back(id);
      if (onRequest_) onRequest_(id);
    });
    listener_.Bind(0);
    listener_.Listen();
    port_ = static_cast<std::uint16_t>(listener_.Endpoint().section(':', -1).toUInt());
  }

  TcpConnection ConnectClient() {
    const std::size_t before = requests_.size();
    TcpConnection peer = TcpConnection::Connect("127.0.0.1", port_, 5s);
    EXPECT_TRUE(SpinUntil([&] { return requests_.size() > before; }));
    return peer;
  }

  // Accepts every request on control_ and notes each end it reports.
  void AcceptAll() {
    onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
    control_.SetClosedHandler([this](CloseReason reason) { ends_.push_back(reason); });
  }

  QtListener listener_{{QHostAddress(QHostAddress::LocalHost)}};
  QtSocketControl control_{listener_};
  std::function<void(std::int32_t)> onRequest_;
  std::vector<std::int32_t> requests_;
  std::vector<CloseReason> ends_;
  std::uint16_t port_ = 0;
};

TEST_F(QtAdaptersTest, EndpointNamesTheAddressAndTheChosenPort) {
  EXPECT_TRUE(listener_.Endpoint().startsWith("127.0.0.1:"));
  EXPECT_NE(port_, 0);
}

TEST_F(QtAdaptersTest, ListeningTwiceOnOnePortFailsWithTheReason) {
  QtListener second({QHostAddress(QHostAddress::LocalHost)});
  second.Bind(port_);
  try {
    second.Listen();
    FAIL() << "the port was taken twice";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what())
                  .rfind("cannot listen on 127.0.0.1:" + std::to_string(port_) + ": ", 0),
              0u)
        << error.what();
  }
}

TEST_F(QtAdaptersTest, RequestNoSlotTakesIsClosedAtOnce) {
  TcpConnection peer = ConnectClient();
  Bytes arrived;
  EXPECT_EQ(ReadWhileSpinning(peer, arrived), TcpConnection::ReadStatus::kClosed);
  EXPECT_EQ(control_.State(), QtSocketControl::kClosed);
}

TEST_F(QtAdaptersTest, RequestIdsDifferAndOnlyThePendingOneCanBeTaken) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id + 1); };
  TcpConnection refused = ConnectClient();
  EXPECT_EQ(control_.State(), QtSocketControl::kClosed);
  Bytes arrived;
  EXPECT_EQ(ReadWhileSpinning(refused, arrived), TcpConnection::ReadStatus::kClosed);

  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection accepted = ConnectClient();
  EXPECT_EQ(control_.State(), SocketControl::kConnected);
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_NE(requests_[0], requests_[1]);
}

TEST_F(QtAdaptersTest, PendingPeerNamesTheClientWhileItsRequestIsHandled) {
  std::vector<PeerEndpoint> peers;
  std::int32_t handled = 0;
  onRequest_ = [&](std::int32_t id) {
    handled = id;
    peers.push_back(listener_.PendingPeer(id));
    peers.push_back(listener_.PendingPeer(id + 1));
  };
  TcpConnection peer = ConnectClient();
  ASSERT_EQ(peers.size(), 2u);
  EXPECT_EQ(peers[0].address, "127.0.0.1");
  EXPECT_EQ(peers[0].port, LocalPort(peer));
  EXPECT_EQ(peers[1].address, "") << "no such request";
  EXPECT_EQ(listener_.PendingPeer(handled).address, "") << "its handler has returned";
}

// On all addresses the listener takes IPv4 clients too; it names them by
// their mapped IPv6 address, which the host's rules read as the IPv4 one.
TEST(QtListenerTest, DualStackListenerNamesAnIpv4ClientSoTheRulesSeeIpv4) {
  QtListener any{{QHostAddress(QHostAddress::Any)}};
  std::optional<PeerEndpoint> pending;
  any.SetConnectionRequestHandler([&](std::int32_t id) { pending = any.PendingPeer(id); });
  any.Bind(0);
  any.Listen();
  const auto port = static_cast<std::uint16_t>(any.Endpoint().section(':', -1).toUInt());
  TcpConnection peer = TcpConnection::Connect("127.0.0.1", port, 5s);
  ASSERT_TRUE(SpinUntil([&] { return pending.has_value(); }));
  const auto address = IpAddress::Parse(pending->address);
  ASSERT_TRUE(address) << pending->address;
  EXPECT_EQ(address->WithPort(pending->port), "127.0.0.1:" + std::to_string(LocalPort(peer)));
}

QList<QHostAddress> Addresses(const QStringList& texts) {
  QList<QHostAddress> addresses;
  for (const QString& text : texts) addresses << QHostAddress(text);
  return addresses;
}

// Every loopback address is the machine's own on Linux; 192.0.2.1 is a
// documentation address no interface has.
TEST(QtListenerTest, EveryAddressListensOnOnePortAndIsNamed) {
  QtListener listener(Addresses({"127.0.0.1", "127.0.0.2"}));
  std::vector<PeerEndpoint> peers;
  listener.SetConnectionRequestHandler(
      [&](std::int32_t id) { peers.push_back(listener.PendingPeer(id)); });
  listener.Bind(0);
  listener.Listen();
  const QStringList endpoints = listener.Endpoints();
  ASSERT_EQ(endpoints.size(), 2);
  const QString port = endpoints[0].section(':', -1);
  EXPECT_EQ(endpoints, (QStringList{"127.0.0.1:" + port, "127.0.0.2:" + port}));
  EXPECT_EQ(listener.Endpoint(), endpoints.join(", "));
  EXPECT_TRUE(listener.Skipped().isEmpty());

  TcpConnection first = TcpConnection::Connect("127.0.0.1", port.toUShort(), 5s);
  TcpConnection second = TcpConnection::Connect("127.0.0.2", port.toUShort(), 5s);
  // Requests from either address reach the one handler.
  EXPECT_TRUE(SpinUntil([&] { return peers.size() == 2; }));
}

TEST(QtListenerTest, AnAddressTheSystemLacksIsPassedOverUnlessNoneIsLeft) {
  QtListener some(Addresses({"192.0.2.1", "127.0.0.1"}));
  some.Bind(0);
  some.Listen();
  EXPECT_TRUE(some.Endpoint().startsWith("127.0.0.1:")) << some.Endpoint().toStdString();
  ASSERT_EQ(some.Skipped().size(), 1);
  EXPECT_TRUE(some.Skipped()[0].startsWith("cannot listen on 192.0.2.1:0: "))
      << some.Skipped()[0].toStdString();

  QtListener none(Addresses({"192.0.2.1"}));
  none.Bind(0);
  try {
    none.Listen();
    ADD_FAILURE() << "listened on " << none.Endpoint().toStdString();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()).rfind("cannot listen on 192.0.2.1:0: ", 0), 0u)
        << error.what();
  }
  EXPECT_FALSE(none.Listening());
}

// One dual-stack socket takes clients of both families; the line says so.
TEST(QtListenerTest, EveryInterfaceIsNamedForBothFamilies) {
  QtListener any{{QHostAddress(QHostAddress::Any)}};
  any.Bind(0);
  any.Listen();
  const QString port = any.Endpoints().constLast().section(':', -1);
  EXPECT_EQ(any.Endpoints(), (QStringList{"0.0.0.0:" + port, "[::]:" + port}));
}

TEST_F(QtAdaptersTest, RefusedRequestIsResetAtOnceAndCannotBeTaken) {
  onRequest_ = [this](std::int32_t id) {
    listener_.Refuse(id);
    control_.Accept(id);
  };
  TcpConnection refused = ConnectClient();
  EXPECT_EQ(control_.State(), QtSocketControl::kClosed);
  EXPECT_EQ(EndedInOrder(refused), false);
}

TEST_F(QtAdaptersTest, ArrivalsAreReadInFullAndInOrder) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  Bytes received;
  int arrivals = 0;
  control_.SetDataArrivalHandler([&] {
    ++arrivals;
    control_.GetData(received);
  });
  TcpConnection peer = ConnectClient();
  Bytes sent;
  for (std::uint8_t round = 0; round < 20; ++round) {
    const Bytes chunk(100 + round, round);
    peer.SendAll(chunk);
    sent.insert(sent.end(), chunk.begin(), chunk.end());
  }
  EXPECT_TRUE(SpinUntil([&] { return received.size() >= sent.size(); }));
  EXPECT_EQ(received, sent);
  EXPECT_GE(arrivals, 1);
  Bytes nothing;
  control_.GetData(nothing);
  EXPECT_TRUE(nothing.empty());
}

TEST_F(QtAdaptersTest, SentBytesReachThePeerInCallOrder) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection peer = ConnectClient();
  const Bytes first{0x00, 0x01, 0x02};
  const Bytes second{0xFF, 0xFE};
  control_.SendData(first);
  control_.SendData(second);
  Bytes arrived;
  EXPECT_TRUE(SpinUntil([&] {
    peer.ReadSome(arrived, 0ms);
    return arrived.size() >= 5;
  }));
  EXPECT_EQ(arrived, (Bytes{0x00, 0x01, 0x02, 0xFF, 0xFE}));
}

TEST_F(QtAdaptersTest, PeerLeavingTurnsTheStateClosed) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  control_.SetDataArrivalHandler([] {});
  {
    TcpConnection peer = ConnectClient();
    ASSERT_EQ(control_.State(), SocketControl::kConnected);
  }
  EXPECT_TRUE(SpinUntil([&] { return control_.State() == QtSocketControl::kClosed; }));
  control_.SendData(Bytes{0x01});  // dropped, no failure
}

TEST_F(QtAdaptersTest, CloseEndsTheConnectionAndMayBeRepeated) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection peer = ConnectClient();
  control_.Close();
  EXPECT_EQ(control_.State(), QtSocketControl::kClosed);
  control_.Close();
  Bytes arrived;
  EXPECT_EQ(ReadWhileSpinning(peer, arrived), TcpConnection::ReadStatus::kClosed);
}

TEST_F(QtAdaptersTest, AcceptOnABusyControlDropsTheOldConnection) {
  onRequest_ = [this](std::int32_t id) { control_.Accept(id); };
  TcpConnection old = ConnectClient();
  TcpConnection newer = ConnectClient();
  Bytes arrived;
  EXPECT_EQ(ReadWhileSpinning(old, arrived), TcpConnection::ReadStatus::kClosed);
  control_.SendData(Bytes{0x42});
  EXPECT_TRUE(SpinUntil([&] {
    newer.ReadSome(arrived, 0ms);
    return !arrived.empty();
  }));
  EXPECT_EQ(arrived, Bytes{0x42});
}

TEST_F(QtAdaptersTest, PeerClosingIsReportedOnceAsPeerClosed) {
  AcceptAll();
  TcpConnection peer = ConnectClient();
  peer.Close();
  EXPECT_TRUE(SpinUntil([&] { return !ends_.empty(); }));
  control_.Close();
  control_.SendData(Bytes{0x01});
  EXPECT_EQ(ends_, std::vector<CloseReason>{CloseReason::kPeerClosed});
  EXPECT_EQ(control_.State(), SocketControl::kClosed);
}

TEST_F(QtAdaptersTest, CloseEndsInOrderAndResetWithAResetBothReportedAsClosedByUs) {
  struct Case {
    const char* name;
    std::function<void()> end;
    bool orderly;
  };
  const std::vector<Case> cases{
      {"Close", [this] { control_.Close(); }, true},
      {"Reset", [this] { control_.Reset(); }, false},
  };
  AcceptAll();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ends_.clear();
    TcpConnection peer = ConnectClient();
    c.end();
    EXPECT_EQ(ends_, std::vector<CloseReason>{CloseReason::kClosedByUs});
    EXPECT_EQ(control_.State(), SocketControl::kClosed);
    EXPECT_EQ(EndedInOrder(peer), c.orderly);
    c.end();
    EXPECT_EQ(ends_.size(), 1u);
  }
}

TEST_F(QtAdaptersTest, PeerAddressNamesTheConnectedClient) {
  EXPECT_EQ(control_.PeerAddress(), "");
  AcceptAll();
  TcpConnection peer = ConnectClient();
  EXPECT_EQ(control_.PeerAddress(), "127.0.0.1:" + std::to_string(LocalPort(peer)));
  control_.Close();
  EXPECT_EQ(control_.PeerAddress(), "");
}

TEST_F(QtAdaptersTest, PendingBytesCountWhatWaitsUntilItIsWritten) {
  AcceptAll();
  TcpConnection peer = ConnectClient();
  EXPECT_EQ(control_.PendingBytes(), 0u);
  control_.SendData(Bytes(300, 0x11));
  control_.SendData(Bytes(200, 0x22));
  EXPECT_EQ(control_.PendingBytes(), 500u);
  Bytes arrived;
  EXPECT_TRUE(SpinUntil([&] {
    peer.ReadSome(arrived, 0ms);
    return arrived.size() >= 500 && control_.PendingBytes() == 0;
  }));
}

// What one event writes, to however many connections, is handed to the
// kernel when its handler returns, without waiting for the event loop.
TEST_F(QtAdaptersTest, WritesOfOneEventAreSentWhenItsHandlerReturns) {
  QtSocketControl other(listener_);
  onRequest_ = [&](std::int32_t id) {
    if (control_.State() != SocketControl::kConnected) {
      control_.Accept(id);
    } else {
      other.Accept(id);
    }
  };
  TcpConnection first = ConnectClient();
  TcpConnection second = ConnectClient();
  ASSERT_EQ(other.State(), SocketControl::kConnected);

  std::size_t waitingInside = 0;
  RunGuarded("a test event", [&] {
    control_.SendData(Bytes{0x01, 0x02, 0x03});
    other.SendData(Bytes{0x04});
    control_.SendData(Bytes{0x05, 0x06});
    waitingInside = control_.PendingBytes() + other.PendingBytes();
  });
  EXPECT_EQ(waitingInside, 6u);
  EXPECT_EQ(control_.PendingBytes(), 0u);
  EXPECT_EQ(other.PendingBytes(), 0u);

  Bytes atFirst;
  Bytes atSecond;
  EXPECT_EQ(first.ReadSome(atFirst, 5s), TcpConnection::ReadStatus::kData);
  EXPECT_EQ(second.ReadSome(atSecond, 5s), TcpConnection::ReadStatus::kData);
  EXPECT_EQ(atFirst, (Bytes{0x01, 0x02, 0x03, 0x05, 0x06}));
  EXPECT_EQ(atSecond, Bytes{0x04});
}

// Writes the kernel cannot take yet wait in the control and follow, whole
// and in order, as the peer reads, with the connection kept.
TEST_F(QtAdaptersTest, OutputThePeerIsSlowToReadFollowsInOrderAsItReads) {
  AcceptAll();
  TcpConnection peer = ConnectClient();
  constexpr std::size_t kPiece = 512 * 1024;
  constexpr std::size_t kMostPieces = 64;
  std::size_t written = 0;
  while (written < kMostPieces * kPiece && control_.PendingBytes() == 0) {
    RunGuarded("a test event", [&] { control_.SendData(Numbered(kPiece, written)); });
    written += kPiece;
  }
  ASSERT_GT(control_.PendingBytes(), 0u) << "the kernel took " << written << " bytes";
  // More while the kernel is still full, up to some 3.5 MiB of the 4 MiB
  // bound: it queues behind the rest and leaves in many partial sends.
  for (int more = 0; more < 6; ++more) {
    RunGuarded("a test event", [&] { control_.SendData(Numbered(kPiece, written)); });
    written += kPiece;
  }
  ASSERT_GT(control_.PendingBytes(), 6 * kPiece);

  Bytes arrived;
  EXPECT_TRUE(SpinUntil(
      [&] {
        peer.ReadSome(arrived, 0ms);
        return arrived.size() >= written;
      },
      30s));
  EXPECT_TRUE(arrived == Numbered(written, 0));
  EXPECT_EQ(control_.PendingBytes(), 0u);
  EXPECT_EQ(control_.State(), SocketControl::kConnected);
  EXPECT_TRUE(ends_.empty());
}

TEST_F(QtAdaptersTest, PeerResettingIsReportedAsAResetAndLeavesAnError) {
  AcceptAll();
  TcpConnection peer = ConnectClient();
  const linger discard{1, 0};
  ASSERT_EQ(::setsockopt(peer.fd(), SOL_SOCKET, SO_LINGER, &discard, sizeof discard), 0);
  peer.Close();
  EXPECT_TRUE(SpinUntil([&] { return !ends_.empty(); }));
  EXPECT_EQ(ends_, std::vector<CloseReason>{CloseReason::kReset});
  EXPECT_EQ(control_.State(), SocketControl::kError);
  EXPECT_EQ(control_.PeerAddress(), "");
}

TEST_F(QtAdaptersTest, EndOfAControlWithALiveConnectionIsNotReported) {
  bool reported = false;
  {
    QtSocketControl control(listener_);
    onRequest_ = [&](std::int32_t id) { control.Accept(id); };
    control.SetClosedHandler([&](CloseReason) { reported = true; });
    TcpConnection peer = ConnectClient();
    ASSERT_EQ(control.State(), SocketControl::kConnected);
    onRequest_ = nullptr;
  }
  EXPECT_FALSE(reported);
}

// A small bound given to the control: the write that takes the waiting bytes
// over it resets the connection at once and frees the control; the end's
// reason tells the host, which reports it.
TEST_F(QtAdaptersTest, WriteOverTheSendBoundResetsTheConnection) {
  QtSocketControl bounded(listener_, 1000);
  std::vector<CloseReason> ends;
  bounded.SetClosedHandler([&](CloseReason reason) { ends.push_back(reason); });
  onRequest_ = [&](std::int32_t id) { bounded.Accept(id); };
  TcpConnection peer = ConnectClient();

  bounded.SendData(Bytes(600, 0x01));
  bounded.SendData(Bytes(400, 0x02));
  EXPECT_TRUE(ends.empty()) << "exactly at the bound is still within it";
  bounded.SendData(Bytes(1, 0x03));
  EXPECT_EQ(ends, std::vector<CloseReason>{CloseReason::kSendBound});
  EXPECT_EQ(bounded.State(), SocketControl::kClosed);
  EXPECT_EQ(EndedInOrder(peer), false);
}

}  // namespace
}  // namespace quorvane
