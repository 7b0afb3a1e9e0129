#include "scenarios.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "bench_data.h"
#include "placement.h"
#include "raw_peers.h"
#include "session/opcodes.h"

namespace quorvane::bench {
namespace {

using opcode::kAppeared;
using opcode::kChatLine;
using opcode::kLogin;
using opcode::kMove;
using opcode::kMoved;
using opcode::kPing;
using opcode::kPong;
using opcode::kSay;

constexpr std::size_t kNameBlockSize = 46;
constexpr std::size_t kMarkOffset = 20;  // byte 21, set to 07 by the login
constexpr int kConnectAttempts = 50;
constexpr auto kConnectRetryPause = std::chrono::milliseconds(20);
constexpr std::uint32_t kSenderSeed = 0x1234;
constexpr std::uint32_t kReceiverSeed = 0x5678;
// The goals, all on one CPU and apart: the most a latency's median may be
// as a multiple of its baseline's, the least the relay's rate may be as one
// of the raw forwarder's. A relay's latency is no goal; its throughput is.
using Bound = Target::Bound;
constexpr Target kPingTarget{Bound::kAtMost, 1.05, 1.05};
constexpr Target kLoginTarget{Bound::kAtMost, 1.20, 1.10};
constexpr Target kRelayThroughputTarget{Bound::kAtLeast, 1.0, 1.0};
constexpr Target kRefusalTarget{Bound::kAtMost, 2.0, 2.0};
// Packets sent ahead of the relay in a stream: enough to keep both ends
// busy, far below the relay's soft limit and the socket buffers, so that
// neither side drops or blocks.
constexpr std::size_t kStreamWindow = 64;
constexpr const char* kStranger = "127.0.0.2";

// The welcome line closes every login.
constexpr std::string_view kWelcome(
    "\x00\x04"
    "OrlanServer\x0A"
    "Welcome to Orlan RP Server",
    40);
constexpr std::string_view kChatText = "meet me at the north gate";
constexpr std::array<std::uint8_t, 8> kMovePayload{0x2A, 0x00, 0x39, 0x00, 0x03, 0x00, 0x01, 0x00};

// The opcodes of one login as `character`: 243, 1015, 209, thirteen stats
// and two positions, its spells, four fixed items and those from its file,
// 1013 twice, then the welcome line.
std::vector<std::int16_t> LoginOpcodes(const BenchCharacter& character) {
  constexpr std::size_t kFixedItems = 4;
  std::vector<std::int16_t> opcodes{243, 1015, 209};
  opcodes.insert(opcodes.end(), 13, 261);
  opcodes.insert(opcodes.end(), 2, 221);
  opcodes.insert(opcodes.end(), character.spells, 251);
  opcodes.insert(opcodes.end(), kFixedItems + character.fileItems, 223);
  opcodes.insert(opcodes.end(), {1013, 1013, kChatLine});
  return opcodes;
}

ByteView BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<Message> Sealed(ProtocolPeer& player, std::int16_t opcode, ByteView payload,
                            std::size_t count) {
  std::vector<Message> packets;
  packets.reserve(count);
  for (std::size_t i = 0; i < count; ++i) packets.push_back(player.Seal(opcode, payload));
  return packets;
}

// A named pair rather than a structured binding: lambdas capture it in every
// compiler the build supports.
struct WarmUpAndTimed {
  std::vector<Message> warmUp;
  std::vector<Message> timed;
};

// The first `count` packets, and the rest.
WarmUpAndTimed Split(std::vector<Message> all, std::size_t count) {
  std::vector<Message> rest(std::make_move_iterator(all.begin() + static_cast<long>(count)),
                            std::make_move_iterator(all.end()));
  all.resize(count);
  return {std::move(all), std::move(rest)};
}

// A login's packets, then the 205 of each of `othersShown` players already
// there, which a newcomer is shown after its welcome line.
void CheckLogin(const std::vector<Packet>& packets, const BenchCharacter& character,
                std::size_t othersShown = 0) {
  std::vector<std::int16_t> expected = LoginOpcodes(character);
  expected.insert(expected.end(), othersShown, kAppeared);
  std::vector<std::int16_t> got;
  for (const Packet& packet : packets) got.push_back(packet.opcode);
  if (got != expected) {
    throw std::runtime_error(
        std::string("login as ") + character.name + ": got " + std::to_string(got.size()) +
        " packets, not the expected sequence of " + std::to_string(expected.size()));
  }
  Expect(packets[expected.size() - othersShown - 1], kChatLine, BytesOf(kWelcome),
         "login's welcome line");
}

// Opens `bytes` on the player's session: exactly `count` packets, each
// `opcode` with `payload`.
void ExpectPackets(ProtocolPeer& player, ByteView bytes, std::int16_t opcode, const Bytes& payload,
                   std::size_t count, const std::string& what) {
  const std::vector<Packet> packets = player.Open(bytes);
  if (packets.size() != count) {
    throw std::runtime_error(what + ": " + std::to_string(packets.size()) + " packets, not " +
                             std::to_string(count));
  }
  for (const Packet& packet : packets) Expect(packet, opcode, payload, what);
}

// A check of `count` such packets.
Check ExpectEach(ProtocolPeer& player, std::int16_t opcode, Bytes payload, std::size_t count,
                 std::string what) {
  return [&player, opcode, payload = std::move(payload), count, what = std::move(what)](
             ByteView bytes) { ExpectPackets(player, bytes, opcode, payload, count, what); };
}

// A check of a stream's bytes, however many came: one such packet per
// `packetSize` of them.
Check ExpectStream(ProtocolPeer& player, std::int16_t opcode, Bytes payload, std::size_t packetSize,
                   std::string what) {
  return [&player, opcode, payload = std::move(payload), packetSize,
          what = std::move(what)](ByteView bytes) {
    if (bytes.size() % packetSize != 0) throw std::runtime_error(what + ": a packet cut short");
    ExpectPackets(player, bytes, opcode, payload, bytes.size() / packetSize, what);
  };
}

// The server and the baseline take turns, block by block, so that both meet
// the same load when other work shares the machine; in every other block the
// baseline goes first, so that neither always finds the caches as the other
// left them.
constexpr std::size_t kBlocks = 10;

template <typename Server, typename Baseline>
void InTurns(Server server, Baseline baseline) {
  for (std::size_t block = 0; block < kBlocks; ++block) {
    if (block % 2 == 0) {
      server(block);
      baseline(block);
    } else {
      baseline(block);
      server(block);
    }
  }
}

std::span<const Message> Block(const std::vector<Message>& all, std::size_t index) {
  const std::size_t size = all.size() / kBlocks;
  const std::size_t begin = index * size;
  const std::size_t end = index + 1 == kBlocks ? all.size() : begin + size;
  return std::span(all).subspan(begin, end - begin);
}

void Append(Samples& into, const Samples& more) {
  into.insert(into.end(), more.begin(), more.end());
}

// What one relay case sends and what the other player must receive.
struct RelayCase {
  std::string label;
  Bytes payload;
  std::int16_t relayOpcode;
  Bytes relayed;
  bool echoed;  // a chat line goes back to its writer too

