// The HTTP endpoint on the test's own event loop, over loopback: what each
// path answers, and the bounds on connections, request sizes, slow requests
// and answers left unread.
#include "platform/monitoring/http_endpoint.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::SpinFor;
using testing::SpinUntil;

struct Reply {
  int status = 0;
  QByteArray head;
  QByteArray body;
};

class HttpEndpointTest : public ::testing::Test {
 protected:
  void Start(HttpEndpoint::Limits limits = {}) {
    endpoint_ = std::make_unique<HttpEndpoint>(
        HttpEndpoint::Sources{[this] { return snapshot_; }, [this] { return listening_; }, {}},
        limits);
    endpoint_->Listen(QHostAddress::LocalHost, 0);
    port_ = static_cast<quint16>(endpoint_->Endpoint().section(':', -1).toUInt());
  }

  std::unique_ptr<QTcpSocket> Open() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port_);
    EXPECT_TRUE(SpinUntil([&] { return socket->state() == QAbstractSocket::ConnectedState; }));
    return socket;
  }

  // Sends `request` on a fresh connection and reads one whole answer, or
  // whatever came before the server closed the connection. An answer to HEAD
  // is whole with its head; whatever follows within a moment is its body.
  Reply Exchange(const QByteArray& request) {
    const auto socket = Open();
    socket->write(request);
    QByteArray all;
    Reply reply;
    SpinUntil([&] {
      all += socket->readAll();
      const qsizetype split = all.indexOf("\r\n\r\n");
      if (split >= 0) {
        reply.head = all.left(split);
        reply.body = all.mid(split + 4);
        if (request.startsWith("HEAD ")) return true;
        const qsizetype length = reply.head.indexOf("Content-Length: ");
        if (length >= 0 &&
            reply.body.size() >= reply.head.mid(length + 16).split('\r')[0].toInt()) {
          return true;
        }
      }
      return socket->state() == QAbstractSocket::UnconnectedState;
    });
    if (request.startsWith("HEAD ")) {
      SpinFor(100ms);
      reply.body += socket->readAll();
    }
    if (!reply.head.isEmpty()) reply.status = reply.head.split(' ').value(1).toInt();
    return reply;
  }

  Reply Get(const QByteArray& path) {
    return Exchange("GET " + path + " HTTP/1.1\r\nHost: test\r\n\r\n");
  }

  static bool Closed(QTcpSocket& socket, std::chrono::milliseconds within = 2s) {
    return SpinUntil(
        [&] {
          socket.readAll();
          return socket.state() == QAbstractSocket::UnconnectedState;
        },
        within);
  }

  ServerSnapshot snapshot_;
  bool listening_ = true;
  std::unique_ptr<HttpEndpoint> endpoint_;
  quint16 port_ = 0;
};

TEST_F(HttpEndpointTest, EachPathAnswersFromTheSnapshotOfTheMoment) {
  Start();
  snapshot_.counters.connectionsAccepted = 7;
  Reply metrics = Get("/metrics");
  EXPECT_EQ(metrics.status, 200);
  EXPECT_TRUE(metrics.head.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8"))
      << metrics.head.toStdString();
  EXPECT_TRUE(metrics.body.contains("\nquorvane_connections_accepted_total 7\n"));
  EXPECT_TRUE(metrics.body.contains("quorvane_build_info{version=\"" QUORVANE_VERSION "\""));

  snapshot_.counters.connectionsAccepted = 8;
  snapshot_.npcs = {{"+Volkrin_ 0", 40, 50, 8}};
  metrics = Get("/metrics");
  EXPECT_TRUE(metrics.body.contains("\nquorvane_connections_accepted_total 8\n"));

  const Reply status = Get("/status");
  EXPECT_EQ(status.status, 200);
  EXPECT_TRUE(status.head.contains("Content-Type: application/json"));
  const QJsonObject json = QJsonDocument::fromJson(status.body).object();
  EXPECT_EQ(json["connections"].toObject()["accepted"].toInt(), 8);
  EXPECT_EQ(json["npcs"].toArray().at(0).toObject()["name"].toString(), "+Volkrin_ 0");

  EXPECT_EQ(Get("/nothing").status, 404);
  EXPECT_EQ(Get("/").status, 404);
  EXPECT_EQ(Exchange("POST /nothing HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\nhi").status,
            404);
}

// The value of header `name` in `head`, empty when it has none.
QByteArray Header(const QByteArray& head, const QByteArray& name) {
  for (const QByteArray& line : head.split('\n')) {
    if (line.startsWith(name + ": ")) return line.mid(name.size() + 2).trimmed();
  }
  return {};
}

TEST_F(HttpEndpointTest, HeadAnswersAsGetDoesWithoutTheBody) {
  Start();
  snapshot_.counters.connectionsAccepted = 3;
  for (const bool listening : {true, false}) {
    listening_ = listening;
    for (const QByteArray path : {"/metrics", "/health", "/status"}) {
      const Reply get = Get(path);
      const Reply head = Exchange("HEAD " + path + " HTTP/1.1\r\nHost: test\r\n\r\n");
      const std::string what = path.toStdString() + (listening ? "" : " not listening");
      EXPECT_EQ(head.status, get.status) << what;
      EXPECT_EQ(Header(head.head, "Content-Type"), Header(get.head, "Content-Type")) << what;
      EXPECT_EQ(Header(head.head, "Content-Length"), QByteArray::number(get.body.size())) << what;
      EXPECT_FALSE(get.body.isEmpty()) << what;
      EXPECT_TRUE(head.body.isEmpty()) << what << ": " << head.body.toStdString();
    }
  }
}

TEST_F(HttpEndpointTest, OtherMethodsOnAKnownPathAreNotAllowed) {
  Start();
  for (const QByteArray request :
       {"POST /health HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\nhi",
        "PUT /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\n\r\n",
        "DELETE /status HTTP/1.1\r\nHost: t\r\n\r\n",
        "OPTIONS /metrics HTTP/1.1\r\nHost: t\r\n\r\n"}) {
    const Reply reply = Exchange(request);
    const std::string what = request.left(request.indexOf(' ', 8)).toStdString();
    EXPECT_EQ(reply.status, 405) << what;
    EXPECT_EQ(Header(reply.head, "Allow"), "GET, HEAD") << what;
  }
}

TEST_F(HttpEndpointTest, HealthIsOkWhileTheListenerIsUp) {
  Start();
  Reply health = Get("/health");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, "ok\n");
  listening_ = false;
  health = Get("/health");
  EXPECT_EQ(health.status, 503);
  EXPECT_EQ(health.body, "not listening\n");
}

