// Form1 on in-memory controls and a data folder of its own, with up to two
// players whose clients sit at the far end of fake sockets and open whatever
// the server sends them.
#pragma once

#include <gtest/gtest.h>

#include <array>
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
#include "session/opcodes.h"

namespace quorvane::testing {

class NpcHost {
 public:
  explicit NpcHost(Generator& generator)
      : form_(Form1::Controls{text_, listener_, {sockets_[0], sockets_[1]}, clock_, {}, &data_},
              LinkedApi(), generator, {}) {
    form_.Form_Load();
  }

  // A connection request, then the client's handshake unless `hello` is
  // false. The request goes to the first free slot, so a player is numbered
  // by the slot it got.
  void ConnectPlayer(bool hello = true) {
    std::array<bool, 2> wasConnected{};
    for (std::size_t slot = 0; slot < 2; ++slot) wasConnected[slot] = Connected(slot);
    form_.Winsock1_ConnectionRequest(nextRequest_++);
    for (std::size_t slot = 0; slot < 2; ++slot) {
      if (wasConnected[slot] || !Connected(slot)) continue;
      clients_[slot] = std::make_unique<ProtocolClient>(0xC0FFEE00u + slot);
      if (!hello) return;
      sockets_[slot].Deliver(clients_[slot]->Hello());
      ASSERT_TRUE(clients_[slot]->TakeReply(sockets_[slot].TakeSent())) << "slot " << slot;
      return;
    }
    FAIL() << "no slot took the connection";
  }

  // The peer goes away without the server being told.
  void DisconnectPlayer(int player) { sockets_.at(static_cast<std::size_t>(player)).Disconnect(); }
  // The peer closes the connection and the server hears of it.
  void DropPlayer(int player) {
    sockets_.at(static_cast<std::size_t>(player)).Drop(CloseReason::kPeerClosed);
  }

  // The player's client sends the login packet with `block`.
  void Login(int player, const Bytes& block) {
    const auto slot = static_cast<std::size_t>(player);
    sockets_.at(slot).Deliver(clients_.at(slot)->Seal(opcode::kLogin, block));
  }

  void Tick() { form_.Timer1_Timer(); }

  // Packets the player's client opened since the last call.
  std::vector<Packet> Received(int player) {
    const auto slot = static_cast<std::size_t>(player);
    const Bytes sent = sockets_.at(slot).TakeSent();
    if (!clients_[slot]) return {};
    return clients_[slot]->Open(sent);
  }

  const std::string& Log() const { return text_.Text(); }
  MemoryDataFolder& data() { return data_; }
  Form1& form() { return form_; }

 private:
  bool Connected(std::size_t slot) const {
    return sockets_[slot].State() == SocketControl::kConnected;
  }

  MemoryDataFolder data_;
  FakeTextBox text_;
  FakeListener listener_;
  FakeClock clock_;
  std::array<FakeSocket, 2> sockets_;
  std::array<std::unique_ptr<ProtocolClient>, 2> clients_;
  std::int32_t nextRequest_ = 1;
  Form1 form_;
};

}  // namespace quorvane::testing
