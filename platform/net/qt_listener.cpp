#include "platform/net/qt_listener.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace

QtListener::QtListener(QList<QHostAddress> addresses)
    : addresses_(std::move(addresses)),
      spare_(OpenSpare()),
      backoff_(clock_, ReportOnStderr, [this] { return RetryAccepting(); }) {}

QtListener::~QtListener() {
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
  if (servers_.empty()) throw std::runtime_error(skipped_.join("; ").toStdString());
}

bool QtListener::ListenOn(quint16 port) {
  servers_.clear();
  skipped_.clear();
  for (const QHostAddress& address : addresses_) {
    auto server = std::make_unique<QTcpServer>();
    if (server->listen(address, port)) {
      port = server->serverPort();
      QTcpServer& accepting = *server;
      QObject::connect(&accepting, &QTcpServer::newConnection, &accepting,
                       [this, &accepting] { AcceptPending(accepting); });
      QObject::connect(&accepting, &QTcpServer::acceptError, &accepting, [this, &accepting] {
        RunGuarded("a failed accept", [this, &accepting] { AcceptFailed(accepting); });
      });
      servers_.push_back(std::move(server));
      continue;
    }
    const QString failure =
        "cannot listen on " + FormatEndpoint(address, port) + ": " + server->errorString();
    if (AddressMissing(server->serverError())) {
      skipped_ << failure;
      continue;
    }
    const bool freePortTakenElsewhere = port_ == 0 && !servers_.empty() &&
                                        server->serverError() == QAbstractSocket::AddressInUseError;
    servers_.clear();
    if (freePortTakenElsewhere) return false;
    throw std::runtime_error(failure.toStdString());
  }
  return true;
}

QStringList QtListener::Endpoints() const {
  QStringList endpoints;
  for (const auto& server : servers_) {
    if (server->serverAddress() == QHostAddress(QHostAddress::Any) && TakesIpv4AndIpv6(*server)) {
      endpoints << FormatEndpoint(QHostAddress(QHostAddress::AnyIPv4), server->serverPort())
                << FormatEndpoint(QHostAddress(QHostAddress::AnyIPv6), server->serverPort());
    } else {
      endpoints << FormatEndpoint(server->serverAddress(), server->serverPort());
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

void QtListener::AcceptPending(QTcpServer& server) {
  while (QTcpSocket* socket = server.nextPendingConnection()) {
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

}  // namespace quorvane

namespace quorvane {

void QtListener::AcceptFailed(QTcpServer& server) {
  for (const auto& other : servers_) other->pauseAccepting();
  // Qt keeps errno to itself: a descriptor of our own tells which shortage it is.
  std::string reason;
  const int probe = OpenSpare();
  if (probe >= 0) {
    ::close(probe);
    memoryShort_ = server.serverError() == QAbstractSocket::SocketResourceError;
    reason = memoryShort_ ? "out of memory or buffer space (ENOMEM, ENOBUFS)"
                          : server.errorString().toStdString();
  } else {
    memoryShort_ = false;
    reason = std::string(std::strerror(errno)) + (errno == EMFILE   ? " (EMFILE)"
                                                  : errno == ENFILE ? " (ENFILE)"
                                                                    : "");
  }
  const unsigned closed = CloseWaiting(server);
  backoff_.Failed(FormatEndpoint(server.serverAddress(), server.serverPort()).toStdString(), reason,
                  closed);
}

unsigned QtListener::CloseWaiting(QTcpServer& server) {
  if (spare_ >= 0) ::close(std::exchange(spare_, -1));
  const int fd = static_cast<int>(server.socketDescriptor());
  unsigned closed = 0;
  while (closed < kMostClosedUnserved) {
    const int waiting = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
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
  for (const auto& server : servers_) server->resumeAccepting();
  if (memoryShort_) return false;  // only an accepted connection tells
  const int probe = OpenSpare();
  if (probe < 0) return false;
  ::close(probe);
  return true;
}

}  // namespace quorvane
