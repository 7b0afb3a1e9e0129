#include "platform/monitoring/http_endpoint.h"

#include <unistd.h>

#include <QHash>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/monitoring/connection_places.h"
#include "platform/monitoring/metrics_exposition.h"
#include "platform/monitoring/status_json.h"
#include "platform/net/qt_listener.h"
#include "upgrade_request.h"

namespace quorvane {
namespace {

using StatusCode = QHttpServerResponse::StatusCode;

// Lives as a child of its connection's socket, so that it goes with the
// socket however the socket goes; it gives up the connection's place and
// keeps the connection's request deadline and what has come of its request.
class ConnectionGuard final : public QObject {
 public:
  ConnectionGuard(QTcpSocket& socket, ConnectionPlaces& places, ConnectionPlaces::Id id)
      : QObject(&socket), id(id), places_(places) {
    deadline.setSingleShot(true);
  }
  ~ConnectionGuard() override { places_.Leave(id); }

  const ConnectionPlaces::Id id;
  QTimer deadline;
  qint64 requestBytes = 0;
  // The request's head as it arrives, until its end shows whether it asks
  // to upgrade.
  QByteArray head;
  bool headSeen = false;

 private:
  ConnectionPlaces& places_;
};

// The place of a connection's peer: its address, or an IPv6 peer's /64, as
// an IPv6 host has a whole /64 to take addresses from.
std::string PlaceOf(const QHostAddress& peer) {
  bool isV4 = false;
  const quint32 v4 = peer.toIPv4Address(&isV4);
  if (isV4) return QHostAddress(v4).toString().toStdString();
  Q_IPV6ADDR bytes = peer.toIPv6Address();
  for (int at = 8; at < 16; ++at) bytes[at] = 0;
  return QHostAddress(bytes).toString().toStdString() + "/64";
}

// GET gets the answer; HEAD its status line and headers, the length
// included; other methods 405 naming the two, without asking for the answer.
void Respond(QHttpServerRequest::Method method, const std::function<QHttpServerResponse()>& answer,
             QHttpServerResponder&& responder) {
  using Method = QHttpServerRequest::Method;
  if (method != Method::Get && method != Method::Head) {
    responder.write(QByteArray("method not allowed\n"),
                    {{"Content-Type", "text/plain"}, {"Allow", "GET, HEAD"}},
                    StatusCode::MethodNotAllowed);
    return;
  }
  const QHttpServerResponse made = answer();
  if (method == Method::Get) {
    responder.write(made.data(), made.mimeType(), made.statusCode());
    return;
  }
  responder.writeStatusLine(made.statusCode());
  responder.writeHeaders({{"Content-Type", made.mimeType()},
                          {"Content-Length", QByteArray::number(made.data().size())}});
  // An empty body ends the head with its blank line.
  responder.writeBody(QByteArray());
}

}  // namespace

// QHttpServer of Qt 6.4 takes any number of connections and buffers a
// request of any size; this server in front of it keeps both bounded, and
// answers upgrade requests itself.
class HttpEndpoint::BoundedServer final : public QTcpServer {
 public:
  using Answerer = std::function<QHttpServerResponse(const RequestLine& request)>;

  BoundedServer(QObject& http, const Limits& limits, Answerer answer)
      : http_(http),
        limits_(limits),
        answer_(std::move(answer)),
        places_(static_cast<std::size_t>(std::max(limits.maxConnections, 1)),
                static_cast<std::size_t>(std::max(limits.maxPerAddress, 1))) {
    // Qt stops accepting after a failed accept (no descriptor free, say) for
    // good; this tries again after a pause.
    connect(this, &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(kAcceptPause, this, [this] { resumeAccepting(); }); });
  }

