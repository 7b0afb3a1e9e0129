#include "qt_socket_control.h"

#include <cstdio>
#include <utility>

#include "guarded.h"
#include "socket_options.h"

namespace quorvane {

QtSocketControl::QtSocketControl(QtListener& listener, ConnectionLimits limits)
    : listener_(listener), limits_(limits) {
  handshakeDeadline_.setSingleShot(true);
  QObject::connect(&handshakeDeadline_, &QTimer::timeout, &handshakeDeadline_, [this] {
    RunGuarded("the handshake deadline", [this] { OnHandshakeDeadline(); });
  });
}

void QtSocketControl::Accept(std::int32_t requestID) {
  Close();
  socket_ = listener_.Take(requestID, owner_);
  if (socket_ == nullptr) return;
  failed_ = false;
  // A login is some forty small packets; none may wait for Nagle's algorithm.
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  EnableKeepAlive(*socket_);
  // The session keeps an unfinished packet itself, so Qt holds no more than
  // one whole packet ahead of it, however fast the peer sends; the rest waits
  // in the kernel and comes with the next readyRead.
  socket_->setReadBufferSize(kLargestPacket);
  QObject::connect(socket_, &QTcpSocket::readyRead, socket_,
                   [this] { RunGuarded("a data arrival", [this] { OnReadyRead(); }); });
  QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                   [this](QAbstractSocket::SocketError error) {
                     if (error != QAbstractSocket::RemoteHostClosedError) failed_ = true;
                   });
  if (handshakeDone_) handshakeDeadline_.start(limits_.handshakeTimeout);
}

void QtSocketControl::Close() {
  handshakeDeadline_.stop();
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
  if (socket_->bytesToWrite() > limits_.writeQueueLimit) {
    CloseBecause("its peer is not reading: over " + QString::number(limits_.writeQueueLimit) +
                 " bytes wait to be sent");
  }
}

void QtSocketControl::SetDataArrivalHandler(std::function<void()> handler) {
  onArrival_ = std::move(handler);
}

void QtSocketControl::SetHandshakeDone(std::function<bool()> done) {
  handshakeDone_ = std::move(done);
}

void QtSocketControl::Drain() {
  if (socket_ == nullptr) return;
  const QByteArray chunk = socket_->readAll();
  arrived_.insert(arrived_.end(), chunk.begin(), chunk.end());
}

void QtSocketControl::OnReadyRead() {
  // Without a handler that takes the bytes, they wait in Qt's bounded buffer
  // rather than piling up here.
  if (static_cast<qint64>(arrived_.size()) < kLargestPacket) Drain();
  if (!arrived_.empty() && onArrival_) onArrival_();
}

void QtSocketControl::OnHandshakeDeadline() {
  if (socket_ == nullptr || !handshakeDone_ || handshakeDone_()) return;
  if (socket_->state() != QAbstractSocket::ConnectedState) {
    Close();
    return;
  }
  CloseBecause("no handshake within " +
               QString::number(static_cast<double>(limits_.handshakeTimeout.count()) / 1000) +
               " s");
}

void QtSocketControl::CloseBecause(const QString& reason) {
  const QString peer = FormatEndpoint(socket_->peerAddress(), socket_->peerPort());
  std::fprintf(stderr, "quorvane: closing the connection from %s: %s\n", qPrintable(peer),
               qPrintable(reason));
  std::fflush(stderr);
  ResetOnClose(*socket_);
  Close();
}

}  // namespace quorvane
