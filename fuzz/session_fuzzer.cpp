// The session's receive path, driven by a script (session_script.h): a
// client's hello, raw bytes and sealed packets on the wire, cut into
// arrivals at any place, reconnects and disconnects, with a second session
// relaying to and from it as the host does (past its handshake but never
// logged in, which would only add file reads to every run). Whatever
// arrives, each client can open everything its session writes, one
// or more whole packets per write, and no name reaches a file outside the data
// folders.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fake_socket.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"
#include "session/generator.h"
#include "session/opcodes.h"
#include "session/server_socket.h"
#include "session_script.h"

namespace {

using quorvane::Bytes;
using quorvane::ByteView;
using quorvane::fuzz::FuzzInput;
using quorvane::fuzz::Require;
using quorvane::fuzz::Step;
using quorvane::testing::ProtocolClient;

constexpr std::array<std::int16_t, 3> kPeerOpcodes{quorvane::opcode::kPing, quorvane::opcode::kMove,
                                                   quorvane::opcode::kSay};
constexpr std::uint32_t kPeerSeed = 0x0BADF00D;
// Level of a character kept next to the characters folder: loading it means
// a client name escaped the folder.
constexpr std::int16_t kOutsideLevel = 0x7C5E;

Bytes CharacterFile(std::int16_t level, std::uint8_t characterClass, std::int16_t x,
                    std::int16_t y) {
  Bytes file(116, 0x00);
  file[18] = static_cast<std::uint8_t>(level);
  file[19] = static_cast<std::uint8_t>(level >> 8);
  file[20] = characterClass;
  for (std::size_t stat = 23; stat < 89; ++stat) file[stat] = static_cast<std::uint8_t>(stat);
  file[89] = static_cast<std::uint8_t>(x);
  file[90] = static_cast<std::uint8_t>(x >> 8);
  file[91] = static_cast<std::uint8_t>(y);
  file[92] = static_cast<std::uint8_t>(y >> 8);
  return file;
}

// "Ann" an ordinary character with items; "Edge" one whose X + 1 does not fit
// 16 bits; "Outside" a character file in the items folder, where no login may
// find a character.
struct SessionData {
  SessionData() {
    folder.WriteCharacter("Ann", CharacterFile(120, 0, 100, 200));
    folder.WriteCharacter("Edge", CharacterFile(-1, 2, 0x7FFF, -5));
    folder.WriteItems("Outside", CharacterFile(kOutsideLevel, 0, 1, 1));
    const std::uint8_t items[] = {3, 1, 4, 0, 34, 0, 1, 0, 1, 2, 0xFF, 0xFF, 2, 0, 0, 0x80};
    folder.WriteItems("Ann", quorvane::Bytes(std::begin(items), std::end(items)));
  }
  quorvane::testing::MemoryDataFolder folder;
};

quorvane::DataFolder& Data() {
  static SessionData data;
  return data.folder;
}

struct Player {
  explicit Player(quorvane::Generator& generator, std::uint32_t seed)
      : session(socket, quorvane::testing::LinkedApi(), generator, Data()), client(seed) {}

  quorvane::testing::FakeSocket socket;
  quorvane::ServerSocket session;
  ProtocolClient client;
  bool keyed = false;
};

// Opens what the session wrote during one arrival: the handshake's reply when
// the arrival completed the handshake, then sealed packets, whole ones in each
// write.
void Collect(Player& p, std::int16_t phaseBefore) {
  const std::vector<Bytes> writes = p.socket.TakeWrites();
  std::size_t first = 0;
  if (phaseBefore == quorvane::kPhaseAwaitingHello && p.session.Phase() == quorvane::kPhaseOpen) {
    Require(!writes.empty(), "a completed handshake is answered");
    // The hello may have come as raw bytes carrying another seed than the client's own.
    p.client.State().clientSeed = p.session.Cipher().clientSeed;
    Require(p.client.TakeReply(writes[0]), "the reply decodes to a valid reply");
    Require(
        p.client.ServerSeed() == p.session.Cipher().serverSeed && p.client.ServerSeed() <= 32767,
        "the reply carries the server seed, 0 to 32767");
    p.keyed = true;
    first = 1;
  }
  for (std::size_t i = first; i < writes.size(); ++i) {
    Require(p.keyed, "sealed packets only after the handshake");
    const auto packets = p.client.Open(writes[i]);
    Require(!packets.empty() && !p.client.Broken() && p.client.Pending() == 0,
            "each write is whole packets that the client opens");
  }
}

void Arrive(Player& p, ByteView bytes) {
  const std::int16_t phaseBefore = p.session.Phase();
  p.socket.Deliver(bytes);
  Collect(p, phaseBefore);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  quorvane::Generator generator(7, [] { return std::uint64_t{0}; });
  Player player(generator, in.Take<std::uint32_t>());
  Player peer(generator, kPeerSeed);
  player.session.SetAllSendHandler(
      [&peer](std::int16_t id, ByteView bytes) { peer.session.SendData(id, bytes); });
  peer.session.SetAllSendHandler(
      [&player](std::int16_t id, ByteView bytes) { player.session.SendData(id, bytes); });

  peer.session.Accept(2);
  Arrive(peer, peer.client.Hello());
  Require(peer.keyed, "the other player completes its handshake");

  player.session.Accept(1);
  Bytes wire;
  auto arriveFront = [&](std::size_t count) {
    const Bytes arrival(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(count));
    wire.erase(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(count));
    Arrive(player, arrival);
    Collect(peer, quorvane::kPhaseOpen);
  };

  while (!in.Empty()) {
    switch (static_cast<Step>(in.Take<std::uint8_t>() % quorvane::fuzz::kStepCount)) {
      case Step::Hello: {
        const Bytes hello = player.client.Hello();
        wire.insert(wire.end(), hello.begin(), hello.end());
        break;
      }
      case Step::Raw: {
        const auto bytes = in.TakeBytes(in.Take<std::uint8_t>());
        wire.insert(wire.end(), bytes.begin(), bytes.end());
        break;
      }
      case Step::Sealed: {
        const auto opcode = in.Take<std::int16_t>();
        const Bytes packet = player.client.Seal(opcode, in.TakeBytes(in.Take<std::uint16_t>()));
        wire.insert(wire.end(), packet.begin(), packet.end());
        break;
      }
      case Step::Arrive: {
        const std::size_t wanted = in.Take<std::uint16_t>();
        const std::size_t count = wanted == 0 ? wire.size() : std::min(wanted, wire.size());
        if (count != 0) arriveFront(count);
        break;
      }
      case Step::Reconnect:
        player.session.Closer();
        player.session.Accept(1);
        player.client = ProtocolClient(in.Take<std::uint32_t>());
        player.keyed = false;
        wire.clear();
        break;
      case Step::Disconnect:
        player.socket.Disconnect();
        break;
      case Step::PeerSpeaks: {
        const auto opcode = kPeerOpcodes[in.Take<std::uint8_t>() % kPeerOpcodes.size()];
        const Bytes packet = peer.client.Seal(opcode, in.TakeBytes(in.Take<std::uint8_t>()));
        Arrive(peer, packet);
        Collect(player, player.session.Phase());
        break;
      }
      case Step::Count:
        break;
    }
    Require(player.session.Character().Level != kOutsideLevel,
            "no name leads out of the characters folder");
  }
  if (!wire.empty()) arriveFront(wire.size());
  return 0;
}
