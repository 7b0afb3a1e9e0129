// Form1 on fake sockets, a fake listener and a fake clock, with a client's
// end of the protocol for each slot, every event its observers hear as a line
// of text, and every line its diagnostics write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_socket.h"
#include "host/form1.h"
#include "host_fakes.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"
#include "report_log.h"

namespace quorvane::testing {

using namespace std::chrono_literals;

inline constexpr std::int16_t kLogin = 200;
inline constexpr std::int16_t kAppeared = 205;
inline constexpr std::int16_t kChatLine = 303;
inline const std::string kToServer1 = "Connected client to Server1\r\n";
inline const std::string kSlot1 = "slot 1 127.0.0.1:40000";

// A login payload: 00, the name, 00 bytes to 46.
inline Bytes LoginBlock(const std::string& name) {
  Bytes block(46, 0x00);
  std::copy(name.begin(), name.end(), block.begin() + 1);
  return block;
}

inline std::string ReasonText(CloseReason reason) {
  switch (reason) {
    case CloseReason::kPeerClosed:
      return "peer closed";
    case CloseReason::kReset:
      return "reset";
    case CloseReason::kTimedOut:
      return "timed out";
    case CloseReason::kSendBound:
      return "send bound";
    case CloseReason::kClosedByUs:
      return "closed by us";
  }
  return "?";
}

inline std::string RefusalText(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::kSlotsFull:
      return "slots full";
    case RefusalReason::kNotAllowed:
      return "not allowed";
    case RefusalReason::kDenied:
      return "denied";
    case RefusalReason::kPerAddressLimit:
      return "per-address limit";
    case RefusalReason::kBanned:
      return "banned";
    case RefusalReason::kNoPeerAddress:
      return "no peer address";
    case RefusalReason::kShuttingDown:
      return "shutting down";
  }
  return "?";
}

inline std::string CauseText(HostCause cause) {
  switch (cause) {
    case HostCause::kNone:
      return "";
    case HostCause::kHandshakeTimeout:
      return " (handshake timeout)";
    case HostCause::kLoginTimeout:
      return " (login timeout)";
    case HostCause::kIdleTimeout:
      return " (idle timeout)";
    case HostCause::kCharacterInUse:
      return " (character in use)";
    case HostCause::kNoCharacterFile:
      return " (no character file)";
    case HostCause::kMadeRoom:
      return " (made room)";
    case HostCause::kDenied:
      return " (denied)";
    case HostCause::kKicked:
      return " (kicked)";
    case HostCause::kShutdown:
      return " (shutdown)";
  }
  return " (?)";
}

// Every event as one line of text, in order.
class RecordingObserver : public ConnectionObserver {
 public:
  void ConnectionAccepted(std::size_t slot, std::string_view peer) override {
    events.push_back("accepted " + std::to_string(slot) + " " + std::string(peer));
  }
  void ConnectionRefused(std::string_view peer, RefusalReason reason) override {
    events.push_back("refused " + std::string(peer) + " " + RefusalText(reason));
  }
  void AddressBanned(std::string_view address, BanReason reason,
                     std::chrono::milliseconds duration) override {
    events.push_back("banned " + std::string(address) +
                     (reason == BanReason::kConnectionRate ? " rate" : " penalty") + " for " +
                     std::to_string(duration.count()) + " ms");
  }
  void HandshakeDone(std::size_t slot) override {
    events.push_back("handshake " + std::to_string(slot));
  }
  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override {
    events.push_back("logged in " + std::to_string(slot) + " " + std::string(fileName) +
                     (characterFound ? " found" : " not found"));
  }
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override {
    events.push_back("closed " + std::to_string(slot) + " " + ReasonText(reason) +
                     CauseText(cause) + " after " + std::to_string(lasted.count()) + " ms");
  }
  void RelayDropped(std::size_t fromSlot, std::size_t toSlot, std::int16_t opcode,
                    DropReason reason) override {
    events.push_back("dropped " + std::to_string(opcode) + " from " +
                     (fromSlot == kNoSlot ? std::string("server") : std::to_string(fromSlot)) +
                     " to " + std::to_string(toSlot) +
                     (reason == DropReason::kBackPressure ? " back-pressure" : " rate"));
  }

  std::vector<std::string> events;
};

// A fake socket that also notes, in one journal shared by all slots, which
// slot each write went to.
class JournaledSocket : public FakeSocket {
 public:
  JournaledSocket(std::vector<std::size_t>& journal, std::size_t slot)
      : journal_(journal), slot_(slot) {}
  void SendData(ByteView bytes) override {
    journal_.push_back(slot_);
    FakeSocket::SendData(bytes);
  }

 private:
  std::vector<std::size_t>& journal_;
  std::size_t slot_;
};

// A host with the product's defaults but for what a test changes.
inline HostSettings Defaults() {
  HostSettings settings;
  settings.tickInterval = 5s;
  return settings;
}

class HostTest : public ::testing::Test {
 protected:
  HostTest() { Build(Defaults()); }

  // A fresh host on the same fakes.
  void Build(const HostSettings& settings) {
    form_.reset();
    reports_.lines.clear();
    form_ = std::make_unique<Form1>(
        Form1::Controls{
            text_, listener_, {sockets_[0], sockets_[1]}, clock_, reports_.Sink(), &data_},
        LinkedApi(), generator_, settings);
    form_->AddObserver(observer_);
  }

  // A connection request; the slot it went to, or kSlotCount when refused.
  std::size_t Connect(std::int32_t requestID = 1) {
    std::array<bool, kSlotCount> before{};
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) before[slot] = Connected(slot);
    form_->Winsock1_ConnectionRequest(requestID);
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
      if (!before[slot] && Connected(slot)) return slot;
    }
    return kSlotCount;
  }

  // The client in `slot` sends its hello; false when no reply came.
  bool Handshake(std::size_t slot) {
    // What went to the slot's earlier client is not this one's.
    sockets_[slot].TakeSent();
    clients_[slot] = std::make_unique<ProtocolClient>(0xC0FFEE00u + slot);
    sockets_[slot].Deliver(clients_[slot]->Hello());
    return clients_[slot]->TakeReply(sockets_[slot].TakeSent());
  }

  bool Connected(std::size_t slot) const {
    return sockets_[slot].State() == SocketControl::kConnected;
  }

  // The client in `slot` logs in as `name`.
  void LogIn(std::size_t slot, const std::string& name) {
    sockets_[slot].Deliver(clients_[slot]->Seal(kLogin, LoginBlock(name)));
  }

  // Packets the client in `slot` opened since the last call.
  std::vector<Packet> Received(std::size_t slot) {
    return clients_[slot]->Open(sockets_[slot].TakeSent());
  }

  MemoryDataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::vector<std::size_t> journal_;
  std::array<JournaledSocket, kSlotCount> sockets_{JournaledSocket(journal_, 0),
                                                   JournaledSocket(journal_, 1)};
  std::array<std::unique_ptr<ProtocolClient>, kSlotCount> clients_;
  Generator generator_{42, [] { return std::uint64_t{7}; }};
  ReportLog reports_;
  RecordingObserver observer_;
  std::unique_ptr<Form1> form_;
};

}  // namespace quorvane::testing
