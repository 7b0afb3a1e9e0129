// The library against the plain reference model, byte for byte and state
// for state, over many seeds, payload lengths, buffer alignments and failure
// kinds, on every masking path this CPU supports, each pinned in turn.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "cipher_test_support.h"
#include "mask.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;
using cipher_test::byteStr;
using cipher_test::sameState;
using kelvane::detail::MaskPath;
using reference::Direction;

class ReferenceComparison : public testing::TestWithParam<MaskPath> {
 protected:
  static void SetUpTestSuite() { own() = kelvane::detail::ActiveMaskPath(); }
  static void TearDownTestSuite() { kelvane::detail::UseMaskPath(own()); }
  void SetUp() override {
    if (!kelvane::detail::UseMaskPath(GetParam())) GTEST_SKIP() << "the CPU lacks this path";
  }

 private:
  static MaskPath& own() {
    static MaskPath path = MaskPath::kPortable;
    return path;
  }
};

INSTANTIATE_TEST_SUITE_P(EveryPath, ReferenceComparison,
                         testing::ValuesIn(kelvane::detail::kMaskPaths),
                         [](const testing::TestParamInfo<MaskPath>& info) {
                           return std::string(kelvane::detail::MaskPathName(info.param));
                         });

// serseal on a copy of `state`: the packet it leaves in a buffer of its own.
Bytes sealedInPlace(int16_t opcode, const Bytes& payload, CipherState& state) {
  Bytes packet(kelvane::kPacketHeaderSize, 0xEE);
  packet.insert(packet.end(), payload.begin(), payload.end());
  const uint32_t size =
      serseal(opcode, packet.data(), static_cast<uint16_t>(payload.size()), &state);
  EXPECT_EQ(size, packet.size());
  return packet;
}

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

TEST_P(ReferenceComparison, KeyScheduleMatchesForRandomSeeds) {
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
// on random seeds: packets equal to the model's, sealed in place too,
// payloads restored, and both ends and the model in the same state after
// each packet.
TEST_P(ReferenceComparison, RoundTripsInBothDirections) {
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

      CipherState inPlace = link.server;
      const Bytes sealed = sealedInPlace(opcode, payload, inPlace);
      const auto down = kelvane::adopt(serenc(opcode, byteStr(payload).get(), &link.server));
      ASSERT_EQ(bytesOf(down),
                reference::seal(Direction::ToClient, opcode, payload, link.modelServer));
      ASSERT_EQ(sealed, bytesOf(down));
      ASSERT_TRUE(sameState(inPlace, link.modelServer));
      ASSERT_EQ(bytesOf(kelvane::adopt(clidec(&opened, down.get(), &link.client))), payload);
      ASSERT_EQ(opened, opcode);
      reference::open(Direction::ToClient, bytesOf(down), link.modelClient);

      ASSERT_TRUE(link.inStep());
    }
  }
}

// The vector paths align their stores to the output and take a head and a
// tail around the body: every offset of the input and of the output against
// a cache line, for lengths around and well past the vector threshold, must
// still give the model's packet, sealed, sealed in place and opened.
TEST_P(ReferenceComparison, EveryAlignmentMatches) {
  constexpr std::size_t kLine = 64;
  std::mt19937 random(4);
  for (const std::size_t n : {255, 256, 257, 300, 321, 1000, 4099, 65535}) {
    const Bytes payload = randomBytes(random, n);
    for (std::size_t offset = 0; offset < kLine; ++offset) {
      SCOPED_TRACE(testing::Message() << "length " << n << ", offset " << offset);
      const auto opcode = static_cast<int16_t>(random());
      Connection link(random(), random());
      // Input and in-place packet `offset` bytes past a line, with room for
      // the byte-string length in front.
      std::vector<unsigned char> room(n + 3 * kLine + 16);
      unsigned char* line =
          room.data() + kLine - reinterpret_cast<std::uintptr_t>(room.data()) % kLine;
      unsigned char* at = line + kLine + offset;
      const auto length = static_cast<uint32_t>(n);
      std::memcpy(at - 4, &length, 4);
      std::copy(payload.begin(), payload.end(), at);
      at[n] = 0;

      const Bytes expected =
          reference::seal(Direction::ToClient, opcode, payload, link.modelServer);
      CipherState inPlace = link.server;
      ASSERT_EQ(bytesOf(kelvane::adopt(serenc(opcode, at, &link.server))), expected);
      ASSERT_TRUE(sameState(link.server, link.modelServer));

      unsigned char* packet = at - kelvane::kPacketHeaderSize;
      ASSERT_EQ(serseal(opcode, packet, static_cast<uint16_t>(n), &inPlace), n + 8);
      ASSERT_EQ(Bytes(packet, packet + n + 8), expected);
      ASSERT_TRUE(sameState(inPlace, link.modelServer));

      // Opened where it lies, the packet's own 4 bytes before it as its length.
      const auto packetLength = static_cast<uint32_t>(n + 8);
      std::memcpy(packet - 4, &packetLength, 4);
      int16_t opened = 0;
      ASSERT_EQ(bytesOf(kelvane::adopt(clidec(&opened, packet, &link.client))), payload);
      ASSERT_EQ(opened, opcode);
      reference::open(Direction::ToClient, expected, link.modelClient);
      ASSERT_TRUE(link.inStep());
    }
  }
}

// Random traffic with damaged packets mixed in: truncated, trailing bytes,
// flipped header or payload bytes, repeats. Each open's result and the
// state it leaves must match the model's; then the opener is put back in step.
TEST_P(ReferenceComparison, OpensOfDamagedTrafficMatch) {
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
