// A client that talks to a server step by step: connect, handshake, send a
// packet, wait for the next one. For tests and benchmarks that need a real
// peer over TCP.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "client/client_session.h"
#include "client/tcp_connection.h"

namespace quorvane::client {

class SyncClient {
 public:
  // Connects (from `localAddress` when given) and sends the hello;
  // Handshake() waits for the reply.
  SyncClient(const std::string& host, std::uint16_t port, std::uint32_t clientSeed,
             std::chrono::milliseconds timeout = std::chrono::seconds(5),
             const std::string& localAddress = {});

  // Waits for the server's reply to the hello; false when none came in time,
  // the connection closed or the reply was malformed.
  bool Handshake(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  void Send(std::int16_t opcode, ByteView payload);
  // Writes bytes as they stand (a sealed packet in parts, garbage).
  void SendRaw(ByteView bytes);
  ClientSession& session() { return session_; }

  // The next packet from the server, or nothing when none came in time.
  std::optional<Packet> NextPacket(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // True when the server closed the connection within the timeout; packets
  // that arrive meanwhile stay queued for NextPacket.
  bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  bool closed() const { return closed_; }

 private:
  // Reads once, waiting at most until the deadline; false on timeout or close.
  bool ReadOnce(std::chrono::steady_clock::time_point deadline);

  TcpConnection connection_;
  ClientSession session_;
  std::deque<Packet> queued_;
  bool closed_ = false;
};

}  // namespace quorvane::client
