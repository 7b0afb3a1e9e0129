// The real server, headless on 127.0.0.1, and real TCP clients for it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/packet_text.h"
#include "client/sync_client.h"
#include "server_process.h"
#include "session/opcodes.h"

namespace quorvane::testing {

using client::Packet;
using client::SyncClient;
using namespace std::chrono_literals;

using opcode::kPing;
using opcode::kPong;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { server_ = std::make_unique<ServerProcess>(QUORVANE_PROGRAM, settings_); }

  // A client connected to the server, its handshake done.
  std::unique_ptr<SyncClient> Join(std::uint32_t seed) {
    auto joined = Connect(seed);
    if (!joined->Handshake()) ADD_FAILURE() << "no handshake reply for client " << seed;
    return joined;
  }

  std::unique_ptr<SyncClient> Connect(std::uint32_t seed) {
    return std::make_unique<SyncClient>("127.0.0.1", server_->port(), seed);
  }

  // Pings and returns every packet that came before the answer: a barrier
  // that shows what the server had sent this client up to now.
  static std::vector<Packet> UntilPong(SyncClient& peer) {
    peer.Send(kPing, {});
    std::vector<Packet> before;
    while (std::optional<Packet> packet = peer.NextPacket()) {
      if (packet->opcode == kPong) return before;
      before.push_back(std::move(*packet));
    }
    ADD_FAILURE() << "no answer to a ping";
    return before;
  }

  // The login name block: 00, the name, 00 bytes up to 46 in all.
  static Bytes NameBlock(const std::string& name) {
    Bytes block(46, 0x00);
    std::copy(name.begin(), name.end(), block.begin() + 1);
    return block;
  }

  ServerProcess& server() { return *server_; }

  ServerProcess::Settings settings_;

 private:
  std::unique_ptr<ServerProcess> server_;
};

}  // namespace quorvane::testing