TEST_F(HttpEndpointTest, OneConnectionAsksSeveralTimes) {
  Start();
  const auto socket = Open();
  for (int i = 0; i < 3; ++i) {
    snapshot_.counters.connectionsAccepted = static_cast<std::uint64_t>(i);
    socket->write("GET /metrics HTTP/1.1\r\nHost: test\r\n\r\n");
    const QByteArray expected = "\nquorvane_connections_accepted_total " + QByteArray::number(i);
    QByteArray all;
    EXPECT_TRUE(SpinUntil([&] {
      all += socket->readAll();
      return all.contains(expected);
    })) << i;
  }
}

// Every place taken: the newcomer gets in, and the connection idle the
// longest (not the one that just asked) makes room.
TEST_F(HttpEndpointTest, NewcomerOverTheBoundClosesTheConnectionIdleTheLongest) {
  HttpEndpoint::Limits limits;
  limits.maxConnections = 3;
  limits.maxPerAddress = 3;
  Start(limits);
  std::vector<std::unique_ptr<QTcpSocket>> held;
  for (int i = 0; i < 3; ++i) held.push_back(Open());
  ASSERT_TRUE(SpinUntil([&] { return endpoint_->Connections() == 3; }));
  held[0]->write("GET /health HTTP/1.1\r\nHost: test\r\n\r\n");
  ASSERT_TRUE(SpinUntil([&] { return held[0]->readAll().contains("ok\n"); }));

  const Reply newcomer = Get("/health");
  EXPECT_EQ(newcomer.status, 200);
  EXPECT_TRUE(Closed(*held[1])) << "the idlest";
  EXPECT_EQ(held[0]->state(), QAbstractSocket::ConnectedState);
  EXPECT_EQ(held[2]->state(), QAbstractSocket::ConnectedState);
  EXPECT_LE(endpoint_->Connections(), 3);
}

// One address holding its share closes its own idlest connection with each
// new one; another address's connections are left alone.
TEST_F(HttpEndpointTest, OneAddressHoldsAtMostItsShare) {
  HttpEndpoint::Limits limits;
  limits.maxPerAddress = 2;
  Start(limits);
  const auto player = Open();
  std::vector<std::unique_ptr<QTcpSocket>> stranger;
  for (int i = 0; i < 4; ++i) {
    auto socket = std::make_unique<QTcpSocket>();
    ASSERT_TRUE(socket->bind(QHostAddress("127.0.0.2"), 0));
    socket->connectToHost(QHostAddress::LocalHost, port_);
    ASSERT_TRUE(SpinUntil([&] { return socket->state() == QAbstractSocket::ConnectedState; }));
    stranger.push_back(std::move(socket));
    ASSERT_TRUE(SpinUntil([&] { return endpoint_->Connections() == std::min(i + 2, 3); })) << i;
  }
  EXPECT_TRUE(Closed(*stranger[0]));
  EXPECT_TRUE(Closed(*stranger[1]));
  EXPECT_EQ(stranger[3]->state(), QAbstractSocket::ConnectedState);
  EXPECT_EQ(player->state(), QAbstractSocket::ConnectedState);
}

