#include "platform/monitoring/http_endpoint.h"

#include <unistd.h>

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <utility>

#include "platform/monitoring/metrics_exposition.h"
#include "platform/monitoring/status_json.h"
#include "platform/net/qt_listener.h"

namespace quorvane {
namespace {

using StatusCode = QHttpServerResponse::StatusCode;

// Lives as a child of its connection's socket, so that it goes with the
// socket however the socket goes; it keeps the count of open connections and
// the connection's request deadline.
class ConnectionGuard final : public QObject {
 public:
  ConnectionGuard(QTcpSocket& socket, int& open) : QObject(&socket), open_(open) {
    ++open_;
    deadline.setSingleShot(true);
  }
  ~ConnectionGuard() override { --open_; }

  QTimer deadline;
  qint64 requestBytes = 0;

 private:
  int& open_;
};

struct Answer {
  StatusCode status;
  QByteArray contentType;
  QByteArray body;
};

// GET gets the answer; HEAD its status line and headers, the length
// included; other methods 405 naming the two, without asking for the answer.
void Respond(QHttpServerRequest::Method method, const std::function<Answer()>& answer,
             QHttpServerResponder&& responder) {
  using Method = QHttpServerRequest::Method;
  if (method != Method::Get && method != Method::Head) {
    responder.write(QByteArray("method not allowed\n"),
                    {{"Content-Type", "text/plain"}, {"Allow", "GET, HEAD"}},
                    StatusCode::MethodNotAllowed);
    return;
  }
  const Answer made = answer();
  if (method == Method::Get) {
    responder.write(made.body, made.contentType, made.status);
    return;
  }
  responder.writeStatusLine(made.status);
  responder.writeHeaders({{"Content-Type", made.contentType},
                          {"Content-Length", QByteArray::number(made.body.size())}});
  // An empty body ends the head with its blank line.
  responder.writeBody(QByteArray());
}

}  // namespace

// QHttpServer of Qt 6.4 takes any number of connections and buffers a
// request of any size; this server in front of it keeps both bounded.
class HttpEndpoint::BoundedServer final : public QTcpServer {
 public:
  BoundedServer(QObject& http, const Limits& limits) : http_(http), limits_(limits) {}

  int Open() const { return open_; }

 protected:
  void incomingConnection(qintptr descriptor) override {
    if (open_ >= limits_.maxConnections) {
      ::close(static_cast<int>(descriptor));
      return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      ::close(static_cast<int>(descriptor));
      delete socket;
      return;
    }
    // One more byte than a request may have, so that an oversized one shows.
    socket->setReadBufferSize(limits_.maxRequestBytes + 1);
    auto* guard = new ConnectionGuard(*socket, open_);
    connect(&guard->deadline, &QTimer::timeout, socket, [socket] { Drop(*socket); });
    guard->deadline.start(limits_.requestDeadline);
    // Connected before the HTTP server's own handler, so this sees each
    // arrival first. The HTTP server reads a request inside a transaction it
    // commits once the request is whole: no transaction, a new request.
    connect(socket, &QTcpSocket::readyRead, guard, [this, socket, guard] {
      if (!socket->isTransactionStarted()) {
        guard->requestBytes = 0;
        guard->deadline.start(limits_.requestDeadline);
      }
      guard->requestBytes += socket->bytesAvailable();
      if (guard->requestBytes > limits_.maxRequestBytes ||
          socket->bytesToWrite() > limits_.maxUnsentBytes) {
        QObject::disconnect(socket, &QTcpSocket::readyRead, &http_, nullptr);
        Drop(*socket);
      }
    });
    addPendingConnection(socket);
  }

 private:
  static void Drop(QTcpSocket& socket) {
    socket.abort();
    socket.deleteLater();
  }

  QObject& http_;
  const Limits limits_;
  int open_ = 0;
};

HttpEndpoint::HttpEndpoint(Sources sources) : HttpEndpoint(std::move(sources), Limits{}) {}

HttpEndpoint::HttpEndpoint(Sources sources, Limits limits)
    : sources_(std::move(sources)), http_(std::make_unique<QHttpServer>()) {
  tcp_ = new BoundedServer(*http_, limits);
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
  // Every method reaches the path's handler, which answers GET, HEAD alike
  // without the body, and anything else with 405.
  const auto serve = [this](const char* path, std::function<Answer()> answer) {
    http_->route(path, QHttpServerRequest::Method::AnyKnown,
                 [answer = std::move(answer)](const QHttpServerRequest& request,
                                              QHttpServerResponder&& responder) {
                   Respond(request.method(), answer, std::move(responder));
                 });
  };
  serve("/metrics", [this] {
    static const BuildInfo build{QUORVANE_VERSION, qVersion()};
    const std::string text = MetricsText(sources_.snapshot(), build);
    return Answer{StatusCode::Ok, QByteArray(kMetricsContentType),
                  QByteArray(text.data(), static_cast<qsizetype>(text.size()))};
  });
  // Answered here, on the event thread: an answer at all means the loop turns.
  serve("/health", [this] {
    if (sources_.listening()) return Answer{StatusCode::Ok, "text/plain", "ok\n"};
    return Answer{StatusCode::ServiceUnavailable, "text/plain", "not listening\n"};
  });
  serve("/status", [this] {
    return Answer{StatusCode::Ok, "application/json", StatusJson(sources_.snapshot())};
  });
}

}  // namespace quorvane
