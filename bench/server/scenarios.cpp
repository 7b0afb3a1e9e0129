#include "scenarios.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "bench_data.h"
#include "raw_peers.h"

namespace quorvane::bench {
namespace {

constexpr std::int16_t kPing = 124;
constexpr std::int16_t kPong = 125;
constexpr std::int16_t kLogin = 200;
constexpr std::int16_t kMove = 202;
constexpr std::int16_t kMoveRelay = 203;
constexpr std::int16_t kAnnounce = 205;
constexpr std::int16_t kChat = 302;
constexpr std::int16_t kChatLine = 303;

constexpr std::size_t kNameBlockSize = 46;
constexpr std::size_t kMarkOffset = 20;  // byte 21, set to 07 by the login
constexpr double kPingTarget = 1.5;
constexpr double kLoginTarget = 2.0;
constexpr double kRelayThroughputTarget = 0.5;

// The welcome line closes every login.
constexpr std::string_view kWelcome(
    "\x00\x04"
    "OrlanServer\x0A"
    "Welcome to Orlan RP Server",
    40);
constexpr std::string_view kChatText = "meet me at the north gate";
constexpr std::array<std::uint8_t, 8> kMovePayload{0x2A, 0x00, 0x39, 0x00, 0x03, 0x00, 0x01, 0x00};

// The opcodes of one login for this character: 243, 1015, 209, thirteen
// stats and two positions, ten spells, four fixed items and sixteen from the
// file, 1013 twice, then the welcome line.
std::vector<std::int16_t> LoginOpcodes() {
  std::vector<std::int16_t> opcodes{243, 1015, 209};
  opcodes.insert(opcodes.end(), 13, 261);
  opcodes.insert(opcodes.end(), 2, 221);
  opcodes.insert(opcodes.end(), 10, 251);
  opcodes.insert(opcodes.end(), 20, 223);
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

// The first `count` packets, and the rest.
std::pair<std::vector<Message>, std::vector<Message>> Split(std::vector<Message> all,
                                                            std::size_t count) {
  std::vector<Message> rest(std::make_move_iterator(all.begin() + static_cast<long>(count)),
                            std::make_move_iterator(all.end()));
  all.resize(count);
  return {std::move(all), std::move(rest)};
}

void CheckLogin(const std::vector<Packet>& packets) {
  const std::vector<std::int16_t> expected = LoginOpcodes();
  std::vector<std::int16_t> got;
  for (const Packet& packet : packets) got.push_back(packet.opcode);
  if (got != expected) {
    throw std::runtime_error("login: got " + std::to_string(got.size()) +
                             " packets, not the expected sequence of " +
                             std::to_string(expected.size()));
  }
  Expect(packets.back(), kChatLine, BytesOf(kWelcome), "login's welcome line");
}

// Each check opens the bytes on the player's session: exactly `count`
// packets, each `opcode` with `payload`.
Check ExpectEach(ProtocolPeer& player, std::int16_t opcode, Bytes payload, std::size_t count,
                 std::string what) {
  return [&player, opcode, payload = std::move(payload), count,
          what = std::move(what)](ByteView bytes) {
    const std::vector<Packet> packets = player.Open(bytes);
    if (packets.size() != count) {
      throw std::runtime_error(what + ": " + std::to_string(packets.size()) + " packets, not " +
                               std::to_string(count));
    }
    for (const Packet& packet : packets) Expect(packet, opcode, payload, what);
  };
}

std::vector<Figure> LatencyFigures(const std::string& name, const Samples& server,
                                   const Samples& baseline, std::optional<Target> target) {
  const Samples serverSorted = Sorted(server);
  const Samples baselineSorted = Sorted(baseline);
  return {
      {name + " median", "us", PercentileUs(serverSorted, 50), PercentileUs(baselineSorted, 50),
       target},
      {name + " p99", "us", PercentileUs(serverSorted, 99), PercentileUs(baselineSorted, 99),
       target},
  };
}

double PacketsPerSecond(const Flood& flood, std::size_t packets) {
  return static_cast<double>(packets) / std::chrono::duration<double>(flood.elapsed).count();
}

}  // namespace

Bytes NameBlock() {
  Bytes block(kNameBlockSize, 0x00);
  const std::string_view name = kCharacterName;
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

std::size_t LogIn(ProtocolPeer& player) {
  SendAll(player.fd(), player.Seal(kLogin, NameBlock()));
  std::size_t byteCount = 0;
  CheckLogin(player.ReadThrough(kChatLine, byteCount));
  return byteCount;
}

void LogInBeside(ProtocolPeer& player, ProtocolPeer& other) {
  LogIn(player);
  Bytes announcement = NameBlock();
  announcement[kMarkOffset] = 0x07;
  // X and Y, then three zero bytes that mark a player.
  announcement.insert(announcement.end(), {kCharacterX, 0, kCharacterY, 0, 0, 0, 0});
  std::size_t byteCount = 0;
  const std::vector<Packet> heard = other.ReadThrough(kAnnounce, byteCount);
  if (heard.size() != 1) throw std::runtime_error("the other player heard more than 205");
  Expect(heard.front(), kAnnounce, announcement, "announcement to the other player");
}

std::vector<Figure> MeasurePing(ProtocolPeer& player, const Counts& counts) {
  const Bytes pong{0x00};
  auto [warmUp, timed] =
      Split(Sealed(player, kPing, {}, counts.warmUp + counts.pings), counts.warmUp);
  const std::size_t replySize = 8 + pong.size();
  const Check check = ExpectEach(player, kPong, pong, 1, "ping");
  RoundTrips(player.fd(), warmUp, replySize, check);
  const Samples server = RoundTrips(player.fd(), timed, replySize, check);

  RawEcho echo(timed.front().size(), replySize);
  Samples baseline;
  {
    const Fd raw = ConnectLoopback(echo.port());
    RoundTrips(raw.get(), warmUp, replySize, {});
    baseline = RoundTrips(raw.get(), timed, replySize, {});
  }
  echo.Join();
  return LatencyFigures("ping round trip", server, baseline,
                        Target{Target::Kind::kAtMost, kPingTarget});
}

std::vector<Figure> MeasureLogin(ProtocolPeer& player, const Counts& counts) {
  const std::size_t replySize = LogIn(player);
  const std::size_t warmUpCount = std::min(counts.warmUp, counts.logins);
  auto [warmUp, timed] =
      Split(Sealed(player, kLogin, NameBlock(), warmUpCount + counts.logins), warmUpCount);
  const Check check = [&player](ByteView bytes) { CheckLogin(player.Open(bytes)); };
  RoundTrips(player.fd(), warmUp, replySize, check);
  const Samples server = RoundTrips(player.fd(), timed, replySize, check);

  RawEcho burst(timed.front().size(), replySize);
  Samples baseline;
  {
    const Fd raw = ConnectLoopback(burst.port());
    RoundTrips(raw.get(), warmUp, replySize, {});
    baseline = RoundTrips(raw.get(), timed, replySize, {});
  }
  burst.Join();
  return LatencyFigures("login (" + std::to_string(replySize) + " B reply)", server, baseline,
                        Target{Target::Kind::kAtMost, kLoginTarget});
}

RelayFigures MeasureRelay(ProtocolPeer& sender, ProtocolPeer& receiver, std::int16_t opcode,
                          const Counts& counts) {
  const bool chat = opcode == kChat;
  Bytes payload;
  Bytes relayed;
  if (chat) {
    payload = {0x01};
    payload.insert(payload.end(), kChatText.begin(), kChatText.end());
    // 00, the type, the sender's name, 0A, the text.
    const std::string line =
        std::string("\x00\x01", 2) + kCharacterName + "\x0A" + std::string(kChatText);
    relayed.assign(line.begin(), line.end());
  } else {
    payload.assign(kMovePayload.begin(), kMovePayload.end());
    relayed = NameBlock();
    relayed[kMarkOffset] = 0x07;
    relayed.insert(relayed.end(), payload.begin(), payload.end());
  }
  const std::int16_t relayOpcode = chat ? kChatLine : kMoveRelay;
  const std::string label = chat ? "relay 302 chat" : "relay 202 move";

  auto [oneByOne, flooded] =
      Split(Sealed(sender, opcode, payload, counts.warmUp + counts.relayed + counts.flood),
            counts.warmUp + counts.relayed);
  auto [warmUp, timed] = Split(std::move(oneByOne), counts.warmUp);
  const std::size_t packetSize = timed.front().size();
  const std::size_t relaySize = 8 + relayed.size();
  const std::size_t echoSize = chat ? relaySize : 0;

  const RelayLink link{sender.fd(), receiver.fd(), echoSize, relaySize};
  const Check echoCheck = ExpectEach(sender, relayOpcode, relayed, 1, label + " echo");
  const Check relayCheck = ExpectEach(receiver, relayOpcode, relayed, 1, label);
  RelayOneAtATime(link, warmUp, echoCheck, relayCheck);
  const Samples server = RelayOneAtATime(link, timed, echoCheck, relayCheck);
  const Flood serverFlood = RelayFlood(link, flooded);
  ExpectEach(receiver, relayOpcode, relayed, flooded.size(), label + " flood")(serverFlood.relayed);
  if (chat) {
    ExpectEach(sender, relayOpcode, relayed, flooded.size(),
               label + " flood echo")(serverFlood.echoed);
  }

  RawForwarder forwarder(packetSize, echoSize, relaySize);
  Samples baseline;
  Flood baselineFlood;
  {
    const Fd rawSender = ConnectLoopback(forwarder.port());
    const Fd rawReceiver = ConnectLoopback(forwarder.port());
    const RelayLink raw{rawSender.get(), rawReceiver.get(), echoSize, relaySize};
    RelayOneAtATime(raw, warmUp, {}, {});
    baseline = RelayOneAtATime(raw, timed, {}, {});
    baselineFlood = RelayFlood(raw, flooded);
  }
  forwarder.Join();

  RelayFigures result;
  result.figures.push_back({label + " throughput", "kpkt/s",
                            PacketsPerSecond(serverFlood, flooded.size()) / 1000.0,
                            PacketsPerSecond(baselineFlood, flooded.size()) / 1000.0,
                            Target{Target::Kind::kAtLeast, kRelayThroughputTarget}});
  for (Figure& figure : LatencyFigures(label + " latency", server, baseline, std::nullopt)) {
    result.figures.push_back(std::move(figure));
  }
  result.server = {chat ? "chat_server" : "move_server", Sorted(server)};
  result.forwarder = {chat ? "chat_forwarder" : "move_forwarder", Sorted(baseline)};
  return result;
}

}  // namespace quorvane::bench
