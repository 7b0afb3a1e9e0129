// The client's side of one connection, free of I/O: the seed handshake, then
// sealing outgoing packets and opening the server's packets as bytes arrive,
// however TCP splits or joins them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelvane.hpp"
#include "session/bytes.h"

namespace quorvane::client {

struct Packet {
  std::int16_t opcode = 0;
  Bytes payload;
  friend bool operator==(const Packet&, const Packet&) = default;
};

class ClientSession {
 public:
  enum class Phase { kAwaitingReply, kOpen, kBroken };

  explicit ClientSession(std::uint32_t clientSeed);

  // The escaped hello that opens the connection.
  Bytes Hello() const;

  // Takes arrived bytes; returns the packets they complete, in order. Before
  // the reply has come, bytes are gathered until its end marker. A reply that
  // is not one, or a packet that fails its sequence check, breaks the session:
  // Phase() turns kBroken and Error() says why.
  std::vector<Packet> Receive(ByteView bytes);

  // The sealed packet; only once the handshake is done.
  Bytes Seal(std::int16_t opcode, ByteView payload);

  Phase phase() const { return phase_; }
  const std::string& Error() const { return error_; }
  std::uint32_t ServerSeed() const { return state_.serverSeed; }

 private:
  void CompleteHandshake();
  void OpenPackets(std::vector<Packet>& into);
  void Break(std::string reason);

  Phase phase_ = Phase::kAwaitingReply;
  std::string error_;
  CipherState state_{};
  kelvane::ReceiveBuffer received_;
};

}  // namespace quorvane::client
