#include "client_session.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "kelvane.hpp"

namespace quorvane::client {
namespace {

constexpr std::array<std::uint8_t, 6> kHelloPrefix{0x07, 0x08, 0x00, 0x07, 0x01, 0x01};
constexpr std::array<std::uint8_t, 6> kReplyPrefix{0x07, 0x08, 0x01, 0x00, 0x00, 0x01};
constexpr std::size_t kReplySize = 10;
// The escape codec leaves 01 unescaped only as the end marker.
constexpr std::uint8_t kEndMarker = 0x01;
// An escaped reply is at most 2 * 10 + 1 bytes; anything longer without an end
// marker is not a reply.
constexpr std::size_t kLongestEscapedReply = 2 * kReplySize + 1;
constexpr std::size_t kHeaderSize = 8;

}  // namespace

ClientSession::ClientSession(std::uint32_t clientSeed) {
  state_.clientSeed = clientSeed;
}

Bytes ClientSession::Hello() const {
  const kelvane::ByteStrPtr shuffled = kelvane::adopt(clishuf(state_.clientSeed));
  Bytes hello(kHelloPrefix.begin(), kHelloPrefix.end());
  const ByteView seed = kelvane::view(shuffled);
  hello.insert(hello.end(), seed.begin(), seed.end());
  const kelvane::ByteStrPtr raw = kelvane::copyOf(hello);
  const kelvane::ByteStrPtr escaped = kelvane::adopt(encode(raw.get()));
  const ByteView bytes = kelvane::view(escaped);
  return Bytes(bytes.begin(), bytes.end());
}

std::vector<Packet> ClientSession::Receive(ByteView bytes) {
  std::vector<Packet> packets;
  if (phase_ == Phase::kBroken) return packets;
  received_.insert(received_.end(), bytes.begin(), bytes.end());
  if (phase_ == Phase::kAwaitingReply) CompleteHandshake();
  if (phase_ == Phase::kOpen) OpenPackets(packets);
  return packets;
}

void ClientSession::CompleteHandshake() {
  const auto marker = std::find(received_.begin(), received_.end(), kEndMarker);
  if (marker == received_.end()) {
    if (received_.size() > kLongestEscapedReply) Break("the server sent no handshake reply");
    return;
  }
  const auto replyEnd = marker + 1;
  const kelvane::ByteStrPtr escaped = kelvane::copyOf(ByteView(received_.begin(), replyEnd));
  const kelvane::ByteStrPtr reply = kelvane::adopt(decode(escaped.get()));
  const ByteView decoded = kelvane::view(reply);
  if (decoded.size() != kReplySize ||
      !std::equal(kReplyPrefix.begin(), kReplyPrefix.end(), decoded.begin())) {
    Break("the server's handshake reply is malformed");
    return;
  }
  state_.serverSeed = clidesh(decoded.data() + kReplyPrefix.size());
  seedcrypt(&state_);
  received_.erase(received_.begin(), replyEnd);
  phase_ = Phase::kOpen;
}

void ClientSession::OpenPackets(std::vector<Packet>& into) {
  kelvane::ByteStrBuffer argument;
  std::size_t consumed = 0;
  while (received_.size() - consumed >= kHeaderSize) {
    const std::uint8_t* header = received_.data() + consumed;
    // Server-to-client headers carry the masked length in bytes 2 (low) and 4 (high).
    const auto maskedLength = static_cast<std::uint16_t>(header[2] | (header[4] << 8));
    const std::size_t length = static_cast<std::uint16_t>(maskedLength ^ state_.toClient.key16);
    if (received_.size() - consumed < kHeaderSize + length) break;
    const unsigned char* sealed = argument.fill(ByteView(header, kHeaderSize + length));
    std::int16_t opcode = 0;
    const kelvane::ByteStrPtr payload = kelvane::adopt(clidec(&opcode, sealed, &state_));
    if (opcode == -1) {
      Break("a packet from the server failed its sequence check");
      return;
    }
    const ByteView opened = kelvane::view(payload);
    into.push_back(Packet{opcode, Bytes(opened.begin(), opened.end())});
    consumed += kHeaderSize + length;
  }
  received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(consumed));
}

Bytes ClientSession::Seal(std::int16_t opcode, ByteView payload) {
  if (phase_ != Phase::kOpen)
    throw std::logic_error("no packet can be sealed before the handshake");
  const kelvane::ByteStrPtr argument = kelvane::copyOf(payload);
  const kelvane::ByteStrPtr sealed = kelvane::adopt(clienc(opcode, argument.get(), &state_));
  const ByteView bytes = kelvane::view(sealed);
  return Bytes(bytes.begin(), bytes.end());
}

void ClientSession::Break(std::string reason) {
  phase_ = Phase::kBroken;
  error_ = std::move(reason);
  received_.clear();
}

}  // namespace quorvane::client
