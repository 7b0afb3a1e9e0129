#include "platform/net/qt_socket_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpSocket>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/loop/guarded.h"
#include "platform/output/stderr_report.h"
#include "socket_options.h"

namespace quorvane {
namespace {

// Why a connection whose read or send failed with `error` ended.
CloseReason ReasonOf(int error) {
  return error == ETIMEDOUT ? CloseReason::kTimedOut : CloseReason::kReset;
}

}  // namespace

QtSocketControl::QtSocketControl(QtListener& listener, std::size_t sendBound)
    : listener_(listener),
      sendBound_(sendBound),
      arrived_(std::make_unique_for_overwrite<std::uint8_t[]>(kLargestPacket)) {
  QObject::connect(&readable_, &QSocketNotifier::activated, &readable_,
                   [this] { RunGuarded("a data arrival", [this] { OnReadable(); }); });
  QObject::connect(&writable_, &QSocketNotifier::activated, &writable_,
                   [this] { RunGuarded("a send", [this] { Flush(); }); });
}

// The handlers' owner may be gone already; the connection goes unreported.
QtSocketControl::~QtSocketControl() {
  onArrival_ = nullptr;
  onClosed_ = nullptr;
  Close();
}

void QtSocketControl::Accept(std::int32_t requestID) {
  Close();
  // Qt's socket closes its own descriptor when `holder` deletes it at the end
  // of this call; the connection lives on in the copy taken here. The
  // listener hands the connection over within its own event, before Qt has
  // read anything from it.
  QObject holder;
  const QTcpSocket* socket = listener_.Take(requestID, holder);
  if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) return;
  const std::string peer = FormatEndpoint(socket->peerAddress(), socket->peerPort()).toStdString();
  const int descriptor = ::fcntl(static_cast<int>(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    const std::string message = std::string("cannot take the connection: ") + std::strerror(errno);
    ReportOnStderr({.severity = Severity::kError, .subject = peer, .message = message});
    return;
  }
  descriptor_ = descriptor;
  peer_ = peer;
  state_ = kConnected;
  MakeNonBlocking(descriptor_);
  EnableLowDelay(descriptor_);
  EnableKeepAlive(descriptor_);
  readable_.setSocket(descriptor_);
  writable_.setSocket(descriptor_);
  readable_.setEnabled(true);
}

void QtSocketControl::Close() {
  End(CloseReason::kClosedByUs, false);
}

void QtSocketControl::Reset() {
  End(CloseReason::kClosedByUs, true);
}

// A close with unread input makes the system reset the connection, which
// may throw away what was just sent: the peer's last bytes are read and
// dropped, and the sending side shut down first, so the end follows the data.
void QtSocketControl::CloseAfterSending() {
  if (state_ != kConnected) return;
  Flush();
  if (state_ != kConnected) return;
  ::shutdown(descriptor_, SHUT_WR);
  // Bounded, so that a peer that keeps sending cannot hold the event thread.
  std::uint8_t discard[16 * 1024];
  for (int read = 0; read < 16 && ::recv(descriptor_, discard, sizeof discard, 0) > 0; ++read) {
  }
  End(CloseReason::kClosedByUs, false);
}

std::int16_t QtSocketControl::State() const {
  return state_;
}

// Asks the kernel without reading: a peer's close or reset shows as a hang-up
// before the event loop has come round to the descriptor.
void QtSocketControl::CheckEnded() {
  if (state_ != kConnected) return;
  pollfd watched{.fd = descriptor_, .events = POLLRDHUP, .revents = 0};
  if (::poll(&watched, 1, 0) != 1 || (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0) {
    return;
  }
  // What the peer sent before it went is handled first, as its own arrivals
  // would have been, and then its end: a chat line sent just before leaving
  // still reaches the other player.
  while (state_ == kConnected && arrivedCount_ < kLargestPacket) {
    const std::size_t before = arrivedCount_;
    if (const std::optional<CloseReason> ending = ReadArrived()) {
      End(*ending, false);
      return;
    }
    if (arrivedCount_ == before) return;
    if (onArrival_) onArrival_();
  }
}

std::string QtSocketControl::PeerAddress() const {
  return peer_;
}

void QtSocketControl::GetData(Bytes& into) {
  into.insert(into.end(), arrived_.get(), arrived_.get() + arrivedCount_);
  arrivedCount_ = 0;
  // There is room again for what waits in the kernel.
  if (state_ == kConnected && !readable_.isEnabled()) readable_.setEnabled(true);
}

void QtSocketControl::SendData(ByteView bytes) {
  if (state_ != kConnected) return;
  output_.insert(output_.end(), bytes.begin(), bytes.end());
  if (PendingBytes() > sendBound_) {
    End(CloseReason::kSendBound, true);
    return;
  }
  if (!sendScheduled_) {
    sendScheduled_ = true;
    FlushAtEndOfEvent(*this);
  }
}

std::size_t QtSocketControl::PendingBytes() const {
  return output_.size() - outputSent_;
}

void QtSocketControl::SetDataArrivalHandler(std::function<void()> handler) {
  onArrival_ = std::move(handler);
}

void QtSocketControl::SetClosedHandler(ClosedHandler handler) {
  onClosed_ = std::move(handler);
}

// Bytes and the end of the connection never come in one read: the end is
// reported by itself, bytes that nobody took before it dropped.
void QtSocketControl::OnReadable() {
  const std::size_t before = arrivedCount_;
  if (const std::optional<CloseReason> ending = ReadArrived()) {
    End(*ending, false);
    return;
  }
  // A full buffer leaves the rest in the kernel, unread, until GetData makes
  // room.
  if (arrivedCount_ == kLargestPacket) readable_.setEnabled(false);
  if (arrivedCount_ > before && onArrival_) onArrival_();
}

// One recv fills whatever room the buffer has; a read that leaves some free
// found the kernel's queue empty, so there is nothing to try again for.
std::optional<CloseReason> QtSocketControl::ReadArrived() {
  ssize_t got = 0;
  do {
    got = ::recv(descriptor_, arrived_.get() + arrivedCount_, kLargestPacket - arrivedCount_, 0);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    arrivedCount_ += static_cast<std::size_t>(got);
    return std::nullopt;
  }
  if (got == 0) return CloseReason::kPeerClosed;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
  return ReasonOf(errno);
}

// A send that the kernel takes only in part means its buffer is full: the
// write notifier then waits for room instead of a second send meeting EAGAIN.
void QtSocketControl::Flush() {
  while (state_ == kConnected && outputSent_ < output_.size()) {
    const std::size_t waiting = output_.size() - outputSent_;
    const ssize_t sent = ::send(descriptor_, output_.data() + outputSent_, waiting, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      End(ReasonOf(errno), false);
      return;
    }
    if (sent > 0) outputSent_ += static_cast<std::size_t>(sent);
    if (sent < 0 || static_cast<std::size_t>(sent) < waiting) {
      // Sent bytes are dropped from the front once they are half the buffer,
      // so a long wait moves each byte about once.
      if (outputSent_ * 2 >= output_.size()) {
        output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(outputSent_));
        outputSent_ = 0;
      }
      writable_.setEnabled(true);
      return;
    }
  }
  output_.clear();
  outputSent_ = 0;
  sendScheduled_ = false;
  writable_.setEnabled(false);
}

void QtSocketControl::End(CloseReason reason, bool reset) {
  CancelFlush(*this);
  arrivedCount_ = 0;
  output_.clear();
  outputSent_ = 0;
  sendScheduled_ = false;
  peer_.clear();
  const bool live = state_ == kConnected;
  state_ = reason == CloseReason::kReset || reason == CloseReason::kTimedOut ? kError : kClosed;
  if (descriptor_ >= 0) {
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    if (reset) ResetOnClose(descriptor_);
    ::close(std::exchange(descriptor_, -1));
  }
  if (live && onClosed_) onClosed_(reason);
}

}  // namespace quorvane
