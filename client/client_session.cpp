#include "client/client_session.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "session/handshake.h"

namespace quorvane::client {
namespace {

// The escape codec leaves 01 unescaped only as the end marker.
constexpr std::uint8_t kEndMarker = 0x01;
// An escaped reply is at most 2 * 10 + 1 bytes; anything longer without an end
// marker is not a reply.
constexpr std::size_t kLongestEscapedReply = 2 * kReplySize + 1;

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
  received_.append(bytes);
  if (phase_ == Phase::kAwaitingReply) CompleteHandshake();
  if (phase_ == Phase::kOpen) OpenPackets(packets);
  return packets;
}

void ClientSession::CompleteHandshake() {
  const ByteView arrived = received_.view();
  const auto marker = std::find(arrived.begin(), arrived.end(), kEndMarker);
  if (marker == arrived.end()) {
    if (arrived.size() > kLongestEscapedReply) Break("the server sent no handshake reply");
    return;
  }
  const auto replySize = static_cast<std::size_t>(marker - arrived.begin()) + 1;
  const kelvane::ByteStrPtr escaped = kelvane::copyOf(arrived.first(replySize));
  const kelvane::ByteStrPtr reply = kelvane::adopt(decode(escaped.get()));
  const ByteView decoded = kelvane::view(reply);
  if (decoded.size() != kReplySize ||
      !std::equal(kReplyPrefix.begin(), kReplyPrefix.end(), decoded.begin())) {
    Break("the server's handshake reply is malformed");
    return;
  }
  state_.serverSeed = clidesh(decoded.data() + kReplyPrefix.size());
  seedcrypt(&state_);
  received_.consume(replySize);
  phase_ = Phase::kOpen;
}

void ClientSession::OpenPackets(std::vector<Packet>& into) {
  while (!received_.empty()) {
    const kelvane::OpenedPacket opened = kelvane::openPacket(&clidec, received_.unread(), state_);
    switch (opened.status) {
      case kelvane::OpenedPacket::Status::kShort:
        return;
      case kelvane::OpenedPacket::Status::kSequenceFailure:
        Break("a packet from the server failed its sequence check");
        return;
      case kelvane::OpenedPacket::Status::kOpened:
        break;
    }
    const ByteView body = opened.body();
    into.push_back(Packet{opened.opcode, Bytes(body.begin(), body.end())});
    received_.consume(opened.used);
  }
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
