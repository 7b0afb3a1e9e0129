#include "platform/net/qt_listener.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/loop/guarded.h"
#include "platform/output/stderr_report.h"
#include "socket_options.h"

namespace quorvane {

QString FormatEndpoint(const QHostAddress& address, quint16 port) {
  QString host = address.toString();
  if (address.protocol() == QAbstractSocket::IPv6Protocol) host = "[" + host + "]";
  return host + ":" + QString::number(port);
}

namespace {

// Connections taken per readiness event at most, so that a storm of them
// leaves room for the other events.
constexpr int kAcceptsPerEvent = 16;

// Port 0 on several addresses: the port the first one got may be taken on
// another, and a new one is tried this many times.
constexpr int kFreePortAttempts = 8;

// Whether `server` is one socket on every interface that takes IPv4 clients
// as well as IPv6 ones.
bool TakesIpv4AndIpv6(const QTcpServer& server) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  const int fd = static_cast<int>(server.socketDescriptor());
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      address.ss_family != AF_INET6) {
    return false;
  }
  int v6Only = 1;
  size = sizeof v6Only;
  return ::getsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, &size) == 0 && v6Only == 0;
}

// Failures that mean the system has no such address, rather than that it
// cannot be used.
bool AddressMissing(QAbstractSocket::SocketError error) {
  return error == QAbstractSocket::SocketAddressNotAvailableError ||
         error == QAbstractSocket::UnsupportedSocketOperationError;
}

// Waiting connections closed with the spare descriptor per failure at most.
constexpr unsigned kMostClosedUnserved = 64;

int OpenSpare() {
  return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

std::string Describe(int error) {
  const std::string reason = std::strerror(error);
  switch (error) {
    case EMFILE:
      return reason + " (EMFILE)";
    case ENFILE:
      return reason + " (ENFILE)";
    case ENOBUFS:
      return reason + " (ENOBUFS)";
    case ENOMEM:
      return reason + " (ENOMEM)";
    default:
      return reason;
  }
}

}  // namespace

QtListener::QtListener(QList<QHostAddress> addresses)
    : addresses_(std::move(addresses)),
      spare_(OpenSpare()),
      backoff_(clock_, ReportOnStderr, [this] { return RetryAccepting(); }) {}

QtListener::~QtListener() {
  sockets_.clear();
  if (spare_ >= 0) ::close(spare_);
}

void QtListener::SetAddresses(QList<QHostAddress> addresses) {
  addresses_ = std::move(addresses);
}

void QtListener::SetConnectionRequestHandler(RequestHandler handler) {
  onRequest_ = std::move(handler);
}

void QtListener::Bind(std::uint16_t port) {
  port_ = port;
}

void QtListener::Listen() {
  for (int attempt = 1; !ListenOn(port_); ++attempt) {
    if (attempt == kFreePortAttempts) {
      throw std::runtime_error("cannot listen on one free port on every address after " +
                               std::to_string(attempt) + " tries");
    }
  }
  if (sockets_.empty()) throw std::runtime_error(skipped_.join("; ").toStdString());
}

QtListener::ListeningSocket::~ListeningSocket() {
  watcher.reset();
  if (fd >= 0) ::close(fd);
}