  // A check that the bytes open on `player` as `count` copies of the relayed packet.
  Check Expecting(ProtocolPeer& player, std::size_t count, const std::string& what) const {
    return ExpectEach(player, relayOpcode, relayed, count, label + what);
  }
  // A check that a stream's bytes open on `player` as copies of the relayed packet.
  Check ExpectingStream(ProtocolPeer& player, const std::string& what) const {
    return ExpectStream(player, relayOpcode, relayed, kelvane::kPacketHeaderSize + relayed.size(),
                        label + what);
  }
};

RelayCase RelayCaseOf(std::int16_t opcode) {
  if (opcode == kSay) {
    Bytes payload{0x01};
    payload.insert(payload.end(), kChatText.begin(), kChatText.end());
    // 00, the type, the writer's name, 0A, the text.
    const std::string line =
        std::string("\x00\x01", 2) + kCharacterName + "\x0A" + std::string(kChatText);
    return {"relay 302 chat", payload, kChatLine, Bytes(line.begin(), line.end()), true};
  }
  if (opcode != kMove) throw std::invalid_argument("no relay case for " + std::to_string(opcode));
  const Bytes payload(kMovePayload.begin(), kMovePayload.end());
  // The mover's name block as the login left it, then the payload.
  Bytes relayed = NameBlock();
  relayed[kMarkOffset] = 0x07;
  relayed.insert(relayed.end(), payload.begin(), payload.end());
  return {"relay 202 move", payload, kMoved, relayed, false};
}

// How the relay of `opcode` is named in the latency chart.
std::string RelaySeriesName(std::int16_t opcode) {
  return opcode == kSay ? "chat" : "move";
}

struct RelaySizes {
  std::size_t packet;
  std::size_t echo;
  std::size_t relay;
};

RelaySizes SizesOf(const RelayCase& relay, std::size_t packetSize) {
  const std::size_t relaySize = kelvane::kPacketHeaderSize + relay.relayed.size();
  return {packetSize, relay.echoed ? relaySize : 0, relaySize};
}

}  // namespace

Bytes NameBlock(std::string_view name) {
  Bytes block(kNameBlockSize, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

ProtocolPeer ConnectPlayer(std::uint16_t port, std::uint32_t clientSeed) {
  for (int attempt = 1;; ++attempt) {
    try {
      return ProtocolPeer(port, clientSeed);
    } catch (const std::runtime_error&) {
      if (attempt == kConnectAttempts) throw;
      std::this_thread::sleep_for(kConnectRetryPause);
    }
  }
}

// A player's 205: its name block as the login marks it, X and Y, then three
// zero bytes that mark a player.
Bytes AnnouncementOf(std::string_view name) {
  Bytes announcement = NameBlock(name);
  announcement[kMarkOffset] = 0x07;
  announcement.insert(announcement.end(), {kCharacterX, 0, kCharacterY, 0, 0, 0, 0});
  return announcement;
}

// Reads the one 205 that `player` is due and checks it announces `name`.
void ExpectAnnouncement(ProtocolPeer& player, std::string_view name, const std::string& what) {
  std::size_t byteCount = 0;
  const std::vector<Packet> heard = player.ReadThrough(kAppeared, byteCount);
  if (heard.size() != 1) throw std::runtime_error(what + ": more than 205 came");
  Expect(heard.front(), kAppeared, AnnouncementOf(name), what);
}

// The sender plays the benchmark's character, the receiver the partner: the
// sender hears of the receiver's login, and the receiver is shown the sender
// after its welcome line.
Players TwoPlayers(std::uint16_t port) {
  ProtocolPeer sender = LoggedInPlayer(port, kSenderSeed, kCaster);
  ProtocolPeer receiver = LoggedInPlayer(port, kReceiverSeed, kPartner, 1);
  ExpectAnnouncement(sender, kPartnerName, "announcement to the other player");
  return {std::move(sender), std::move(receiver)};
}

std::size_t LogIn(ProtocolPeer& player, const BenchCharacter& character, std::size_t othersShown) {
  SendAll(player.fd(), player.Seal(kLogin, NameBlock(character.name)));
  std::size_t byteCount = 0;
  std::vector<Packet> packets = player.ReadThrough(kChatLine, byteCount);
  while (packets.size() < LoginOpcodes(character).size() + othersShown) {
    std::size_t more = 0;
    for (Packet& packet : player.ReadThrough(kAppeared, more)) packets.push_back(std::move(packet));
    byteCount += more;
  }
  CheckLogin(packets, character, othersShown);
  return byteCount;
}

ProtocolPeer LoggedInPlayer(std::uint16_t port, std::uint32_t clientSeed,
                            const BenchCharacter& character, std::size_t othersShown) {
  for (int attempt = 1;; ++attempt) {
    try {
      ProtocolPeer player(port, clientSeed);
      LogIn(player, character, othersShown);
      return player;
    } catch (const std::runtime_error&) {
      if (attempt == kConnectAttempts) throw;
      std::this_thread::sleep_for(kConnectRetryPause);
    }
  }
}

// Round trips of the same requests to the server and to a raw echo on
// `serverCpu` that answers each with as many bytes as the server does: both
// warmed up, then timed in turns.
Measurement AgainstRawEcho(std::string name, ProtocolPeer& player,
                           const std::vector<Message>& warmUp, const std::vector<Message>& timed,
                           std::size_t replySize, const Check& check, int serverCpu,
                           const Target& target) {
  RawEcho echo = StartedOn(serverCpu, [&] { return RawEcho(timed.front().size(), replySize); });
  Fd raw = ConnectLoopback(echo.port());
  RoundTrips(player.fd(), warmUp, replySize, check);
  RoundTrips(raw.get(), warmUp, replySize, {});
  Measurement measured{std::move(name), {}, {}, target, {}};
  InTurns(
      [&](std::size_t block) {
        Append(measured.server, RoundTrips(player.fd(), Block(timed, block), replySize, check));
      },
      [&](std::size_t block) {
        Append(measured.baseline, RoundTrips(raw.get(), Block(timed, block), replySize, {}));
      });
  raw.Close();
  echo.Join();
  return measured;
}

Measurement MeasurePing(ProtocolPeer& player, const Counts& counts, int serverCpu) {
  const Bytes pong{0x00};
  const WarmUpAndTimed packets =
      Split(Sealed(player, kPing, {}, counts.warmUp + counts.pings), counts.warmUp);
  const std::size_t replySize = kelvane::kPacketHeaderSize + pong.size();
  const Check check = ExpectEach(player, kPong, pong, 1, "ping");
  return AgainstRawEcho("ping round trip", player, packets.warmUp, packets.timed, replySize, check,
                        serverCpu, kPingTarget);
}

Measurement MeasureLogin(ProtocolPeer& player, const BenchCharacter& character,
                         std::string_view label, const Counts& counts, int serverCpu) {
  const std::size_t replySize = LogIn(player, character);
  const std::size_t warmUpCount = std::min(counts.warmUp, counts.logins);
  const WarmUpAndTimed packets = Split(
      Sealed(player, kLogin, NameBlock(character.name), warmUpCount + counts.logins), warmUpCount);
  const Check check = [&player, &character](ByteView bytes) {
    CheckLogin(player.Open(bytes), character);
  };
  const std::string name = "login, " + std::string(label) +
                           std::to_string(LoginOpcodes(character).size()) + "-packet reply (" +
                           std::to_string(replySize) + " B)";
  return AgainstRawEcho(name, player, packets.warmUp, packets.timed, replySize, check, serverCpu,
                        kLoginTarget);
}

Measurement MeasureRefusal(std::uint16_t port, const Counts& counts, int serverCpu) {
  const std::size_t warmUp = std::min(counts.warmUp, counts.refused);
  RawRefuser refuser = StartedOn(serverCpu, [&] { return RawRefuser(warmUp + counts.refused); });
  RefusedConnections(kStranger, port, warmUp);
  RefusedConnections(kStranger, refuser.port(), warmUp);
  Measurement measured{"refused connection", {}, {}, kRefusalTarget, {}};
  const std::size_t block = counts.refused / kBlocks;
  InTurns(
      [&](std::size_t index) {
        const std::size_t count = index + 1 == kBlocks ? counts.refused - index * block : block;
        Append(measured.server, RefusedConnections(kStranger, port, count));
      },
      [&](std::size_t index) {
        const std::size_t count = index + 1 == kBlocks ? counts.refused - index * block : block;
        Append(measured.baseline, RefusedConnections(kStranger, refuser.port(), count));
      });
  refuser.Join();
  return measured;
}

Measurement MeasureRelayLatency(ProtocolPeer& sender, ProtocolPeer& receiver, std::int16_t opcode,
                                const Counts& counts, int serverCpu) {
  const RelayCase relay = RelayCaseOf(opcode);
  const WarmUpAndTimed packets =
      Split(Sealed(sender, opcode, relay.payload, counts.warmUp + counts.relayed), counts.warmUp);
  const RelaySizes sizes = SizesOf(relay, packets.timed.front().size());
  const RelayLink link{sender.fd(), receiver.fd(), sizes.echo, sizes.relay};
  const Check echoCheck = relay.Expecting(sender, 1, " echo");
  const Check relayCheck = relay.Expecting(receiver, 1, "");

  RawForwarder forwarder =
      StartedOn(serverCpu, [&] { return RawForwarder(sizes.packet, sizes.echo, sizes.relay); });
  Fd rawSender = ConnectLoopback(forwarder.port());
  Fd rawReceiver = ConnectLoopback(forwarder.port());
  const RelayLink raw{rawSender.get(), rawReceiver.get(), sizes.echo, sizes.relay};
  RelayOneAtATime(link, packets.warmUp, echoCheck, relayCheck);
  RelayOneAtATime(raw, packets.warmUp, {}, {});
  Measurement measured{relay.label + " latency", {}, {}, std::nullopt, RelaySeriesName(opcode)};
  InTurns(
      [&](std::size_t block) {
        Append(measured.server,
               RelayOneAtATime(link, Block(packets.timed, block), echoCheck, relayCheck));
      },
      [&](std::size_t block) {
        Append(measured.baseline, RelayOneAtATime(raw, Block(packets.timed, block), {}, {}));
      });
  rawSender.Close();
  rawReceiver.Close();
  forwarder.Join();
  return measured;
}

Measurement MeasureRelayThroughput(ProtocolPeer& sender, ProtocolPeer& receiver,
                                   const Counts& counts, int serverCpu) {
  const RelayCase relay = RelayCaseOf(kSay);
  const WarmUpAndTimed packets =
      Split(Sealed(sender, kSay, relay.payload, counts.warmUp + counts.streamed), counts.warmUp);
  const RelaySizes sizes = SizesOf(relay, packets.timed.front().size());
  const RelayLink link{sender.fd(), receiver.fd(), sizes.echo, sizes.relay};
  const Check echoCheck = relay.ExpectingStream(sender, " echo");
  const Check relayCheck = relay.ExpectingStream(receiver, "");

  RawForwarder forwarder =
      StartedOn(serverCpu, [&] { return RawForwarder(sizes.packet, sizes.echo, sizes.relay); });
  Fd rawSender = ConnectLoopback(forwarder.port());
  Fd rawReceiver = ConnectLoopback(forwarder.port());
  const RelayLink raw{rawSender.get(), rawReceiver.get(), sizes.echo, sizes.relay};
  StreamRelay(link, packets.warmUp, kStreamWindow, echoCheck, relayCheck);
  StreamRelay(raw, packets.warmUp, kStreamWindow, {}, {});
  Measurement measured{relay.label + " throughput",
                       {},
                       {},
                       kRelayThroughputTarget,
                       std::string(),
                       Kind::kThroughput};
  InTurns(
      [&](std::size_t block) {
        Append(measured.server, StreamRelay(link, Block(packets.timed, block), kStreamWindow,
                                            echoCheck, relayCheck));
      },
      [&](std::size_t block) {
        Append(measured.baseline,
               StreamRelay(raw, Block(packets.timed, block), kStreamWindow, {}, {}));
      });
  rawSender.Close();
  rawReceiver.Close();
  forwarder.Join();
  return measured;
}

}  // namespace quorvane::bench
