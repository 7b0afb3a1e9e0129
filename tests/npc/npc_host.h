// Form1 on in-memory controls, with up to two players whose clients sit at
// the far end of fake sockets and open whatever the server sends them.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "client_session.h"
#include "form1.h"
#include "host_fakes.h"
#include "kelvane.hpp"

namespace quorvane::testing {

// The cipher linked into the test rather than loaded at run time.
inline const kelvane::Api& LinkedCipher() {
  static const kelvane::Api api{&::encode,  &::decode,  &::clishuf,   &::serdesh,
                                &::sershuf, &::clidesh, &::seedcrypt, &::clienc,
                                &::serenc,  &::serdec,  &::clidec};
  return api;
}

// One end of a connection held in memory: what the server writes is kept for
// the test, what the test delivers is handed to the session as an arrival.
class MemorySocket : public SocketControl {
 public:
  void Accept(std::int32_t) override { connected_ = true; }
  void Close() override { connected_ = false; }
  std::int16_t State() const override { return connected_ ? kConnected : 0; }
  void GetData(Bytes& into) override {
    into.insert(into.end(), inbound_.begin(), inbound_.end());
    inbound_.clear();
  }
  void SendData(ByteView bytes) override {
    outbound_.insert(outbound_.end(), bytes.begin(), bytes.end());
  }
  void SetDataArrivalHandler(std::function<void()> handler) override {
    arrival_ = std::move(handler);
  }

  void Deliver(ByteView bytes) {
    inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
    if (arrival_) arrival_();
  }
  Bytes TakeSent() { return std::exchange(outbound_, {}); }

 private:
  bool connected_ = false;
  Bytes inbound_;
  Bytes outbound_;
  std::function<void()> arrival_;
};

class NpcHost {
 public:
  explicit NpcHost(Generator& generator)
      : form_(Form1::Controls{text_, listener_, sockets_[0], sockets_[1]}, LinkedCipher(),
              generator, "/nonexistent") {
    form_.Form_Load();
  }

  // A connection request, then the client's hello; the request goes to the
  // first free slot, so players are numbered by the slot they got.
  void ConnectPlayer() {
    std::array<bool, 2> wasConnected{};
    for (std::size_t slot = 0; slot < 2; ++slot) wasConnected[slot] = Connected(slot);
    form_.Winsock1_ConnectionRequest(nextRequest_++);
    for (std::size_t slot = 0; slot < 2; ++slot) {
      if (wasConnected[slot] || !Connected(slot)) continue;
      clients_[slot] = std::make_unique<client::ClientSession>(0xC0FFEE00u + slot);
      sockets_[slot].Deliver(clients_[slot]->Hello());
      EXPECT_TRUE(Received(static_cast<int>(slot)).empty());
      ASSERT_EQ(clients_[slot]->phase(), client::ClientSession::Phase::kOpen)
          << clients_[slot]->Error();
      return;
    }
    FAIL() << "no slot took the connection";
  }

  void DisconnectPlayer(int player) { sockets_.at(static_cast<std::size_t>(player)).Close(); }

  void Tick() { form_.Timer1_Timer(); }

  // Packets the player's client opened since the last call.
  std::vector<client::Packet> Received(int player) {
    const auto slot = static_cast<std::size_t>(player);
    const Bytes sent = sockets_.at(slot).TakeSent();
    if (!clients_[slot]) return {};
    return clients_[slot]->Receive(sent);
  }

  const std::string& Log() const { return text_.Text(); }
  Form1& form() { return form_; }

 private:
  bool Connected(std::size_t slot) const {
    return sockets_[slot].State() == SocketControl::kConnected;
  }

  FakeTextBox text_;
  FakeListener listener_;
  std::array<MemorySocket, 2> sockets_;
  std::array<std::unique_ptr<client::ClientSession>, 2> clients_;
  std::int32_t nextRequest_ = 1;
  Form1 form_;
};

}  // namespace quorvane::testing
