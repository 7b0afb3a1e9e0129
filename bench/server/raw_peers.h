// The baselines: servers on plain sockets that do no work but read and write
// the byte counts the real server reads and writes. Each serves one client (or
// one pair) on its own thread until the client closes, then the thread ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>

#include "wire.h"

namespace quorvane::bench {

// A peer thread that rethrows its failure when joined.
class PeerThread {
 public:
  PeerThread() = default;
  PeerThread(const PeerThread&) = delete;
  PeerThread& operator=(const PeerThread&) = delete;
  ~PeerThread();

  std::uint16_t port() const { return port_; }
  // Waits for the thread; throws what it failed with.
  void Join();

 protected:
  // Listens, then runs `serve` on the thread.
  template <typename Serve>
  void Start(Serve serve) {
    listener_ = ListenLoopback();
    port_ = PortOf(listener_.get());
    thread_ = std::thread([this, serve] {
      try {
        serve(listener_.get());
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
  }

 private:
  Fd listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::exception_ptr failure_;
};

// Answers every request of `requestSize` bytes with `replySize` bytes in one
// write: the echo under a ping, the burst under a login.
class RawEcho : public PeerThread {
 public:
  RawEcho(std::size_t requestSize, std::size_t replySize);
};

// Accepts the sender, then the receiver. For every whole `packetSize` bytes
// the sender writes, it writes `echoSize` bytes back to the sender and
// `relaySize` bytes to the receiver, a whole read's worth at a time, as the
// server does with the packets of one arrival.
class RawForwarder : public PeerThread {
 public:
  RawForwarder(std::size_t packetSize, std::size_t echoSize, std::size_t relaySize);
};

}  // namespace quorvane::bench
