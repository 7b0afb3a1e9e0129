// The library against the plain reference model, byte for byte and state
// for state, over many seeds, payload lengths and failure kinds.
#include <gtest/gtest.h>

#include <random>

#include "cipher_test_support.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;
using cipher_test::byteStr;
using cipher_test::sameState;
using reference::Direction;

Bytes randomBytes(std::mt19937& random, std::size_t n) {
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// Both ends of one connection, each with the library and the model side by side.
struct Connection {
  CipherState server{};
  CipherState client{};
  reference::State modelServer;
  reference::State modelClient;

  Connection(std::uint32_t clientSeed, std::uint32_t serverSeed) {
    server.clientSeed = client.clientSeed = clientSeed;
    server.serverSeed = client.serverSeed = serverSeed;
    seedcrypt(&server);
    seedcrypt(&client);
    modelServer = modelClient = reference::schedule(clientSeed, serverSeed);
  }

  testing::AssertionResult inStep() const {
    testing::AssertionResult s = sameState(server, modelServer);
    if (!s) return s << " (server)";
    testing::AssertionResult c = sameState(client, modelClient);
    if (!c) return c << " (client)";
    return testing::AssertionSuccess();
  }
};

TEST(ReferenceComparison, KeyScheduleMatchesForRandomSeeds) {
  std::mt19937 random(1);
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t a = random();
    const std::uint32_t b = random();
    CipherState state{a, b, 0, {}, {}};
    seedcrypt(&state);
    ASSERT_TRUE(sameState(state, reference::schedule(a, b))) << a << " " << b;
  }
}

// Every payload length from 0 to 300 and 65,535, client to server and back,
// on random seeds: packets equal to the model's, payloads restored, and both
// ends and the model in the same state after each packet.
TEST(ReferenceComparison, RoundTripsInBothDirections) {
  std::mt19937 random(2);
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  lengths.push_back(65535);

  for (int seedPair = 0; seedPair < 12; ++seedPair) {
    Connection link(random(), random());
    std::shuffle(lengths.begin(), lengths.end(), random);
    for (std::size_t n : lengths) {
      const Bytes payload = randomBytes(random, n);
      const auto opcode = static_cast<int16_t>(random());
      SCOPED_TRACE(testing::Message() << "seed pair " << seedPair << ", length " << n);

      const auto up = kelvane::adopt(clienc(opcode, byteStr(payload).get(), &link.client));
      ASSERT_EQ(bytesOf(up),
                reference::seal(Direction::ToServer, opcode, payload, link.modelClient));
      int16_t opened = 0;
      ASSERT_EQ(bytesOf(kelvane::adopt(serdec(&opened, up.get(), &link.server))), payload);
      ASSERT_EQ(opened, opcode);
      reference::open(Direction::ToServer, bytesOf(up), link.modelServer);

      const auto down = kelvane::adopt(serenc(opcode, byteStr(payload).get(), &link.server));
      ASSERT_EQ(bytesOf(down),
                reference::seal(Direction::ToClient, opcode, payload, link.modelServer));
      ASSERT_EQ(bytesOf(kelvane::adopt(clidec(&opened, down.get(), &link.client))), payload);
      ASSERT_EQ(opened, opcode);
      reference::open(Direction::ToClient, bytesOf(down), link.modelClient);

      ASSERT_TRUE(link.inStep());
    }
  }
}

// Random traffic with damaged packets mixed in: truncated, trailing bytes,
// flipped header or payload bytes, repeats. Each open's result and the
// state it leaves must match the model's; then the opener is put back in step.
TEST(ReferenceComparison, OpensOfDamagedTrafficMatch) {
  std::mt19937 random(3);
  for (int seedPair = 0; seedPair < 40; ++seedPair) {
    Connection link(random(), random());
    Bytes previous;
    for (int step = 0; step < 200; ++step) {
      const bool toServer = random() % 2 == 0;
      const Direction direction = toServer ? Direction::ToServer : Direction::ToClient;
      CipherState& sealer = toServer ? link.client : link.server;
      CipherState& opener = toServer ? link.server : link.client;
      reference::State& modelSealer = toServer ? link.modelClient : link.modelServer;
      reference::State& modelOpener = toServer ? link.modelServer : link.modelClient;

      const Bytes payload = randomBytes(random, random() % 40);
      const auto opcode = static_cast<int16_t>(random());
      const auto sealed =
          kelvane::adopt((toServer ? clienc : serenc)(opcode, byteStr(payload).get(), &sealer));
      Bytes packet = reference::seal(direction, opcode, payload, modelSealer);
      ASSERT_EQ(bytesOf(sealed), packet);

      switch (random() % 6) {
        case 0:
          packet.resize(random() % (packet.size() + 1));
          break;
        case 1:
          packet[random() % packet.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
          break;
        case 2: {
          const Bytes extra = randomBytes(random, 1 + random() % 10);
          packet.insert(packet.end(), extra.begin(), extra.end());
          break;
        }
        case 3:
          if (!previous.empty()) packet = previous;
          break;
        default:
          break;
      }
      previous = packet;

      int16_t opened = 0x5555;
      const auto result =
          kelvane::adopt((toServer ? serdec : clidec)(&opened, byteStr(packet).get(), &opener));
      const reference::Opened expected = reference::open(direction, packet, modelOpener);
      ASSERT_EQ(opened, expected.opcode) << "step " << step;
      ASSERT_EQ(bytesOf(result), expected.payload) << "step " << step;
      ASSERT_TRUE(link.inStep()) << "step " << step;

      DirectionKeys CipherState::*keys = toServer ? &CipherState::toServer : &CipherState::toClient;
      reference::Keys reference::State::*modelKeys =
          toServer ? &reference::State::toServer : &reference::State::toClient;
      opener.*keys = sealer.*keys;
      modelOpener.*modelKeys = modelSealer.*modelKeys;
    }
  }
}

}  // namespace
