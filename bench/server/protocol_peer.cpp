#include "protocol_peer.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace quorvane::bench {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;

std::string Hex(ByteView bytes) {
  std::string text;
  char digits[4];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", byte);
    text += digits;
  }
  return text;
}

}  // namespace

ProtocolPeer::ProtocolPeer(std::uint16_t port, std::uint32_t clientSeed)
    : connection_(ConnectLoopback(port)), session_(clientSeed) {
  SendAll(fd(), session_.Hello());
  Bytes arrived(kReadSize);
  while (session_.phase() == client::ClientSession::Phase::kAwaitingReply) {
    const std::size_t got = ReceiveSome(fd(), arrived);
    if (got == 0) throw std::runtime_error("handshake: the server closed the connection");
    if (!session_.Receive({arrived.data(), got}).empty()) {
      throw std::runtime_error("handshake: a packet came before the reply");
    }
  }
  if (session_.phase() != client::ClientSession::Phase::kOpen) {
    throw std::runtime_error("handshake: " + session_.Error());
  }
}

std::vector<Packet> ProtocolPeer::Open(ByteView bytes) {
  std::vector<Packet> packets = session_.Receive(bytes);
  if (session_.phase() != client::ClientSession::Phase::kOpen) {
    throw std::runtime_error("opening the server's packets: " + session_.Error());
  }
  return packets;
}

std::vector<Packet> ProtocolPeer::ReadThrough(std::int16_t opcode, std::size_t& byteCount) {
  std::vector<Packet> packets;
  Bytes arrived(kReadSize);
  byteCount = 0;
  const auto has = [&] {
    return std::any_of(packets.begin(), packets.end(),
                       [opcode](const Packet& packet) { return packet.opcode == opcode; });
  };
  while (!has()) {
    const std::size_t got = ReceiveSome(fd(), arrived);
    if (got == 0) throw std::runtime_error("the server closed the connection");
    byteCount += got;
    for (Packet& packet : Open({arrived.data(), got})) packets.push_back(std::move(packet));
  }
  return packets;
}

void Expect(const Packet& packet, std::int16_t opcode, ByteView payload, const std::string& what) {
  if (packet.opcode == opcode &&
      std::equal(packet.payload.begin(), packet.payload.end(), payload.begin(), payload.end())) {
    return;
  }
  throw std::runtime_error(what + ": expected " + std::to_string(opcode) + " [" + Hex(payload) +
                           "], got " + std::to_string(packet.opcode) + " [" + Hex(packet.payload) +
                           "]");
}

}  // namespace quorvane::bench
