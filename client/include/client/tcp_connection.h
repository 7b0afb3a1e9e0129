// A plain blocking-with-timeouts TCP connection over POSIX sockets, for the
// command-line client and for tests that need a real peer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "client/client_session.h"

namespace quorvane::client {

class TcpConnection {
 public:
  enum class ReadStatus { kData, kTimeout, kClosed };

  // Throws std::runtime_error saying what failed. A `localAddress` (a
  // numeric address such as 127.0.0.2) is the address to connect from.
  static TcpConnection Connect(const std::string& host, std::uint16_t port,
                               std::chrono::milliseconds timeout,
                               const std::string& localAddress = {});

  TcpConnection(TcpConnection&& other) noexcept;
  TcpConnection& operator=(TcpConnection&& other) noexcept;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;
  ~TcpConnection();

  // Writes every byte; throws std::runtime_error when the connection fails.
  void SendAll(ByteView bytes);
  // Waits up to `timeout` for bytes and appends what one read yields. A reset
  // by the peer counts as closed.
  ReadStatus ReadSome(Bytes& into, std::chrono::milliseconds timeout);
  void Close();

  int fd() const { return fd_; }

 private:
  explicit TcpConnection(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace quorvane::client
