#include "qt_listener.h"

#include <stdexcept>
#include <utility>

#include "guarded.h"
#include "socket_options.h"

namespace quorvane {

QString FormatEndpoint(const QHostAddress& address, quint16 port) {
  QString host = address.toString();
  if (address.protocol() == QAbstractSocket::IPv6Protocol) host = "[" + host + "]";
  return host + ":" + QString::number(port);
}

QtListener::QtListener(QHostAddress address) : address_(std::move(address)) {
  QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { AcceptPending(); });
}

void QtListener::SetConnectionRequestHandler(RequestHandler handler) {
  onRequest_ = std::move(handler);
}

void QtListener::Bind(std::uint16_t port) {
  port_ = port;
}

void QtListener::Listen() {
  if (!server_.listen(address_, port_)) {
    throw std::runtime_error("cannot listen on " + FormatEndpoint(address_, port_).toStdString() +
                             ": " + server_.errorString().toStdString());
  }
}

QString QtListener::Endpoint() const {
  return FormatEndpoint(server_.serverAddress(), server_.serverPort());
}

PeerEndpoint QtListener::PendingPeer(std::int32_t requestID) const {
  if (pending_ == nullptr || requestID != pendingID_) return {};
  return {pending_->peerAddress().toString().toStdString(), pending_->peerPort()};
}

void QtListener::Refuse(std::int32_t requestID) {
  if (pending_ == nullptr || requestID != pendingID_) return;
  QTcpSocket* refused = std::exchange(pending_, nullptr);
  ResetOnClose(*refused);
  refused->abort();
  refused->deleteLater();
}

QTcpSocket* QtListener::Take(std::int32_t requestID, QObject& owner) {
  if (pending_ == nullptr || requestID != pendingID_) return nullptr;
  pending_->setParent(&owner);
  return std::exchange(pending_, nullptr);
}

void QtListener::AcceptPending() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    pending_ = socket;
    // Ids stay positive; after 2^31 requests they start again at 1.
    lastRequestID_ = lastRequestID_ == INT32_MAX ? 1 : lastRequestID_ + 1;
    pendingID_ = lastRequestID_;
    if (onRequest_) RunGuarded("a connection request", [this] { onRequest_(pendingID_); });
    // Refused at once, so the client learns it and nothing piles up.
    if (QTcpSocket* refused = std::exchange(pending_, nullptr)) {
      refused->abort();
      refused->deleteLater();
    }
  }
}

}  // namespace quorvane
