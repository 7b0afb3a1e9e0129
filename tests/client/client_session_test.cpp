// ClientSession on bytes from a server end built by hand: the reply and the
// packets must come out the same however TCP cuts them, and a bad reply or
// an out-of-sequence packet must break the session.
#include "client/client_session.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kelvane.hpp"
#include "session/handshake.h"

namespace quorvane::client {
namespace {

constexpr std::uint32_t kClientSeed = 0x00C0FFEE;
constexpr std::uint32_t kServerSeed = 12345;

Bytes Owned(const kelvane::ByteStrPtr& str) {
  const ByteView bytes = kelvane::view(str);
  return Bytes(bytes.begin(), bytes.end());
}

Bytes Escaped(const Bytes& plain) {
  return Owned(kelvane::adopt(encode(kelvane::copyOf(plain).get())));
}

// The server's end: its escaped reply, then packets sealed with serenc.
class ServerEnd {
 public:
  ServerEnd() {
    state_.clientSeed = kClientSeed;
    state_.serverSeed = kServerSeed;
    seedcrypt(&state_);
  }
  Bytes Reply(const std::array<std::uint8_t, 6>& prefix = kReplyPrefix) const {
    Bytes reply(prefix.begin(), prefix.end());
    const Bytes shuffled = Owned(kelvane::adopt(sershuf(kServerSeed)));
    reply.insert(reply.end(), shuffled.begin(), shuffled.end());
    return Escaped(reply);
  }
  Bytes Seal(std::int16_t opcode, const Bytes& payload) {
    return Owned(kelvane::adopt(serenc(opcode, kelvane::copyOf(payload).get(), &state_)));
  }
  Packet Open(const Bytes& sealed) {
    std::int16_t opcode = 0;
    const Bytes payload =
        Owned(kelvane::adopt(serdec(&opcode, kelvane::copyOf(sealed).get(), &state_)));
    return {opcode, payload};
  }

 private:
  CipherState state_{};
};

const std::vector<Packet> kPackets{
    {303, {0x00, 0x04, 'S', 0x0A, 'h', 'i'}}, {1013, {0x00}}, {125, {}}, {223, Bytes(18, 0x09)}};

TEST(ClientSession, ReplyAndPacketsComeOutWhereverTheArrivalsAreCut) {
  ServerEnd server;
  Bytes stream = server.Reply();
  for (const Packet& packet : kPackets) {
    const Bytes sealed = server.Seal(packet.opcode, packet.payload);
    stream.insert(stream.end(), sealed.begin(), sealed.end());
  }
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ClientSession session(kClientSeed);
    std::vector<Packet> received = session.Receive(ByteView(stream).first(cut));
    for (Packet& packet : session.Receive(ByteView(stream).subspan(cut))) {
      received.push_back(std::move(packet));
    }
    EXPECT_EQ(session.phase(), ClientSession::Phase::kOpen);
    EXPECT_EQ(session.ServerSeed(), kServerSeed);
    EXPECT_EQ(received, kPackets);
  }
}

TEST(ClientSession, SealsWhatTheServerOpensOnlyAfterTheHandshake) {
  ServerEnd server;
  ClientSession session(kClientSeed);
  EXPECT_THROW(session.Seal(124, {}), std::logic_error);
  session.Receive(server.Reply());
  const Bytes payload{0x01, 'y', 'o'};
  EXPECT_EQ(server.Open(session.Seal(302, payload)), (Packet{302, payload}));
}

TEST(ClientSession, MalformedOrMissingReplyBreaksTheSession) {
  const struct {
    std::string what;
    Bytes arrival;
    std::string error;
  } cases[] = {
      {"another prefix", ServerEnd().Reply({0x07, 0x08, 0x01, 0x00, 0x00, 0x02}),
       "the server's handshake reply is malformed"},
      {"too short", Escaped({0x07, 0x08, 0x01}), "the server's handshake reply is malformed"},
      {"no end marker", Bytes(22, 0x41), "the server sent no handshake reply"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ClientSession session(kClientSeed);
    EXPECT_TRUE(session.Receive(c.arrival).empty());
    EXPECT_EQ(session.phase(), ClientSession::Phase::kBroken);
    EXPECT_EQ(session.Error(), c.error);
  }
}

TEST(ClientSession, OutOfSequencePacketBreaksTheSessionAfterThePacketsBeforeIt) {
  ServerEnd server;
  ClientSession session(kClientSeed);
  session.Receive(server.Reply());
  const Bytes first = server.Seal(125, {0x00});
  Bytes second = server.Seal(125, {0x00});
  second[5] ^= 0x01;  // the top byte of the sequence word, in this direction's header
  Bytes arrival = first;
  arrival.insert(arrival.end(), second.begin(), second.end());

  EXPECT_EQ(session.Receive(arrival), (std::vector<Packet>{{125, {0x00}}}));
  EXPECT_EQ(session.phase(), ClientSession::Phase::kBroken);
  EXPECT_EQ(session.Error(), "a packet from the server failed its sequence check");
  EXPECT_TRUE(session.Receive(server.Seal(125, {0x00})).empty());
}

}  // namespace
}  // namespace quorvane::client