  // The connections go first: their guards give their places back to
  // places_, which goes with this.
  ~BoundedServer() override {
    qDeleteAll(findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly));
  }

  int Open() const { return static_cast<int>(places_.Taken()); }

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      ::close(static_cast<int>(descriptor));
      delete socket;
      return;
    }
    const ConnectionPlaces::Id id = ++lastId_;
    if (const auto evicted =
            places_.Admit(id, PlaceOf(socket->peerAddress()), std::chrono::steady_clock::now())) {
      if (QTcpSocket* idlest = seated_.take(*evicted)) Drop(*idlest);
    }
    seated_.insert(id, socket);
    // One more byte than a request may have, so that an oversized one shows.
    socket->setReadBufferSize(limits_.maxRequestBytes + 1);
    auto* guard = new ConnectionGuard(*socket, places_, id);
    connect(guard, &QObject::destroyed, this, [this, id] { seated_.remove(id); });
    connect(&guard->deadline, &QTimer::timeout, socket, [socket] { Drop(*socket); });
    guard->deadline.start(limits_.requestDeadline);
    // Connected before the HTTP server's own handler, so this sees each
    // arrival first. The HTTP server reads a request inside a transaction it
    // commits once the request is whole: no transaction, a new request.
    connect(socket, &QTcpSocket::readyRead, guard, [this, socket, guard] {
      places_.Touch(guard->id, std::chrono::steady_clock::now());
      if (!socket->isTransactionStarted()) {
        guard->requestBytes = 0;
        guard->head.clear();
        guard->headSeen = false;
        guard->deadline.start(limits_.requestDeadline);
      }
      guard->requestBytes += socket->bytesAvailable();
      if (guard->requestBytes > limits_.maxRequestBytes ||
          socket->bytesToWrite() > limits_.maxUnsentBytes) {
        QObject::disconnect(socket, &QTcpSocket::readyRead, &http_, nullptr);
        Drop(*socket);
        return;
      }
      WatchForUpgrade(*socket, *guard);
    });
    addPendingConnection(socket);
  }

 private:
  static constexpr std::chrono::milliseconds kAcceptPause{100};

  static void Drop(QTcpSocket& socket) {
    socket.abort();
    socket.deleteLater();
  }

  // Qt would drop an upgrade request with a warning on standard error; it is
  // answered here, before Qt reads it, like the GET it also is.
  void WatchForUpgrade(QTcpSocket& socket, ConnectionGuard& guard) {
    if (guard.headSeen) return;
    // Inside Qt's transaction the new bytes are those not read yet.
    guard.head += socket.peek(socket.bytesAvailable());
    const qsizetype end = guard.head.indexOf("\r\n\r\n");
    if (end < 0) return;
    guard.headSeen = true;
    const QByteArrayView head = QByteArrayView(guard.head).first(end);
    if (!AsksToUpgrade(head)) return;
    QObject::disconnect(&socket, &QTcpSocket::readyRead, &http_, nullptr);
    guard.deadline.stop();
    socket.write(ClosingAnswer(answer_(RequestLineOf(head))));
    socket.disconnectFromHost();
  }

  QObject& http_;
  const Limits limits_;
  Answerer answer_;
  ConnectionPlaces places_;
  ConnectionPlaces::Id lastId_ = 0;
  QHash<ConnectionPlaces::Id, QTcpSocket*> seated_;
};

HttpEndpoint::HttpEndpoint(Sources sources) : HttpEndpoint(std::move(sources), Limits{}) {}

HttpEndpoint::HttpEndpoint(Sources sources, Limits limits)
    : sources_(std::move(sources)), http_(std::make_unique<QHttpServer>()) {
  tcp_ = new BoundedServer(*http_, limits,
                           [this](const RequestLine& request) { return Answer(request); });
  tcp_->setParent(http_.get());
  Route();
}

HttpEndpoint::~HttpEndpoint() = default;

void HttpEndpoint::Listen(const QHostAddress& address, quint16 port) {
  if (!tcp_->listen(address, port)) {
    throw std::runtime_error("cannot serve HTTP on " + FormatEndpoint(address, port).toStdString() +
                             ": " + tcp_->errorString().toStdString());
  }
  http_->bind(tcp_);
}

QString HttpEndpoint::Endpoint() const {
  return FormatEndpoint(tcp_->serverAddress(), tcp_->serverPort());
}

int HttpEndpoint::Connections() const {
  return tcp_->Open();
}

void HttpEndpoint::Route() {
  // Every method reaches the path's handler, which answers GET and HEAD alike
  // (HEAD without the body), and anything else with 405.
  const auto serve = [this](const char* path, std::function<QHttpServerResponse()> answer) {
    http_->route(path, QHttpServerRequest::Method::AnyKnown,
                 [answer = std::move(answer)](const QHttpServerRequest& request,
                                              QHttpServerResponder&& responder) {
                   Respond(request.method(), answer, std::move(responder));
                 });
  };
  serve("/metrics", [this] { return MetricsAnswer(); });
  serve("/health", [this] { return HealthAnswer(); });
  serve("/status", [this] { return StatusAnswer(); });
}

QHttpServerResponse HttpEndpoint::Answer(const RequestLine& request) const {
  if (request.method != "GET") return QHttpServerResponse(StatusCode::MethodNotAllowed);
  if (request.path == "/metrics") return MetricsAnswer();
  if (request.path == "/health") return HealthAnswer();
  if (request.path == "/status") return StatusAnswer();
  return QHttpServerResponse(StatusCode::NotFound);
}

QHttpServerResponse HttpEndpoint::MetricsAnswer() const {
  static const BuildInfo build{QUORVANE_VERSION, qVersion()};
  const std::string text = MetricsText(
      sources_.snapshot(), build, sources_.outputDrops ? sources_.outputDrops() : OutputDrops{});
  return QHttpServerResponse(QByteArray(kMetricsContentType),
                             QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

// Answered here, on the event thread: an answer at all means the loop turns.
QHttpServerResponse HttpEndpoint::HealthAnswer() const {
  if (sources_.listening())
    return QHttpServerResponse(QByteArray("text/plain"), QByteArray("ok\n"));
  return QHttpServerResponse(QByteArray("text/plain"), QByteArray("not listening\n"),
                             StatusCode::ServiceUnavailable);
}

QHttpServerResponse HttpEndpoint::StatusAnswer() const {
  return QHttpServerResponse(QByteArray("application/json"), StatusJson(sources_.snapshot()));
}

}  // namespace quorvane
