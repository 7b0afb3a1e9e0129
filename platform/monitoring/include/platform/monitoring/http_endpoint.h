// The HTTP endpoint for monitoring: /metrics (Prometheus text), /health and
// /status (JSON), served by Qt's HTTP server on the event thread. Each answer
// is built from one status snapshot, so a request costs the game a few
// kilobytes of formatting and never waits. The endpoint bounds what a client
// can hold: the number of connections, the size of a request, the time a
// request may take to arrive, and the answers waiting for a client that does
// not read them; and it shares its connections fairly among addresses (see
// ConnectionPlaces).
#pragma once

#include <QHostAddress>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

#include "host/server_status.h"
#include "platform/monitoring/metrics_exposition.h"

class QHttpServer;
class QHttpServerResponse;

namespace quorvane {

struct RequestLine;

class HttpEndpoint {
 public:
  struct Sources {
    std::function<ServerSnapshot()> snapshot;
    // Whether the game's listener is up and accepting.
    std::function<bool()> listening;
    // The output streams' lost lines; none when not given.
    std::function<OutputDrops()> outputDrops;
  };
  struct Limits {
    // Open connections at most; a newcomer over this closes the one idle
    // the longest.
    int maxConnections = 16;
    // Connections from one address (an IPv6 /64) at most; a newcomer over
    // this closes that address's idlest.
    int maxPerAddress = 4;
    // A request (head and body) longer than this closes its connection.
    qint64 maxRequestBytes = 8 * 1024;
    // A request must arrive whole within this from its first byte, and a
    // connection that starts no request within this of its last is closed.
    std::chrono::milliseconds requestDeadline{10000};
    // A client that lets more answers than this pile up unread is dropped.
    qint64 maxUnsentBytes = 1024 * 1024;
  };

  explicit HttpEndpoint(Sources sources);
  HttpEndpoint(Sources sources, Limits limits);
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;
  ~HttpEndpoint();

  // Throws std::runtime_error "cannot serve HTTP on ADDR:PORT: reason". Port 0
  // takes any free port (see Endpoint).
  void Listen(const QHostAddress& address, quint16 port);
  // "ADDR:PORT" being served on (IPv6 addresses in brackets).
  QString Endpoint() const;
  // Connections open at this moment.
  int Connections() const;

 private:
  class BoundedServer;

  void Route();
  // What a GET of `request`'s path answers, for requests Qt does not route.
  QHttpServerResponse Answer(const RequestLine& request) const;
  QHttpServerResponse MetricsAnswer() const;
  QHttpServerResponse HealthAnswer() const;
  QHttpServerResponse StatusAnswer() const;

  Sources sources_;
  std::unique_ptr<QHttpServer> http_;
  // Owned by http_ once bound.
  BoundedServer* tcp_ = nullptr;
};

}  // namespace quorvane
