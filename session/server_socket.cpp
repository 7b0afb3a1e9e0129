#include "session/server_socket.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "hello_pieces.h"
#include "session/handshake.h"
#include "session/opcodes.h"

namespace quorvane {
namespace {

// Opcodes the library reports instead of a packet: no whole packet, and a
// failed sequence check.
constexpr std::int16_t kNoPacket = 0;
constexpr std::int16_t kSequenceFailure = -1;

constexpr std::size_t kMaxPayload = std::numeric_limits<std::uint16_t>::max();

constexpr double kServerSeedRange = 32768.0;

constexpr std::uint8_t kPong[] = {0x00};
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kFilteredLineType = 0x03;
// A chat line names its writer with the first 18 bytes of the writer's
// NameField; the type-03 filter compares with the first 17 of the receiver's.
constexpr std::size_t kSenderNameBytes = 18;
constexpr std::size_t kOwnNameBytes = 17;

// The first `count` bytes of the name block without its 00 bytes.
void AppendName(Bytes& into, const NameField& field, std::size_t count) {
  std::copy_if(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(count),
               std::back_inserter(into), [](std::uint8_t byte) { return byte != 0x00; });
}

}  // namespace

ServerSocket::ServerSocket(SocketControl& socket, const kelvane::Api& cipher, Generator& generator,
                           DataFolder& data)
    : socket_(socket), cipher_(cipher), generator_(generator), data_(data), received_(kLengthSlot) {
  socket_.SetDataArrivalHandler([this] { DataArrival(); });
  socket_.SetClosedHandler([this](CloseReason reason) {
    if (closed_) closed_(reason);
  });
}

// The socket may outlive its session.
ServerSocket::~ServerSocket() {
  socket_.SetDataArrivalHandler({});
  socket_.SetClosedHandler({});
}

void ServerSocket::Closer() {
  socket_.Close();
}

void ServerSocket::Accept(std::int32_t requestID) {
  SessionPhase = kPhaseAwaitingHello;
  NameField = {};
  CharacterRecord = {};
  scratch_.clear();
  outgoing_.clear();
  // A packet left unfinished by the slot's previous client is not this one's.
  received_.resize(kLengthSlot);
  socket_.Accept(requestID);
}

std::int16_t ServerSocket::Stat() const {
  return socket_.State();
}

NameField ServerSocket::Char() const {
  return NameField;
}

std::int16_t ServerSocket::PlayerX() const {
  return CharacterRecord.PosX;
}

std::int16_t ServerSocket::PlayerY() const {
  return CharacterRecord.PosY;
}

void ServerSocket::SendData(std::int16_t id, ByteView data) {
  if (!Ready()) return;
  // serenc would cut a longer payload short; better not to send it at all.
  if (data.size() > kMaxPayload) return;
  if (id == opcode::kChatLine && data.size() >= 2 && data[1] == kFilteredLineType) {
    const auto headEnd = std::find(data.begin(), data.end(), kLineFeed);
    Bytes expected{0x00, kFilteredLineType};
    AppendName(expected, NameField, kOwnNameBytes);
    if (!std::equal(data.begin(), headEnd, expected.begin(), expected.end())) return;
  }
  SendSealed(id, data);
}

void ServerSocket::SetAllSendHandler(AllSendHandler handler) {
  allSend_ = std::move(handler);
}

void ServerSocket::SetHandshakeDoneHandler(HandshakeDoneHandler handler) {
  handshakeDone_ = std::move(handler);
}

void ServerSocket::SetLoggedInHandler(LoggedInHandler handler) {
  loggedIn_ = std::move(handler);
}

void ServerSocket::SetClosedHandler(ClosedHandler handler) {
  closed_ = std::move(handler);
}

void ServerSocket::SetArrivalHandler(ArrivalHandler handler) {
  arrival_ = std::move(handler);
}

void ServerSocket::SetLoginGate(LoginGate gate) {
  loginGate_ = std::move(gate);
}

void ServerSocket::SetLoginRateGate(LoginRateGate gate) {
  loginRateGate_ = std::move(gate);
}

void ServerSocket::SetDiagnostics(Diagnostics diagnostics) {
  diagnostics_ = std::move(diagnostics);
}

void ServerSocket::DataArrival() {
  const std::size_t kept = received_.size() - kLengthSlot;
  socket_.GetData(received_);
  if (arrival_) arrival_();
  try {
    switch (SessionPhase) {
      case kPhaseAwaitingHello:
        Handshake(kept);
        break;
      case kPhaseOpen:
        ReceiveLoop();
        break;
      default:
        received_.resize(kLengthSlot);
        break;
    }
  } catch (const std::exception& failure) {
    received_.resize(kLengthSlot);
    Report(diagnostics_, std::string("arrival could not be handled, dropped: ") + failure.what());
  } catch (...) {
    received_.resize(kLengthSlot);
    Report(diagnostics_, "arrival could not be handled, dropped");
  }
}

const unsigned char* ServerSocket::ReceivedFrom(std::size_t start) {
  const std::size_t length = received_.size() - start;
  if (length > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("arrival too long for a byte string");
  }
  const auto length32 = static_cast<std::uint32_t>(length);
  std::memcpy(received_.data() + start - kLengthSlot, &length32, kLengthSlot);
  return received_.data() + start;
}

// The hello may come in pieces: the start of one waits in the buffer for the
// rest. An arrival that is a hello by itself is answered whatever waited
// before it, and one that cannot be part of a hello clears the buffer.
void ServerSocket::Handshake(std::size_t kept) {
  const ByteView all = ByteView(received_).subspan(kLengthSlot);
  const ByteView arrival = all.subspan(kept);
  std::optional<Bytes> hello;
  std::size_t wireSize = 0;
  if (kept != 0 && (hello = ValidHello(arrival))) {
    wireSize = arrival.size();
  } else if ((hello = ValidHello(all))) {
    wireSize = all.size();
  } else if (UnfinishedHello(all)) {
    return;
  } else if (kept != 0 && UnfinishedHello(arrival)) {
    received_.erase(received_.begin() + kLengthSlot,
                    received_.begin() + static_cast<std::ptrdiff_t>(kLengthSlot + kept));
    return;
  }
  received_.resize(kLengthSlot);
  if (hello) Answer(*hello, wireSize);
}

std::optional<Bytes> ServerSocket::ValidHello(ByteView wire) {
  const auto decoded = kelvane::adopt(cipher_.decode(argument_.fill(wire)));
  const ByteView hello = kelvane::view(decoded);
  if (hello.size() != kHelloSize ||
      !std::equal(kHelloPrefix.begin(), kHelloPrefix.end(), hello.begin())) {
    return std::nullopt;
  }
  return Bytes(hello.begin(), hello.end());
}

void ServerSocket::Answer(ByteView hello, std::size_t helloWireSize) {
  CipherState.clientSeed = cipher_.serdesh(argument_.fill(hello.subspan(kHelloPrefix.size())));
  const double draw = std::floor(static_cast<double>(generator_.NextUnit()) * kServerSeedRange);
  CipherState.serverSeed = static_cast<std::uint32_t>(std::min(draw, kServerSeedRange - 1));
  cipher_.seedcrypt(&CipherState);

  const auto shuffled = kelvane::adopt(cipher_.sershuf(CipherState.serverSeed));
  std::array<std::uint8_t, kReplySize> reply{};
  const auto afterPrefix = std::copy(kReplyPrefix.begin(), kReplyPrefix.end(), reply.begin());
  std::copy_n(kelvane::view(shuffled).begin(), reply.end() - afterPrefix, afterPrefix);
  const auto escaped = kelvane::adopt(cipher_.encode(argument_.fill(reply)));
  socket_.SendData(kelvane::view(escaped));
  traffic_.handshakeReceived += {1, helloWireSize};
  traffic_.handshakeSent += {1, kelvane::view(escaped).size()};
  SessionPhase = kPhaseOpen;
  if (handshakeDone_) handshakeDone_();
}

// Each packet is opened where it lies in the buffer: the 4 bytes before it
// (the previous packet's, already dispatched) take its byte-string length.
void ServerSocket::ReceiveLoop() {
  using Status = kelvane::OpenedPacket::Status;
  std::size_t start = kLengthSlot;
  while (start < received_.size()) {
    const kelvane::OpenedPacket packet =
        kelvane::openPacket(cipher_.serdec, ReceivedFrom(start), CipherState);
    // A packet cut short waits for the rest of its bytes in the next arrival.
    if (packet.status == Status::kShort) break;
    // 0 and -1 are the opener's own stop signals, so a packet carrying either
    // is never dispatched, and nothing after it is trusted.
    if (packet.status == Status::kSequenceFailure || packet.opcode == kNoPacket ||
        packet.opcode == kSequenceFailure) {
      start = received_.size();
      break;
    }
    start += packet.used;
    traffic_.CountReceived(packet.opcode, packet.used);
    DispatchGuarded(packet.opcode, packet.body());
    // A handler that ended the connection (a refused login, a peer that does
    // not read) leaves nothing to serve.
    if (socket_.State() != SocketControl::kConnected) {
      start = received_.size();
      break;
    }
  }
  const auto rest = received_.begin() + static_cast<std::ptrdiff_t>(start);
  received_.erase(received_.begin() + kLengthSlot, rest);
}

// The packet was opened, so the sequence has moved past it: the loop goes on
// with the next one, in step with the client.
void ServerSocket::DispatchGuarded(std::int16_t opcode, ByteView payload) {
  const auto skipped = [&](std::string_view reason) {
    Report(diagnostics_, "handler of opcode " + std::to_string(opcode) +
                             " failed, its packet skipped" + std::string(reason));
  };
  dispatching_ = true;
  try {
    DispatchPacket(opcode, payload);
  } catch (const std::exception& failure) {
    skipped(std::string(": ") + failure.what());
  } catch (...) {
    skipped({});
  }
  dispatching_ = false;
  // Also after a failure: the packets sealed before it moved the cipher on.
  SendOutgoing();
}

void ServerSocket::DispatchPacket(std::int16_t opcode, ByteView payload) {
  switch (opcode) {
    case opcode::kPing:
      Ping();
      break;
    case opcode::kLogin:
      if (loginRateGate_ && !loginRateGate_()) break;
      Login(payload);
      break;
    case opcode::kMove:
      Move(payload);
      break;
    case opcode::kSay:
      Chat(payload);
      break;
    default:
      break;
  }
}

void ServerSocket::Ping() {
  SendSealed(opcode::kPong, kPong);
}

void ServerSocket::Move(ByteView payload) {
  scratch_.assign(NameField.begin(), NameField.end());
  scratch_.insert(scratch_.end(), payload.begin(), payload.end());
  RaiseAllSend(opcode::kMoved, scratch_);
}

void ServerSocket::Chat(ByteView payload) {
  // No type byte to take: nothing to say.
  if (payload.empty()) return;
  scratch_.assign({0x00, payload[0]});
  AppendName(scratch_, NameField, kSenderNameBytes);
  scratch_.push_back(kLineFeed);
  scratch_.insert(scratch_.end(), payload.begin() + 1, payload.end());
  SendSealed(opcode::kChatLine, scratch_);
  RaiseAllSend(opcode::kChatLine, scratch_);
}

bool ServerSocket::Ready() const {
  return socket_.State() == SocketControl::kConnected && SessionPhase == kPhaseOpen;
}

void ServerSocket::SendSealed(std::int16_t opcode, ByteView payload) {
  if (payload.size() > kMaxPayload) {
    throw HandlerFailure("payload of " + std::to_string(payload.size()) +
                         " bytes does not fit in one packet");
  }
  const std::size_t start = outgoing_.size();
  outgoing_.resize(start + kelvane::kPacketHeaderSize + payload.size());
  std::copy(payload.begin(), payload.end(),
            outgoing_.begin() + static_cast<std::ptrdiff_t>(start + kelvane::kPacketHeaderSize));
  const std::uint32_t sealed = cipher_.serseal(
      opcode, outgoing_.data() + start, static_cast<std::uint16_t>(payload.size()), &CipherState);
  traffic_.CountSent(opcode, sealed);
  if (!dispatching_) SendOutgoing();
}

void ServerSocket::SendOutgoing() {
  if (outgoing_.empty()) return;
  socket_.SendData(outgoing_);
  outgoing_.clear();
}

void ServerSocket::RaiseAllSend(std::int16_t id, ByteView data) {
  // The other player hears of what this one was sent only after it was written.
  SendOutgoing();
  if (allSend_) allSend_(id, data);
}

}  // namespace quorvane
