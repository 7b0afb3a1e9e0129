// The listening sockets on Qt, one per address: each incoming connection,
// whichever address it came to, becomes a pending request with an id that a
// slot's socket control can take over while the connection-request handler
// runs, and that the handler can ask the peer of or refuse; a request left
// untaken is closed right after the handler returns. While accepting fails
// for want of descriptors or memory, the listener backs off (see
// AcceptBackoff), keeping one spare descriptor to accept and close the
// waiting connections with, so that their clients learn at once.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QSocketNotifier>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/listener.h"
#include "platform/loop/qt_clock.h"
#include "platform/net/accept_backoff.h"

namespace quorvane {

class QtListener final : public Listener {
 public:
  using RequestHandler = std::function<void(std::int32_t requestID)>;

  // QHostAddress::Any is every interface, IPv6 and IPv4 on one socket.
  explicit QtListener(QList<QHostAddress> addresses);
  ~QtListener() override;
  QtListener(const QtListener&) = delete;
  QtListener& operator=(const QtListener&) = delete;

  // Replaces the addresses; takes effect at the next Listen.
  void SetAddresses(QList<QHostAddress> addresses);
  void SetConnectionRequestHandler(RequestHandler handler);
  // Bind keeps the port; Listen opens a socket on each address with that
  // port. Port 0 takes a free port, the same on every address (see
  // Endpoints). An address the system does not have (a name's IPv6 address
  // on a host without IPv6, say) is passed over and named in Skipped; any
  // other failure, or every address passed over, throws.
  void Bind(std::uint16_t port) override;
  void Listen() override;
  PeerEndpoint PendingPeer(std::int32_t requestID) const override;
  void Refuse(std::int32_t requestID) override;

  // Hands the pending connection of `requestID` over to `owner`, its new Qt
  // parent; null when there is none (taken already, or the handler has
  // returned).
  QTcpSocket* Take(std::int32_t requestID, QObject& owner);

  // "ADDR:PORT" of every address listened on (IPv6 addresses in brackets);
  // a socket on every interface names both "0.0.0.0:PORT" and "[::]:PORT"
  // when it takes IPv4 and IPv6 clients alike.
  QStringList Endpoints() const;
  // The endpoints, separated by ", ".
  QString Endpoint() const { return Endpoints().join(", "); }
  // "cannot listen on ADDR:PORT: reason" for each address passed over.
  const QStringList& Skipped() const { return skipped_; }
  // Listening, and accepting: false while accepting fails.
  bool Listening() const { return !sockets_.empty() && !backoff_.Failing(); }

 private:
  // A listening socket taken over from the QTcpServer that opened it.
  struct ListeningSocket {
    ListeningSocket() = default;
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;
    ~ListeningSocket();

    int fd = -1;
    QHostAddress address;
    quint16 port = 0;
    // One socket on every interface taking IPv4 clients as well as IPv6.
    bool bothFamilies = false;
    // Watches for connections waiting; the parent of each accepted socket
    // until it is taken.
    std::unique_ptr<QSocketNotifier> watcher;
  };

  // Listens on every address with `port`; false when port 0 gave a port the
  // first address had free but a later one had not, to be tried again.
  bool ListenOn(quint16 port);
  void AcceptPending(ListeningSocket& listening);
  // Accepting failed with `error`: stops watching for a while.
  void AcceptFailed(ListeningSocket& listening, int error);
  // After a pause: watches again; whether descriptors are to be had.
  bool RetryAccepting();
  // Accepts and closes what waits on `server`, with the spare descriptor
  // given up for it; how many.
  unsigned CloseWaiting(ListeningSocket& listening);

  QList<QHostAddress> addresses_;
  std::vector<std::unique_ptr<ListeningSocket>> sockets_;
  QStringList skipped_;
  quint16 port_ = 0;
  RequestHandler onRequest_;
  std::int32_t lastRequestID_ = 0;
  std::int32_t pendingID_ = 0;
  // Owned by the server that accepted it until taken.
  QTcpSocket* pending_ = nullptr;
  int spare_ = -1;
  // The latest failure was for want of descriptors, not of memory.
  bool outOfDescriptors_ = false;
  QtClock clock_;
  AcceptBackoff backoff_;
};

// "ADDR:PORT", with IPv6 addresses in brackets.
QString FormatEndpoint(const QHostAddress& address, quint16 port);

}  // namespace quorvane
