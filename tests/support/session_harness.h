// One ServerSocket on a fake socket with its client at the far end, for tests
// that drive a session packet by packet. Link against quorvane_session,
// kelvane and quorvane_test_support.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "fake_socket.h"
#include "linked_api.h"
#include "memory_data_folder.h"
#include "protocol_client.h"
#include "session/generator.h"
#include "session/server_socket.h"

namespace quorvane::testing {

class SessionHarness {
  MemoryDataFolder ownData_;

 public:
  static constexpr std::uint32_t kClientSeed = 0x1234ABCDu;

  // Logins find their files in an empty folder of the harness's own.
  explicit SessionHarness(std::uint32_t clientSeed = kClientSeed, std::uint64_t generatorSeed = 42)
      : SessionHarness(ownData_, clientSeed, generatorSeed) {}
  // Logins find their files in `data`, which must outlive the harness.
  explicit SessionHarness(quorvane::DataFolder& data, std::uint32_t clientSeed = kClientSeed,
                          std::uint64_t generatorSeed = 42)
      : generator(generatorSeed, [] { return std::uint64_t{0}; }),
        session(socket, LinkedApi(), generator, data),
        client(clientSeed) {
    session.SetAllSendHandler([this](std::int16_t id, ByteView data) {
      relayed.push_back({id, Bytes(data.begin(), data.end())});
    });
  }

  // Accepts a connection the way the host does and completes the handshake;
  // false when the server's reply did not come or was not one.
  [[nodiscard]] bool Connect(std::int32_t requestID = 1) {
    session.Closer();
    session.Accept(requestID);
    socket.Deliver(client.Hello());
    return client.TakeReply(socket.TakeSent());
  }

  // Seals one packet and delivers it as one arrival.
  void Send(std::int16_t opcode, ByteView payload) { socket.Deliver(client.Seal(opcode, payload)); }
  void Send(std::int16_t opcode, std::initializer_list<std::uint8_t> payload) {
    socket.Deliver(client.Seal(opcode, payload));
  }

  // Everything the session wrote since the last call, opened by the client.
  std::vector<Packet> Received() { return client.Open(socket.TakeSent()); }

  FakeSocket socket;
  Generator generator;
  ServerSocket session;
  ProtocolClient client;
  // Every AllSend the session raised, in order.
  std::vector<Packet> relayed;
};

}  // namespace quorvane::testing
