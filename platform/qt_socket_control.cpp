#include "qt_socket_control.h"

#include <utility>

namespace quorvane {

QtSocketControl::QtSocketControl(QtListener& listener) : listener_(listener) {}

void QtSocketControl::Accept(std::int32_t requestID) {
  Close();
  socket_ = listener_.Take(requestID, owner_);
  if (socket_ == nullptr) return;
  failed_ = false;
  // A login is some forty small packets; none may wait for Nagle's algorithm.
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { OnReadyRead(); });
  QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                   [this](QAbstractSocket::SocketError error) {
                     if (error != QAbstractSocket::RemoteHostClosedError) failed_ = true;
                   });
}

void QtSocketControl::Close() {
  arrived_.clear();
  QTcpSocket* socket = std::exchange(socket_, nullptr);
  if (socket == nullptr) return;
  socket->disconnect();
  socket->abort();
  // Close may run inside one of this socket's own signals.
  socket->deleteLater();
}

std::int16_t QtSocketControl::State() const {
  if (socket_ == nullptr) return kClosed;
  switch (socket_->state()) {
    case QAbstractSocket::UnconnectedState:
      return failed_ ? kError : kClosed;
    case QAbstractSocket::HostLookupState:
      return kLookingUp;
    case QAbstractSocket::ConnectingState:
      return kConnecting;
    case QAbstractSocket::ConnectedState:
      return kConnected;
    case QAbstractSocket::BoundState:
      return kBound;
    case QAbstractSocket::ListeningState:
      return kListening;
    case QAbstractSocket::ClosingState:
      return kClosing;
  }
  return kClosed;
}

void QtSocketControl::GetData(Bytes& into) {
  Drain();
  into.insert(into.end(), arrived_.begin(), arrived_.end());
  arrived_.clear();
}

void QtSocketControl::SendData(ByteView bytes) {
  if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) return;
  socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void QtSocketControl::SetDataArrivalHandler(std::function<void()> handler) {
  onArrival_ = std::move(handler);
}

void QtSocketControl::Drain() {
  if (socket_ == nullptr) return;
  const QByteArray chunk = socket_->readAll();
  arrived_.insert(arrived_.end(), chunk.begin(), chunk.end());
}

void QtSocketControl::OnReadyRead() {
  Drain();
  if (!arrived_.empty() && onArrival_) onArrival_();
}

}  // namespace quorvane
