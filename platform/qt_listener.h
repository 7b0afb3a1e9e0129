// The listening socket on Qt: each incoming connection becomes a pending
// request with an id that a slot's socket control can take over while the
// connection-request handler runs, and that the handler can ask the peer of
// or refuse; a request left untaken is closed right after the handler
// returns.
#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <functional>

#include "listener.h"

namespace quorvane {

class QtListener final : public Listener {
 public:
  using RequestHandler = std::function<void(std::int32_t requestID)>;

  explicit QtListener(QHostAddress address);

  void SetConnectionRequestHandler(RequestHandler handler);
  // Bind keeps the port; Listen opens the socket on address and port. Port 0
  // takes any free port (see Endpoint).
  void Bind(std::uint16_t port) override;
  void Listen() override;
  PeerEndpoint PendingPeer(std::int32_t requestID) const override;
  void Refuse(std::int32_t requestID) override;

  // Hands the pending connection of `requestID` over to `owner`, its new Qt
  // parent; null when there is none (taken already, or the handler has
  // returned).
  QTcpSocket* Take(std::int32_t requestID, QObject& owner);

  // "ADDR:PORT" of the listening socket (IPv6 addresses in brackets).
  QString Endpoint() const;
  bool Listening() const { return server_.isListening(); }

 private:
  void AcceptPending();

  QTcpServer server_;
  QHostAddress address_;
  quint16 port_ = 0;
  RequestHandler onRequest_;
  std::int32_t lastRequestID_ = 0;
  std::int32_t pendingID_ = 0;
  // Owned by server_ until taken.
  QTcpSocket* pending_ = nullptr;
};

// "ADDR:PORT", with IPv6 addresses in brackets.
QString FormatEndpoint(const QHostAddress& address, quint16 port);

}  // namespace quorvane