bool QtListener::ListenOn(quint16 port) {
  sockets_.clear();
  skipped_.clear();
  for (const QHostAddress& address : addresses_) {
    QTcpServer server;
    if (server.listen(address, port)) {
      port = server.serverPort();
      // Accepted here rather than by Qt, which keeps the first error of a
      // socket for good and then takes every later one for it: after one
      // "nothing waiting" it never sees EMFILE (and spins), after one EMFILE
      // it stops accepting. The listening socket is taken over from Qt.
      auto socket = std::make_unique<ListeningSocket>();
      socket->address = server.serverAddress();
      socket->port = server.serverPort();
      socket->bothFamilies =
          socket->address == QHostAddress(QHostAddress::Any) && TakesIpv4AndIpv6(server);
      socket->fd = ::fcntl(static_cast<int>(server.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
      server.close();
      if (socket->fd < 0) {
        sockets_.clear();
        throw std::runtime_error("cannot listen on " + FormatEndpoint(address, port).toStdString() +
                                 ": " + std::strerror(errno));
      }
      ListeningSocket& accepting = *socket;
      socket->watcher = std::make_unique<QSocketNotifier>(socket->fd, QSocketNotifier::Read);
      QObject::connect(socket->watcher.get(), &QSocketNotifier::activated, socket->watcher.get(),
                       [this, &accepting] { AcceptPending(accepting); });
      sockets_.push_back(std::move(socket));
      continue;
    }
    const QString failure =
        "cannot listen on " + FormatEndpoint(address, port) + ": " + server.errorString();
    if (AddressMissing(server.serverError())) {
      skipped_ << failure;
      continue;
    }
    const bool freePortTakenElsewhere = port_ == 0 && !sockets_.empty() &&
                                        server.serverError() == QAbstractSocket::AddressInUseError;
    sockets_.clear();
    if (freePortTakenElsewhere) return false;
    throw std::runtime_error(failure.toStdString());
  }
  return true;
}

QStringList QtListener::Endpoints() const {
  QStringList endpoints;
  for (const auto& socket : sockets_) {
    if (socket->bothFamilies) {
      endpoints << FormatEndpoint(QHostAddress(QHostAddress::AnyIPv4), socket->port)
                << FormatEndpoint(QHostAddress(QHostAddress::AnyIPv6), socket->port);
    } else {
      endpoints << FormatEndpoint(socket->address, socket->port);
    }
  }
  return endpoints;
}

PeerEndpoint QtListener::PendingPeer(std::int32_t requestID) const {
  if (pending_ == nullptr || requestID != pendingID_) return {};
  return {pending_->peerAddress().toString().toStdString(), pending_->peerPort()};
}

void QtListener::Refuse(std::int32_t requestID) {
  if (pending_ == nullptr || requestID != pendingID_) return;
  QTcpSocket* refused = std::exchange(pending_, nullptr);
  ResetOnClose(static_cast<int>(refused->socketDescriptor()));
  refused->abort();
  refused->deleteLater();
}

QTcpSocket* QtListener::Take(std::int32_t requestID, QObject& owner) {
  if (pending_ == nullptr || requestID != pendingID_) return nullptr;
  pending_->setParent(&owner);
  return std::exchange(pending_, nullptr);
}

void QtListener::AcceptPending(ListeningSocket& listening) {
  for (int taken = 0; taken < kAcceptsPerEvent;) {
    const int fd = ::accept4(listening.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) AcceptFailed(listening, errno);
      return;
    }
    ++taken;
    auto* socket = new QTcpSocket(listening.watcher.get());
    if (!socket->setSocketDescriptor(fd)) {
      ::close(fd);
      delete socket;
      continue;
    }
    backoff_.Accepted();
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

void QtListener::AcceptFailed(ListeningSocket& listening, int error) {
  for (const auto& socket : sockets_) socket->watcher->setEnabled(false);
  outOfDescriptors_ = error == EMFILE || error == ENFILE;
  const unsigned closed = CloseWaiting(listening);
  backoff_.Failed(FormatEndpoint(listening.address, listening.port).toStdString(), Describe(error),
                  closed);
}

unsigned QtListener::CloseWaiting(ListeningSocket& listening) {
  if (spare_ >= 0) ::close(std::exchange(spare_, -1));
  unsigned closed = 0;
  while (closed < kMostClosedUnserved) {
    const int waiting = ::accept4(listening.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (waiting < 0) break;
    ResetOnClose(waiting);
    ::close(waiting);
    ++closed;
  }
  spare_ = OpenSpare();
  return closed;
}

bool QtListener::RetryAccepting() {
  if (spare_ < 0) spare_ = OpenSpare();
  for (const auto& socket : sockets_) socket->watcher->setEnabled(true);
  // Short of memory, only an accepted connection tells that it is over.
  if (!outOfDescriptors_) return false;
  const int probe = OpenSpare();
  if (probe < 0) return false;
  ::close(probe);
  return true;
}

}  // namespace quorvane
