#include "wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvane::bench {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK) {
    throw std::runtime_error(what + ": timed out");
  }
  throw std::runtime_error(what + ": " + std::strerror(error));
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Fd::~Fd() {
  Close();
}

void Fd::Close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void Tune(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const timeval timeout{.tv_sec = kIoTimeout.count(), .tv_usec = 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

Fd ListenLoopback() {
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.get() < 0) Fail("socket");
  const sockaddr_in address = Loopback(0);
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    Fail("bind 127.0.0.1");
  }
  if (::listen(listener.get(), 4) != 0) Fail("listen");
  return listener;
}

std::uint16_t PortOf(int listener) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    Fail("getsockname");
  }
  return ntohs(address.sin_port);
}

Fd AcceptWithin(int listener, std::chrono::milliseconds timeout) {
  pollfd waiter{listener, POLLIN, 0};
  const int ready = ::poll(&waiter, 1, static_cast<int>(timeout.count()));
  if (ready == 0) throw std::runtime_error("accept: no connection came in time");
  if (ready < 0) Fail("poll");
  Fd accepted(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (accepted.get() < 0) Fail("accept");
  Tune(accepted.get());
  return accepted;
}

Fd ConnectLoopback(std::uint16_t port) {
  return ConnectLoopbackFrom(nullptr, port);
}

Fd ConnectLoopbackFrom(const char* source, std::uint16_t port) {
  Fd connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (connection.get() < 0) Fail("socket");
  Tune(connection.get());
  if (source != nullptr) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    if (::inet_pton(AF_INET, source, &from.sin_addr) != 1) Fail(std::string("address ") + source);
    if (::bind(connection.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
      Fail(std::string("bind to ") + source);
    }
  }
  const sockaddr_in address = Loopback(port);
  if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
      0) {
    Fail("connect to 127.0.0.1:" + std::to_string(port));
  }
  return connection;
}

void AwaitEnd(int fd) {
  std::uint8_t byte = 0;
  for (;;) {
    const ssize_t got = ::recv(fd, &byte, 1, 0);
    if (got == 0 || (got < 0 && errno == ECONNRESET)) return;
    if (got > 0) throw std::runtime_error("bytes came on a connection that was to be refused");
    if (errno != EINTR) Fail("recv");
  }
}

void SendAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      Fail("send");
    }
    bytes = bytes.subspan(static_cast<std::size_t>(sent));
  }
}

void ReceiveExactly(int fd, std::span<std::uint8_t> into) {
  while (!into.empty()) {
    const std::size_t got = ReceiveSome(fd, into);
    if (got == 0) throw std::runtime_error("receive: the peer closed the connection");
    into = into.subspan(got);
  }
}

std::size_t ReceiveSome(int fd, std::span<std::uint8_t> into) {
  for (;;) {
    const ssize_t got = ::recv(fd, into.data(), into.size(), 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) Fail("receive");
  }
}

std::size_t SendSome(int fd, std::span<const std::uint8_t> bytes) {
  for (;;) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) Fail("send");
  }
}

}  // namespace quorvane::bench
