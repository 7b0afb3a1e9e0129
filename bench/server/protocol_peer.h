// A player on the real server. The handshake and the checks run through the
// client library; the timed loops use the bare socket, and whatever arrived
// there is opened afterwards, in order, so every packet is still checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/client_session.h"
#include "wire.h"

namespace quorvane::bench {

using client::Packet;

class ProtocolPeer {
 public:
  // Connects and completes the handshake; throws when it fails.
  ProtocolPeer(std::uint16_t port, std::uint32_t clientSeed);

  int fd() const { return connection_.get(); }
  Bytes Seal(std::int16_t opcode, ByteView payload) { return session_.Seal(opcode, payload); }

  // Opens bytes that arrived on fd() in the timed loops; throws when they
  // break the sequence.
  std::vector<Packet> Open(ByteView bytes);
  // Reads until a packet with `opcode` has arrived. Returns every packet
  // opened; `byteCount` gets the bytes read.
  std::vector<Packet> ReadThrough(std::int16_t opcode, std::size_t& byteCount);

 private:
  Fd connection_;
  client::ClientSession session_;
};

// Throws std::runtime_error("what: ...") unless `packet` is `opcode` with `payload`.
void Expect(const Packet& packet, std::int16_t opcode, ByteView payload, const std::string& what);

}  // namespace quorvane::bench