// A request to switch to WebSocket is answered as the GET it also is, and
// its connection closed.
TEST_F(HttpEndpointTest, UpgradeRequestIsAnsweredLikeAnyGet) {
  Start();
  const QByteArray upgrade =
      "Host: test\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Sec-WebSocket-Version: 13\r\n\r\n";
  struct Case {
    QByteArray requestLine;
    int status;
    QByteArray body;
  };
  const Case cases[] = {
      {"GET /health HTTP/1.1", 200, "ok\n"},
      {"GET /health?probe=1 HTTP/1.1", 200, "ok\n"},
      {"GET /elsewhere HTTP/1.1", 404, ""},
      {"POST /health HTTP/1.1", 405, ""},
  };
  for (const Case& c : cases) {
    const Reply reply = Exchange(c.requestLine + "\r\n" + upgrade);
    EXPECT_EQ(reply.status, c.status) << c.requestLine.toStdString();
    EXPECT_EQ(reply.body, c.body) << c.requestLine.toStdString();
    EXPECT_TRUE(reply.head.contains("Connection: close"));
  }
  const Reply metrics = Exchange("GET /metrics HTTP/1.1\r\n" + upgrade);
  EXPECT_TRUE(metrics.head.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8"));
  EXPECT_TRUE(metrics.body.contains("quorvane_build_info"));
}

TEST_F(HttpEndpointTest, RequestLongerThanTheBoundClosesItsConnectionUnanswered) {
  HttpEndpoint::Limits limits;
  limits.maxRequestBytes = 1024;
  Start(limits);
  const QByteArray start = "GET /health HTTP/1.1\r\nHost: test\r\nX-Pad: ";
  const QByteArray end = "\r\n\r\n";
  const auto padded = [&](qsizetype total) {
    return start + QByteArray(total - start.size() - end.size(), 'a') + end;
  };
  EXPECT_EQ(Exchange(padded(1024)).status, 200);
  const auto tooLong = Open();
  tooLong->write(padded(1025));
  QByteArray answer;
  EXPECT_TRUE(SpinUntil(
      [&] {
        answer += tooLong->readAll();
        return tooLong->state() == QAbstractSocket::UnconnectedState;
      },
      2s));
  EXPECT_EQ(answer, "");
  EXPECT_TRUE(SpinUntil([&] { return endpoint_->Connections() == 0; }, 2s));
}

TEST_F(HttpEndpointTest, RequestThatDoesNotArriveInTimeIsDropped) {
  HttpEndpoint::Limits limits;
  limits.requestDeadline = 300ms;
  Start(limits);
  const auto slow = Open();
  slow->write("GET /health HTTP/1.1\r\n");
  SpinFor(100ms);
  slow->write("Host: test\r\n");
  EXPECT_TRUE(Closed(*slow));

  // A connection that asked once and then idles goes the same way.
  const auto idle = Open();
  idle->write("GET /health HTTP/1.1\r\nHost: test\r\n\r\n");
  QByteArray answer;
  ASSERT_TRUE(SpinUntil([&] {
    answer += idle->readAll();
    return answer.contains("ok\n");
  }));
  EXPECT_TRUE(Closed(*idle));
  EXPECT_TRUE(SpinUntil([&] { return endpoint_->Connections() == 0; }));
}

TEST_F(HttpEndpointTest, ClientThatLetsAnswersPileUpIsDropped) {
  HttpEndpoint::Limits limits;
  limits.maxUnsentBytes = 64 * 1024;
  Start(limits);
  QTcpSocket reader;
  // A small window, so that answers back up on the server's side soon.
  reader.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
  reader.setReadBufferSize(1);
  reader.connectToHost(QHostAddress::LocalHost, port_);
  ASSERT_TRUE(SpinUntil([&] { return reader.state() == QAbstractSocket::ConnectedState; }));
  snapshot_.npcs.assign(100, NpcStatus{"+Volkrin_ 0", 40, 50, 8});
  bool dropped = false;
  for (int i = 0; i < 2000 && !dropped; ++i) {
    reader.write("GET /status HTTP/1.1\r\nHost: test\r\n\r\n");
    SpinFor(2ms);
    dropped = reader.state() == QAbstractSocket::UnconnectedState;
  }
  EXPECT_TRUE(dropped);
}

TEST_F(HttpEndpointTest, PortInUseIsNamedInTheError) {
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  HttpEndpoint endpoint({[] { return ServerSnapshot{}; }, [] { return true; }, {}});
  try {
    endpoint.Listen(QHostAddress::LocalHost, taken.serverPort());
    FAIL() << "listened on a port in use";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(
        std::string(error.what())
            .rfind("cannot serve HTTP on 127.0.0.1:" + std::to_string(taken.serverPort()) + ": ",
                   0),
        0u)
        << error.what();
  }
}

}  // namespace
}  // namespace quorvane
