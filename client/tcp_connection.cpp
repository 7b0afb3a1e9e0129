#include "client/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace quorvane::client {
namespace {

std::string ErrnoText(int error) {
  return std::strerror(error);
}

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// Connects one resolved address within the timeout, from `local` when given;
// returns the fd or -1 with errno set.
int ConnectWithin(const addrinfo& address, const addrinfo* local,
                  std::chrono::milliseconds timeout) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          address.ai_protocol);
  if (fd < 0) return -1;
  int error = 0;
  if (local != nullptr && ::bind(fd, local->ai_addr, local->ai_addrlen) != 0) {
    error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd waiter{fd, POLLOUT, 0};
      const int ready = ::poll(&waiter, 1, static_cast<int>(timeout.count()));
      socklen_t size = sizeof error;
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
      }
    }
  }
  if (error == 0) {
    // Back to blocking: reads wait through poll with their own timeouts.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) error = errno;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

TcpConnection TcpConnection::Connect(const std::string& host, std::uint16_t port,
                                     std::chrono::milliseconds timeout,
                                     const std::string& localAddress) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  const std::string where = host + ":" + service;
  if (status != 0) {
    throw std::runtime_error("cannot resolve " + host + ": " + ::gai_strerror(status));
  }
  const std::unique_ptr<addrinfo, AddrInfoDeleter> addresses(found);
  std::unique_ptr<addrinfo, AddrInfoDeleter> local;
  if (!localAddress.empty()) {
    addrinfo localHints{};
    localHints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    localHints.ai_socktype = SOCK_STREAM;
    addrinfo* resolved = nullptr;
    const int localStatus = ::getaddrinfo(localAddress.c_str(), nullptr, &localHints, &resolved);
    if (localStatus != 0) {
      throw std::runtime_error("not a local address: " + localAddress + ": " +
                               ::gai_strerror(localStatus));
    }
    local.reset(resolved);
  }
  int lastError = 0;
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    if (local && local->ai_family != address->ai_family) {
      lastError = EAFNOSUPPORT;
      continue;
    }
    const int fd = ConnectWithin(*address, local.get(), timeout);
    if (fd >= 0) return TcpConnection(fd);
    lastError = errno;
  }
  throw std::runtime_error("cannot connect to " + where + ": " + ErrnoText(lastError));
}

TcpConnection::TcpConnection(TcpConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

TcpConnection::~TcpConnection() {
  Close();
}

void TcpConnection::SendAll(ByteView bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t written = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot send: " + ErrnoText(errno));
    }
    sent += static_cast<std::size_t>(written);
  }
}

TcpConnection::ReadStatus TcpConnection::ReadSome(Bytes& into, std::chrono::milliseconds timeout) {
  pollfd waiter{fd_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiter, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return ReadStatus::kTimeout;
  if (ready < 0) throw std::runtime_error("cannot wait for data: " + ErrnoText(errno));
  std::uint8_t chunk[65536];
  ssize_t got = 0;
  do {
    got = ::recv(fd_, chunk, sizeof chunk, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0 && (errno == ECONNRESET || errno == EPIPE)) return ReadStatus::kClosed;
  if (got < 0) throw std::runtime_error("cannot receive: " + ErrnoText(errno));
  if (got == 0) return ReadStatus::kClosed;
  into.insert(into.end(), chunk, chunk + got);
  return ReadStatus::kData;
}

void TcpConnection::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace quorvane::client
