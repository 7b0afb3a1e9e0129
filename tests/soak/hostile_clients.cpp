#include "hostile_clients.h"

#include <sys/socket.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "session/opcodes.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using client::TcpConnection;

using opcode::kLogin;
using opcode::kPing;
using opcode::kPong;
using opcode::kSay;

constexpr std::size_t kLargestPayload = 65535;
constexpr auto kReplyTimeout = 5s;

std::chrono::milliseconds Remaining(Clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                  0ms);
}

// True once the server has closed the connection, reading past whatever it
// still sends; false if it is still open when the time is up.
bool ClosedWithin(TcpConnection& connection, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  Bytes arrived;
  for (;;) {
    arrived.clear();
    switch (connection.ReadSome(arrived, Remaining(deadline))) {
      case TcpConnection::ReadStatus::kClosed:
        return true;
      case TcpConnection::ReadStatus::kTimeout:
        return false;
      case TcpConnection::ReadStatus::kData:
        break;
    }
  }
}

void ResetAndClose(TcpConnection& connection) {
  const linger discard{1, 0};
  ::setsockopt(connection.fd(), SOL_SOCKET, SO_LINGER, &discard, sizeof discard);
  connection.Close();
}

Bytes NameBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

// Chat of line type 01.
Bytes ChatLine(const std::string& text) {
  Bytes payload(1 + text.size(), 0x01);
  std::copy(text.begin(), text.end(), payload.begin() + 1);
  return payload;
}

// Sends what it can; a server that closes the connection ends the sending.
bool SendUntilClosed(TcpConnection& connection, ByteView bytes) {
  try {
    connection.SendAll(bytes);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

}  // namespace

Visitor::Visitor(std::uint16_t port, std::uint32_t seed)
    : connection_(TcpConnection::Connect("127.0.0.1", port, kReplyTimeout)), session_(seed) {}

bool Visitor::Handshake(std::chrono::milliseconds timeout) {
  if (!SendUntilClosed(connection_, session_.Hello())) return false;
  const auto deadline = Clock::now() + timeout;
  Bytes arrived;
  while (session_.phase() == client::ClientSession::Phase::kAwaitingReply) {
    arrived.clear();
    if (connection_.ReadSome(arrived, Remaining(deadline)) != TcpConnection::ReadStatus::kData) {
      return false;
    }
    for (client::Packet& packet : session_.Receive(arrived)) queued_.push_back(std::move(packet));
  }
  return session_.phase() == client::ClientSession::Phase::kOpen;
}

void Visitor::Send(std::int16_t opcode, ByteView payload) {
  connection_.SendAll(session_.Seal(opcode, payload));
}

void Visitor::SendRaw(ByteView bytes) {
  connection_.SendAll(bytes);
}

std::optional<client::Packet> Visitor::NextPacket(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  Bytes arrived;
  while (queued_.empty()) {
    arrived.clear();
    if (connection_.ReadSome(arrived, Remaining(deadline)) != TcpConnection::ReadStatus::kData) {
      return std::nullopt;
    }
    for (client::Packet& packet : session_.Receive(arrived)) queued_.push_back(std::move(packet));
  }
  client::Packet next = std::move(queued_.front());
  queued_.pop_front();
  return next;
}

bool Visitor::Pinged() {
  Send(kPing, {});
  while (const auto packet = NextPacket(kReplyTimeout)) {
    if (packet->opcode == kPong) return packet->payload == Bytes{0x00};
  }
  return false;
}

bool Visitor::WaitClosed(std::chrono::milliseconds timeout) {
  return ClosedWithin(connection_, timeout);
}

void Visitor::Reset() {
  ResetAndClose(connection_);
}

void HostileClients::ConnectAndLeave(bool reset) {
  TcpConnection connection = TcpConnection::Connect("127.0.0.1", port_, kReplyTimeout);
  if (reset) ResetAndClose(connection);
}

std::unique_ptr<Visitor> HostileClients::JoinFreeSlot() {
  const auto deadline = Clock::now() + 10s;
  while (Clock::now() < deadline) {
    auto visitor = std::make_unique<Visitor>(port_, nextSeed_++);
    if (visitor->Handshake(kReplyTimeout)) return visitor;
    std::this_thread::sleep_for(2ms);
  }
  throw std::runtime_error("the free slot did not come free within 10 s");
}

bool HostileClients::FullVisit(const std::string& name, int chatNumber) {
  const auto visitor = JoinFreeSlot();
  visitor->Send(kLogin, NameBlock(name));
  visitor->Send(kSay, ChatLine("soak chat " + std::to_string(chatNumber)));
  return visitor->Pinged();
}

int HostileClients::StormWhileFull(int count, bool& heldServed) {
  // A player, logged in: a connection without a login would lose its slot to
  // the storm once past its login grace.
  const auto held = JoinFreeSlot();
  held->Send(kLogin, NameBlock("Nobody"));
  if (!held->Pinged()) {
    heldServed = false;
    return 0;
  }
  std::vector<Visitor> storm;
  storm.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) storm.emplace_back(port_, nextSeed_++);
  int closed = 0;
  for (Visitor& refused : storm) closed += refused.WaitClosed(kReplyTimeout) ? 1 : 0;
  heldServed = held->Pinged();
  return closed;
}

void HostileClients::VanishMidHandshake() {
  TcpConnection connection = TcpConnection::Connect("127.0.0.1", port_, kReplyTimeout);
  const Bytes hello = client::ClientSession(nextSeed_++).Hello();
  const auto cut = 1 + random_() % (hello.size() - 1);
  connection.SendAll(ByteView(hello).first(cut));
  ResetAndClose(connection);
}

void HostileClients::VanishMidLogin(const std::string& name) {
  const auto visitor = JoinFreeSlot();
  visitor->Send(kLogin, NameBlock(name));
  visitor->Reset();
}

void HostileClients::LeaveMidPacket(int chatNumber) {
  const auto visitor = JoinFreeSlot();
  visitor->Send(kSay, ChatLine("soak chat " + std::to_string(chatNumber)));
  const Bytes next = visitor->session().Seal(kPing, {});
  visitor->SendRaw(ByteView(next).first(5));
}

bool HostileClients::FloodBeforeHandshake(std::size_t bytes) {
  TcpConnection connection = TcpConnection::Connect("127.0.0.1", port_, kReplyTimeout);
  SendUntilClosed(connection, RandomBytes(bytes));
  return ClosedWithin(connection, kReplyTimeout);
}

bool HostileClients::FloodAfterHandshake(std::size_t bytes) {
  const auto visitor = JoinFreeSlot();
  visitor->SendRaw(RandomBytes(bytes));
  return !visitor->WaitClosed(100ms);
}

void HostileClients::StallInLargestPacket(std::chrono::milliseconds hold) {
  const auto visitor = JoinFreeSlot();
  const Bytes packet = visitor->session().Seal(kSay, Bytes(kLargestPayload, 'z'));
  visitor->SendRaw(ByteView(packet).first(packet.size() - 1));
  std::this_thread::sleep_for(hold);
}

bool HostileClients::ChatWithoutReading(int maxLines) {
  const auto visitor = JoinFreeSlot();
  const Bytes line = ChatLine(std::string(60000, 'w'));
  for (int i = 0; i < maxLines; ++i) {
    try {
      visitor->Send(kSay, line);
    } catch (const std::runtime_error&) {
      return true;
    }
  }
  return false;
}

Bytes HostileClients::RandomBytes(std::size_t count) {
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random_());
  return bytes;
}

}  // namespace quorvane::testing
