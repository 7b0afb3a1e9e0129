// Plain loopback TCP for the benchmark: the same calls serve the protocol
// clients' timed loops and the raw baselines, so both sides pay the same
// client costs. Every blocking call is bounded by the socket's timeouts.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvane::bench {

inline constexpr std::chrono::seconds kIoTimeout{10};

// An owned socket descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept;
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();

  int get() const { return fd_; }
  void Close();

 private:
  int fd_ = -1;
};

// Sets TCP_NODELAY and the read and write timeouts on a connected socket.
void Tune(int fd);

// A listening socket on 127.0.0.1 at a port the OS picks.
Fd ListenLoopback();
std::uint16_t PortOf(int listener);
// The next connection, tuned; throws when none comes within the timeout.
Fd AcceptWithin(int listener, std::chrono::milliseconds timeout);
Fd ConnectLoopback(std::uint16_t port);
// From `source` (127.0.0.2 and beyond: a stranger, not a player).
Fd ConnectLoopbackFrom(const char* source, std::uint16_t port);
// Waits until the peer ends the connection, by a close or a reset.
void AwaitEnd(int fd);

// Each throws std::runtime_error on failure or timeout.
void SendAll(int fd, std::span<const std::uint8_t> bytes);
void ReceiveExactly(int fd, std::span<std::uint8_t> into);
// What one read yields, up to into.size(); 0 when the peer closed.
std::size_t ReceiveSome(int fd, std::span<std::uint8_t> into);
// What one write takes without waiting, up to bytes.size(); 0 when the
// socket has no room.
std::size_t SendSome(int fd, std::span<const std::uint8_t> bytes);

}  // namespace quorvane::bench
