// The clients of the soak test that come and go: short-lived, refused,
// vanishing half-way, flooding garbage or never reading. Each runs one visit
// to the server's free slot and checks what the server does with it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "client/client_session.h"
#include "client/tcp_connection.h"

namespace quorvane::testing {

// One connection with the client's side of the protocol on it.
class Visitor {
 public:
  Visitor(std::uint16_t port, std::uint32_t seed);

  // Sends the hello and waits for the reply; false when the connection closed
  // or nothing came within `timeout`.
  bool Handshake(std::chrono::milliseconds timeout);
  void Send(std::int16_t opcode, ByteView payload);
  void SendRaw(ByteView bytes);
  // The next packet; nothing when the connection closed or none came in time.
  std::optional<client::Packet> NextPacket(std::chrono::milliseconds timeout);
  // Pings and reads up to the answer; true when it came and was right.
  bool Pinged();
  // Reads and drops until the server closes; false when it did not in time.
  bool WaitClosed(std::chrono::milliseconds timeout);
  // Leaves with a reset instead of a polite close.
  void Reset();

  client::ClientSession& session() { return session_; }

 private:
  client::TcpConnection connection_;
  client::ClientSession session_;
  std::deque<client::Packet> queued_;
};

class HostileClients {
 public:
  explicit HostileClients(std::uint16_t port) : port_(port) {}

  // Connects and leaves at once, politely or with a reset.
  void ConnectAndLeave(bool reset);
  // A client with its handshake done in the free slot; it tries again while
  // the server still counts the slot's previous client as there.
  std::unique_ptr<Visitor> JoinFreeSlot();
  // Joins, logs in as `name`, sends "soak chat N", pings; true when the
  // answer came. Then closes politely.
  bool FullVisit(const std::string& name, int chatNumber);
  // Holds the free slot, opens `count` connections at once and returns how
  // many of them the server closed; false in `heldServed` when the holder's
  // ping then went unanswered.
  int StormWhileFull(int count, bool& heldServed);
  // Sends part of the hello, then resets.
  void VanishMidHandshake();
  // Asks to log in as `name`, then resets while the server answers.
  void VanishMidLogin(const std::string& name);
  // Sends the chat line "soak chat N", then the first bytes of another packet,
  // then closes politely.
  void LeaveMidPacket(int chatNumber);
  // Sends up to `bytes` of random bytes with no handshake; true when the
  // server closed the connection in the end.
  bool FloodBeforeHandshake(std::size_t bytes);
  // After the handshake, sends `bytes` of random bytes; true when the
  // connection was still open afterwards.
  bool FloodAfterHandshake(std::size_t bytes);
  // After the handshake, sends a whole packet declaring a 65,535-byte payload
  // but its last byte, waits `hold` and leaves.
  void StallInLargestPacket(std::chrono::milliseconds hold);
  // After the handshake, sends large chat lines without ever reading; true
  // when the server closed the connection before `maxLines`.
  bool ChatWithoutReading(int maxLines);

 private:
  Bytes RandomBytes(std::size_t count);

  std::uint16_t port_;
  std::uint32_t nextSeed_ = 1;
  std::mt19937 random_{20240517};
};

}  // namespace quorvane::testing
