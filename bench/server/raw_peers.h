// The baselines: servers on plain sockets that do no work but read and write
// the byte counts the real server reads and writes. Each serves one client (or
// one pair) until the client closes. Like the real server they wait for
// readiness (epoll) before each read, so a request costs them epoll_wait,
// recv and send.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "wire.h"

namespace quorvane::bench {

// A baseline server in a child process of its own, as the real server is
// one, so both pay the same switches between processes. Listens before the
// fork; the child serves until its client closes, then exits.
class PeerProcess {
 public:
  PeerProcess() = default;
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;
  ~PeerProcess();

  std::uint16_t port() const { return port_; }
  // Waits for the child to end; throws when it failed.
  void Join();

 protected:
  template <typename Serve>
  void Start(Serve serve) {
    const Fd listener = ListenLoopback();
    port_ = PortOf(listener.get());
    pid_ = Fork();
    if (pid_ == 0) ServeAndExit([&] { serve(listener.get()); });
  }

 private:
  static pid_t Fork();
  // Reports a failure on standard error; never returns.
  [[noreturn]] static void ServeAndExit(const std::function<void()>& serve);

  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Answers every request of `requestSize` bytes with `replySize` bytes in one
// write: the echo under a ping, the burst under a login.
class RawEcho : public PeerProcess {
 public:
  RawEcho(std::size_t requestSize, std::size_t replySize);
};

// Accepts the sender, then the receiver. For every whole `packetSize` bytes
// the sender writes, it writes `echoSize` bytes back to the sender and
// `relaySize` bytes to the receiver, a whole read's worth at a time, as the
// server does with the packets of one arrival: one packet at a time or a
// stream alike.
class RawForwarder : public PeerProcess {
 public:
  RawForwarder(std::size_t packetSize, std::size_t echoSize, std::size_t relaySize);
};

// Accepts `count` connections and closes each at once, as the real server
// closes one that no slot takes: the floor under a refused connection.
class RawRefuser : public PeerProcess {
 public:
  explicit RawRefuser(std::size_t count);
};

}  // namespace quorvane::bench
