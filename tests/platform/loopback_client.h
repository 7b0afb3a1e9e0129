// A protocol client for a server that runs on the test's own thread: it
// connects over loopback and, whenever it waits for the server, keeps the Qt
// event loop turning so that the server can answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "client/client_session.h"
#include "client/tcp_connection.h"
#include "spin.h"

namespace quorvane::testing {

class LoopbackClient {
 public:
  using Packet = client::Packet;

  LoopbackClient(std::uint16_t port, std::uint32_t seed)
      : connection_(client::TcpConnection::Connect("127.0.0.1", port, std::chrono::seconds(5))),
        session_(seed) {}

  // Sends the hello and waits for the reply; false when none came.
  bool Handshake() {
    connection_.SendAll(session_.Hello());
    SpinUntil([this] {
      return session_.phase() != client::ClientSession::Phase::kAwaitingReply || !ReadNow();
    });
    return session_.phase() == client::ClientSession::Phase::kOpen;
  }

  void Send(std::int16_t opcode, ByteView payload) {
    connection_.SendAll(session_.Seal(opcode, payload));
  }

  // The next packet, or nothing when none came within 5 s or the connection
  // closed.
  std::optional<Packet> NextPacket() {
    SpinUntil([this] { return !queued_.empty() || !ReadNow(); });
    if (queued_.empty()) return std::nullopt;
    Packet next = std::move(queued_.front());
    queued_.pop_front();
    return next;
  }

  // True when the server closed the connection within `timeout`.
  bool WaitClosed(std::chrono::milliseconds timeout) {
    SpinUntil([this] { return !ReadNow(); }, timeout);
    return closed_;
  }

  bool closed() const { return closed_; }
  client::TcpConnection& connection() { return connection_; }
  client::ClientSession& session() { return session_; }

 private:
  // Takes whatever has arrived; false once the connection has closed.
  bool ReadNow() {
    if (closed_) return false;
    Bytes arrived;
    const auto status = connection_.ReadSome(arrived, std::chrono::milliseconds(0));
    if (status == client::TcpConnection::ReadStatus::kClosed) closed_ = true;
    for (Packet& packet : session_.Receive(arrived)) queued_.push_back(std::move(packet));
    return !closed_;
  }

  client::TcpConnection connection_;
  client::ClientSession session_;
  std::deque<Packet> queued_;
  bool closed_ = false;
};

}  // namespace quorvane::testing
