// The client's end of the protocol, on the library's client exports: the
// escaped hello, the reply check, sealing with clienc and opening with clidec.
// Free of I/O; a test carries the bytes between it and the server.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "kelvane.hpp"
#include "session/bytes.h"
#include "session/handshake.h"

namespace quorvane::testing {

struct Packet {
  std::int16_t opcode = 0;
  Bytes payload;
  friend bool operator==(const Packet&, const Packet&) = default;
};

inline Bytes BytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Join(std::initializer_list<ByteView> parts) {
  Bytes all;
  for (const ByteView part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class ProtocolClient {
 public:
  explicit ProtocolClient(std::uint32_t clientSeed) { state_.clientSeed = clientSeed; }

  // The 10-byte hello before escaping: the prefix and the shuffled seed.
  Bytes HelloBody() const {
    const auto shuffled = kelvane::adopt(::clishuf(state_.clientSeed));
    return Join({kHelloPrefix, kelvane::view(shuffled)});
  }
  // Any bytes as they go on the wire in the handshake: escaped and ended.
  static Bytes Escape(ByteView bytes) {
    const auto escaped = kelvane::adopt(::encode(kelvane::copyOf(bytes).get()));
    const auto view = kelvane::view(escaped);
    return Bytes(view.begin(), view.end());
  }
  static Bytes Unescape(ByteView bytes) {
    const auto plain = kelvane::adopt(::decode(kelvane::copyOf(bytes).get()));
    const auto view = kelvane::view(plain);
    return Bytes(view.begin(), view.end());
  }
  Bytes Hello() const { return Escape(HelloBody()); }

  // Takes the server's escaped reply. False, with nothing changed, unless it
  // is exactly the 10-byte reply; otherwise the keys are scheduled.
  bool TakeReply(ByteView wire) {
    const Bytes reply = Unescape(wire);
    if (reply.size() != kReplySize ||
        !std::equal(kReplyPrefix.begin(), kReplyPrefix.end(), reply.begin()))
      return false;
    state_.serverSeed =
        ::clidesh(kelvane::copyOf(ByteView(reply).subspan(kReplyPrefix.size())).get());
    ::seedcrypt(&state_);
    return true;
  }

  Bytes Seal(std::int16_t opcode, std::initializer_list<std::uint8_t> payload) {
    return Seal(opcode, ByteView(payload.begin(), payload.size()));
  }
  Bytes Seal(std::int16_t opcode, ByteView payload) {
    const auto packet = kelvane::adopt(::clienc(opcode, kelvane::copyOf(payload).get(), &state_));
    const auto view = kelvane::view(packet);
    return Bytes(view.begin(), view.end());
  }

  // Opens every whole packet among the bytes received so far; an incomplete
  // one waits for more. A sequence failure marks the client broken and drops
  // what is left.
  std::vector<Packet> Open(ByteView bytes) {
    pending_.append(bytes);
    std::vector<Packet> packets;
    while (!pending_.empty() && !broken_) {
      const auto opened = kelvane::openPacket(&::clidec, pending_.unread(), state_);
      if (opened.status == kelvane::OpenedPacket::Status::kShort) break;
      if (opened.status == kelvane::OpenedPacket::Status::kSequenceFailure) {
        broken_ = true;
        pending_.clear();
        break;
      }
      const ByteView body = opened.body();
      packets.push_back({opened.opcode, Bytes(body.begin(), body.end())});
      pending_.consume(opened.used);
    }
    return packets;
  }

  bool Broken() const { return broken_; }
  std::size_t Pending() const { return pending_.size(); }
  std::uint32_t ServerSeed() const { return state_.serverSeed; }
  ::CipherState& State() { return state_; }

 private:
  ::CipherState state_{};
  kelvane::ReceiveBuffer pending_;
  bool broken_ = false;
};

}  // namespace quorvane::testing
