#include "qt_socket_control.h"

#include <utility>

#include "guarded.h"
#include "socket_options.h"

namespace quorvane {

QtSocketControl::QtSocketControl(QtListener& listener, std::size_t sendBound)
    : listener_(listener), sendBound_(sendBound) {}

// The handlers' owner may be gone already; the connection goes unreported.
QtSocketControl::~QtSocketControl() {
  onArrival_ = nullptr;
  onClosed_ = nullptr;
  Close();
}

void QtSocketControl::Accept(std::int32_t requestID) {
  Close();
  socket_ = listener_.Take(requestID, owner_);
  if (socket_ == nullptr) return;
  live_ = socket_->state() == QAbstractSocket::ConnectedState;
  failed_ = false;
  endReason_ = CloseReason::kPeerClosed;
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
                   [this](QAbstractSocket::SocketError error) { OnError(error); });
  QObject::connect(socket_, &QTcpSocket::disconnected, socket_,
                   [this] { RunGuarded("the end of a connection", [this] { OnDisconnected(); }); });
}

void QtSocketControl::Close() {
  End(CloseReason::kClosedByUs, false);
}

void QtSocketControl::Reset() {
  End(CloseReason::kClosedByUs, true);
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

std::string QtSocketControl::PeerAddress() const {
  if (socket_ == nullptr || socket_->peerAddress().isNull()) return {};
  return FormatEndpoint(socket_->peerAddress(), socket_->peerPort()).toStdString();
}

void QtSocketControl::GetData(Bytes& into) {
  Drain();
  into.insert(into.end(), arrived_.begin(), arrived_.end());
  arrived_.clear();
}

void QtSocketControl::SendData(ByteView bytes) {
  if (socket_ == nullptr || socket_->state() != QAbstractSocket::ConnectedState) return;
  socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  if (PendingBytes() > sendBound_) End(CloseReason::kSendBound, true);
}

std::size_t QtSocketControl::PendingBytes() const {
  return socket_ == nullptr ? 0 : static_cast<std::size_t>(socket_->bytesToWrite());
}

void QtSocketControl::SetDataArrivalHandler(std::function<void()> handler) {
  onArrival_ = std::move(handler);
}

void QtSocketControl::SetClosedHandler(ClosedHandler handler) {
  onClosed_ = std::move(handler);
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

// Comes before the disconnection it causes.
void QtSocketControl::OnError(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
      endReason_ = CloseReason::kPeerClosed;
      return;
    case QAbstractSocket::SocketTimeoutError:
      endReason_ = CloseReason::kTimedOut;
      break;
    default:
      endReason_ = CloseReason::kReset;
      break;
  }
  failed_ = true;
}

// The socket stays, unconnected, until the next Close or Accept: it may not be
// deleted inside its own signal, and State() keeps telling how it ended.
void QtSocketControl::OnDisconnected() {
  if (!std::exchange(live_, false)) return;
  if (onClosed_) onClosed_(endReason_);
}

void QtSocketControl::End(CloseReason reason, bool reset) {
  arrived_.clear();
  QTcpSocket* socket = std::exchange(socket_, nullptr);
  if (socket == nullptr) return;
  if (reset) ResetOnClose(*socket);
  socket->disconnect();
  socket->abort();
  // This may run inside one of the socket's own signals.
  socket->deleteLater();
  if (std::exchange(live_, false) && onClosed_) onClosed_(reason);
}

}  // namespace quorvane
