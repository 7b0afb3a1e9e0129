#include "anchor_player.h"

#include <algorithm>
#include <stdexcept>

#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

using opcode::kAppeared;
using opcode::kChatLine;
using opcode::kLogin;
using opcode::kMoved;
using opcode::kPing;
using opcode::kPong;

constexpr std::uint8_t kLineFeed = 0x0A;
const std::string kChatPrefix = "soak chat ";
constexpr auto kPause = std::chrono::milliseconds(1);

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

}  // namespace

AnchorPlayer::AnchorPlayer(std::uint16_t port, const std::string& name)
    : client_("127.0.0.1", port, 0xA17C) {
  if (!client_.Handshake()) throw std::runtime_error("the anchor got no handshake reply");
  client_.Send(kLogin, NameBlock(name));
  // The login's own packets come before the answer to this ping.
  client_.Send(kPing, {});
  for (;;) {
    const auto packet = client_.NextPacket();
    if (!packet) throw std::runtime_error("the anchor's login got no answer");
    if (packet->opcode == kPong) break;
  }
}

AnchorPlayer::~AnchorPlayer() {
  if (thread_.joinable()) Stop();
}

void AnchorPlayer::Start() {
  thread_ = std::thread([this] { Run(); });
}

AnchorReport AnchorPlayer::Stop() {
  stop_ = true;
  thread_.join();
  if (report_.faults.empty()) PingRound();
  if (client_.session().phase() != client::ClientSession::Phase::kOpen) {
    report_.faults.push_back("the anchor's session broke: " + client_.session().Error());
  }
  return report_;
}

void AnchorPlayer::Run() {
  // A ping every millisecond or so: every hostile client's visit falls between
  // pings, and the two cores are left to the server and the other clients.
  while (!stop_ && PingRound()) std::this_thread::sleep_for(kPause);
}

bool AnchorPlayer::PingRound() {
  const auto sent = Clock::now();
  client_.Send(kPing, {});
  for (;;) {
    const auto packet = client_.NextPacket();
    if (!packet) {
      report_.faults.push_back("no answer to ping " + std::to_string(report_.pongs + 1) +
                               " within 5 s");
      return false;
    }
    if (packet->opcode != kPong) {
      Check(*packet);
      continue;
    }
    if (packet->payload != Bytes{0x00}) report_.faults.push_back("a pong with a payload");
    ++report_.pongs;
    report_.slowestPong =
        std::max(report_.slowestPong,
                 std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent));
    return true;
  }
}

void AnchorPlayer::Check(const client::Packet& packet) {
  switch (packet.opcode) {
    case kMoved:
    case kAppeared:
      return;
    case kChatLine:
      break;
    default:
      report_.faults.push_back("unexpected opcode " + std::to_string(packet.opcode));
      return;
  }
  const auto& payload = packet.payload;
  const auto lineFeed = std::find(payload.begin(), payload.end(), kLineFeed);
  if (payload.size() < 2 || payload[0] != 0x00 || lineFeed == payload.end()) {
    report_.faults.push_back("a malformed chat line");
    return;
  }
  const std::string text(lineFeed + 1, payload.end());
  if (text.rfind(kChatPrefix, 0) == 0) {
    report_.chatNumbers.push_back(std::stoi(text.substr(kChatPrefix.size())));
  }
}

}  // namespace quorvane::testing
