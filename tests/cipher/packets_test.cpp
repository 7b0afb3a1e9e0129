#include <gtest/gtest.h>

#include <cstring>

#include "cipher_test_support.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;
using cipher_test::byteStr;
using cipher_test::sameState;

// One direction of travel: who seals it, who opens it, which keys it runs on.
struct Way {
  const char* name;
  ByteStr (*seal)(int16_t, const unsigned char*, CipherState*);
  ByteStr (*open)(int16_t*, const unsigned char*, CipherState*);
  DirectionKeys CipherState::*keys;
};
const Way kToServer{"ToServer", clienc, serdec, &CipherState::toServer};
const Way kToClient{"ToClient", serenc, clidec, &CipherState::toClient};

// Keys whose bytes are all distinct, so any misplaced byte shows.
constexpr DirectionKeys kDistinct{0x44332210, 0xA1, 0xB2C3, 0xD4, 0xE5F60718, 5, 1, 9, 1023};

CipherState stateWith(DirectionKeys keys, std::uint32_t seqMask = 0) {
  return {0x01020304, 0x05060708, seqMask, keys, keys};
}

kelvane::ByteStrPtr seal(const Way& way, int16_t opcode, const Bytes& payload, CipherState& state) {
  return kelvane::adopt(way.seal(opcode, byteStr(payload).get(), &state));
}

struct OpenResult {
  int16_t opcode;
  Bytes payload;
};

OpenResult open(const Way& way, const Bytes& packet, CipherState& state) {
  int16_t opcode = 0x1234;
  const auto payload = kelvane::adopt(way.open(&opcode, byteStr(packet).get(), &state));
  return {opcode, bytesOf(payload)};
}

Bytes zeros(std::size_t n) {
  return Bytes(n, 0);
}

struct HeaderCase {
  const char* name;
  Way way;
  std::uint32_t seqMask;
  std::uint16_t key16;
  Bytes header;
};

class HeaderPlacement : public testing::TestWithParam<HeaderCase> {};

// S = 0x44332211 after the counter's advance, opcode 0x6655, length 0x0201;
// the expected bytes follow the header table column by column.
TEST_P(HeaderPlacement, SpreadsSequenceOpcodeAndLengthByDirection) {
  const HeaderCase& c = GetParam();
  DirectionKeys keys = kDistinct;
  keys.key16 = c.key16;
  CipherState sealer = stateWith(keys, c.seqMask);
  CipherState opener = sealer;

  const Bytes packet = bytesOf(seal(c.way, 0x6655, zeros(0x0201), sealer));
  ASSERT_EQ(packet.size(), 8u + 0x0201);
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8), c.header);

  const OpenResult opened = open(c.way, packet, opener);
  EXPECT_EQ(opened.opcode, 0x6655);
  EXPECT_EQ(opened.payload, zeros(0x0201));
  EXPECT_TRUE(sameState(opener, sealer));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, HeaderPlacement,
    testing::Values(
        HeaderCase{
            "ToServerPlain", kToServer, 0, 0, {0x11, 0x55, 0x33, 0x22, 0x02, 0x44, 0x66, 0x01}},
        HeaderCase{
            "ToClientPlain", kToClient, 0, 0, {0x66, 0x33, 0x01, 0x11, 0x02, 0x44, 0x55, 0x22}},
        HeaderCase{"ToServerMasked",
                   kToServer,
                   0xFFFFFFFF,
                   0xFFFF,
                   {0xEE, 0xAA, 0xCC, 0xDD, 0xFD, 0xBB, 0x99, 0xFE}},
        HeaderCase{"ToClientMasked",
                   kToClient,
                   0xFFFFFFFF,
                   0xFFFF,
                   {0x99, 0xCC, 0xFE, 0xEE, 0xFD, 0xBB, 0xAA, 0xDD}}),
    [](const auto& info) { return info.param.name; });

struct MaskCase {
  const char* name;
  Bytes payload;
  Bytes masked;
};

class PayloadMasking : public testing::TestWithParam<std::tuple<Way, MaskCase>> {};

// key32 = E5F60718 (bytes 18 07 F6 E5), key16 = B2C3, key8a = A1, key8b = D4.
TEST_P(PayloadMasking, WholeGroupsTakeKey32AndTheTailItsOwnKeys) {
  const auto& [way, c] = GetParam();
  CipherState sealer = stateWith(kDistinct);
  CipherState opener = sealer;

  const Bytes packet = bytesOf(seal(way, 1, c.payload, sealer));
  EXPECT_EQ(Bytes(packet.begin() + 8, packet.end()), c.masked);
  EXPECT_EQ(open(way, packet, opener).payload, c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PayloadMasking,
    testing::Combine(
        testing::Values(kToServer, kToClient),
        testing::Values(
            MaskCase{"Empty", {}, {}}, MaskCase{"OneByte", zeros(1), {0xA1}},
            MaskCase{"TwoBytes", zeros(2), {0xC3, 0xB2}},
            MaskCase{"ThreeBytes", zeros(3), {0xC3, 0xB2, 0xD4}},
            MaskCase{"OneGroup", zeros(4), {0x18, 0x07, 0xF6, 0xE5}},
            MaskCase{"GroupAndOne", zeros(5), {0x18, 0x07, 0xF6, 0xE5, 0xA1}},
            MaskCase{"GroupAndThree",
                     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07},
                     {0x19, 0x05, 0xF5, 0xE1, 0xC6, 0xB4, 0xD3}},
            MaskCase{"TwoGroups", zeros(8), {0x18, 0x07, 0xF6, 0xE5, 0x18, 0x07, 0xF6, 0xE5}},
            MaskCase{"FiveGroupsAndTwo",
                     Bytes(22, 0xFF),
                     {0xE7, 0xF8, 0x09, 0x1A, 0xE7, 0xF8, 0x09, 0x1A, 0xE7, 0xF8, 0x09,
                      0x1A, 0xE7, 0xF8, 0x09, 0x1A, 0xE7, 0xF8, 0x09, 0x1A, 0x3C, 0x4D}})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
    });

class EachWay : public testing::TestWithParam<Way> {};

INSTANTIATE_TEST_SUITE_P(Packets, EachWay, testing::Values(kToServer, kToClient),
                         [](const auto& info) { return info.param.name; });

// Every field advances at its own width, and the counter wraps at 32 bits.
TEST_P(EachWay, SealAndOpenAdvanceEachKeyAtItsWidth) {
  const Way& way = GetParam();
  const DirectionKeys edge{0xFFFFFFFF, 0xFE,   0xFFFF, 0x01,      0xFFFFFFFF,
                           0xFF,       0xFFFF, 0xFF,   0xFFFFFFFF};
  CipherState sealer = stateWith(edge);
  CipherState opener = sealer;
  const Bytes packet = bytesOf(seal(way, 9, {1, 2, 3, 4, 5}, sealer));

  const reference::Keys expected{0, 0xFD, 0xFFFE, 0x00, 0xFFFFFFFE, 0x00, 0x0000, 0x00, 0};
  EXPECT_TRUE(cipher_test::sameKeys(way.name, sealer.*way.keys, expected));
  EXPECT_EQ(open(way, packet, opener).payload, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_TRUE(sameState(opener, sealer));
}

TEST_P(EachWay, SealLeavesTheOtherDirectionAndTheSeedsAlone) {
  const Way& way = GetParam();
  CipherState state = stateWith(kDistinct, 0x0F0F0F0F);
  const CipherState before = state;
  seal(way, 3, {1, 2}, state);
  CipherState expected = before;
  expected.*way.keys = state.*way.keys;
  EXPECT_TRUE(sameState(state, expected));
  EXPECT_EQ((state.*way.keys).counter, kDistinct.counter + 1);
}

TEST_P(EachWay, EmptyPayloadSealsToEightBytesWhoseLengthIsKey16) {
  const Way& way = GetParam();
  CipherState sealer = stateWith(kDistinct);
  CipherState opener = sealer;
  const Bytes packet = bytesOf(seal(way, -2, {}, sealer));
  ASSERT_EQ(packet.size(), 8u);
  // L bits 0-7 stand at byte 7 going to the server, at byte 2 going to the client.
  const int lengthLowByte = way.seal == clienc ? 7 : 2;
  EXPECT_EQ(packet[lengthLowByte], 0xC3);
  EXPECT_EQ(packet[4], 0xB2);

  const OpenResult opened = open(way, packet, opener);
  EXPECT_EQ(opened.opcode, -2);
  EXPECT_TRUE(opened.payload.empty());
  EXPECT_EQ((opener.*way.keys).counter, kDistinct.counter + 1);
  EXPECT_EQ((opener.*way.keys).key32, kDistinct.key32 + kDistinct.step32);
  EXPECT_TRUE(sameState(opener, sealer));
}

TEST_P(EachWay, TwoPacketsBackToBackOpenOneAtATime) {
  const Way& way = GetParam();
  CipherState sealer = stateWith(kDistinct, 0x13572468);
  CipherState opener = sealer;
  Bytes stream = bytesOf(seal(way, 10, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE}, sealer));
  const Bytes second = bytesOf(seal(way, 11, {0x01, 0x02}, sealer));
  stream.insert(stream.end(), second.begin(), second.end());

  const OpenResult first = open(way, stream, opener);
  EXPECT_EQ(first.opcode, 10);
  EXPECT_EQ(first.payload, (Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));

  const OpenResult next = open(way, Bytes(stream.begin() + 8 + 5, stream.end()), opener);
  EXPECT_EQ(next.opcode, 11);
  EXPECT_EQ(next.payload, (Bytes{0x01, 0x02}));
  EXPECT_TRUE(sameState(opener, sealer));
}

TEST_P(EachWay, PayloadBeyondTheFormatIsSealedModulo65536) {
  const Way& way = GetParam();
  Bytes payload(65536 + 3);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
  CipherState sealer = stateWith(kDistinct);
  CipherState opener = sealer;

  const Bytes packet = bytesOf(seal(way, 5, payload, sealer));
  ASSERT_EQ(packet.size(), 8u + 3);
  const OpenResult opened = open(way, packet, opener);
  EXPECT_EQ(opened.opcode, 5);
  EXPECT_EQ(opened.payload, (Bytes{1, 2, 3}));

  payload.resize(65535);
  const Bytes largest = bytesOf(seal(way, 6, payload, sealer));
  ASSERT_EQ(largest.size(), 8u + 65535);
  EXPECT_EQ(open(way, largest, opener).payload, payload);
}

// The first packet after seedcrypt carries the initial counter plus one:
// seeds 12345678 / 9ABCDEF0 give seqMask 88888888 and counters D2B / 888.
TEST(Packets, FirstPacketCarriesTheInitialCounterPlusOne) {
  CipherState state{0x12345678, 0x9ABCDEF0, 0, {}, {}};
  seedcrypt(&state);
  const Bytes up = bytesOf(seal(kToServer, 0, {}, state));
  const Bytes down = bytesOf(seal(kToClient, 0, {}, state));
  // S = D2C ^ 88888888 = 888885A4 and S = 889 ^ 88888888 = 88888001.
  EXPECT_EQ((Bytes{up[0], up[3], up[2], up[5]}), (Bytes{0xA4, 0x85, 0x88, 0x88}));
  EXPECT_EQ((Bytes{down[3], down[7], down[1], down[5]}), (Bytes{0x01, 0x80, 0x88, 0x88}));
}

// With the same keys in both directions the two packets carry the same
// quantities; only their header positions differ.
TEST(Packets, BothDirectionsCarryTheSameQuantitiesInDifferentPlaces) {
  CipherState state = stateWith(kDistinct, 0x5A5AA5A5);
  const Bytes payload{9, 8, 7, 6, 5, 4, 3, 2, 1};
  const Bytes up = bytesOf(seal(kToServer, 0x0777, payload, state));
  const Bytes down = bytesOf(seal(kToClient, 0x0777, payload, state));

  // Header byte of the client-to-server packet -> its place going to the client.
  const int placeGoingDown[8] = {3, 6, 1, 7, 4, 5, 0, 2};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(up[i], down[placeGoingDown[i]]) << "header byte " << i;
  EXPECT_EQ(Bytes(up.begin() + 8, up.end()), Bytes(down.begin() + 8, down.end()));
  EXPECT_TRUE(
      cipher_test::sameKeys("toServer", state.toServer, cipher_test::toReference(state.toClient)));
}

struct ShortCase {
  const char* name;
  std::size_t keep;  // leading bytes of a sealed 10-byte payload packet
};

class ShortInput : public testing::TestWithParam<std::tuple<Way, ShortCase>> {};

TEST_P(ShortInput, YieldsOpcodeZeroAndLeavesTheStateUntouched) {
  const auto& [way, c] = GetParam();
  CipherState sealer = stateWith(kDistinct, 0x00FF00FF);
  CipherState opener = sealer;
  const Bytes packet = bytesOf(seal(way, 77, zeros(10), sealer));
  const CipherState before = opener;

  const OpenResult opened = open(way, Bytes(packet.begin(), packet.begin() + c.keep), opener);
  EXPECT_EQ(opened.opcode, 0);
  EXPECT_TRUE(opened.payload.empty());
  EXPECT_EQ(std::memcmp(&opener, &before, sizeof opener), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, ShortInput,
    testing::Combine(testing::Values(kToServer, kToClient),
                     testing::Values(ShortCase{"Empty", 0}, ShortCase{"OneByte", 1},
                                     ShortCase{"SevenBytes", 7}, ShortCase{"HeaderOnly", 8},
                                     ShortCase{"OneByteMissing", 17})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
    });

TEST_P(EachWay, NullPacketCountsAsShortInput) {
  const Way& way = GetParam();
  CipherState state = stateWith(kDistinct);
  const CipherState before = state;
  int16_t opcode = 0x1234;
  const auto payload = kelvane::adopt(way.open(&opcode, nullptr, &state));
  EXPECT_EQ(opcode, 0);
  EXPECT_EQ(ByteStrLen(payload.get()), 0u);
  EXPECT_EQ(std::memcmp(&state, &before, sizeof state), 0);
}

struct SequenceCase {
  const char* name;
  Way way;
  int sequenceByte;  // a header byte that carries part of S
};

class WrongSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(WrongSequence, AdvancesTheCounterButNotTheKeys) {
  const SequenceCase& c = GetParam();
  CipherState sealer = stateWith(kDistinct, 0x31415926);
  CipherState opener = sealer;
  Bytes packet = bytesOf(seal(c.way, 12, {1, 2, 3, 4, 5, 6}, sealer));
  packet[c.sequenceByte] ^= 0x10;

  CipherState expected = opener;
  (expected.*c.way.keys).counter += 1;
  const OpenResult opened = open(c.way, packet, opener);
  EXPECT_EQ(opened.opcode, -1);
  EXPECT_TRUE(opened.payload.empty());
  EXPECT_TRUE(sameState(opener, expected));
}

INSTANTIATE_TEST_SUITE_P(Packets, WrongSequence,
                         testing::Values(SequenceCase{"ToServerByte0", kToServer, 0},
                                         SequenceCase{"ToServerByte2", kToServer, 2},
                                         SequenceCase{"ToServerByte3", kToServer, 3},
                                         SequenceCase{"ToServerByte5", kToServer, 5},
                                         SequenceCase{"ToClientByte1", kToClient, 1},
                                         SequenceCase{"ToClientByte3", kToClient, 3},
                                         SequenceCase{"ToClientByte5", kToClient, 5},
                                         SequenceCase{"ToClientByte7", kToClient, 7}),
                         [](const auto& info) { return info.param.name; });

struct TwiceCase {
  const char* name;
  std::size_t length;
  int16_t secondOpcode;
};

class OpenedTwice : public testing::TestWithParam<std::tuple<Way, TwiceCase>> {};

// After the first open key16 moves from B2C3 to B2C4, so the second open reads
// the length as n ^ 7: beyond the input it is a short input (opcode 0, state
// kept), within it a sequence failure (opcode -1, counter advanced).
TEST_P(OpenedTwice, SecondOpenFails) {
  const auto& [way, c] = GetParam();
  CipherState sealer = stateWith(kDistinct, 0x27182818);
  CipherState opener = sealer;
  const Bytes packet = bytesOf(seal(way, 40, zeros(c.length), sealer));
  ASSERT_EQ(open(way, packet, opener).opcode, 40);

  CipherState expected = opener;
  if (c.secondOpcode == -1) (expected.*way.keys).counter += 1;
  const OpenResult again = open(way, packet, opener);
  EXPECT_EQ(again.opcode, c.secondOpcode);
  EXPECT_TRUE(again.payload.empty());
  EXPECT_TRUE(sameState(opener, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, OpenedTwice,
    testing::Combine(testing::Values(kToServer, kToClient),
                     testing::Values(TwiceCase{"EmptyReadsAsSeven", 0, 0},
                                     TwiceCase{"FourReadsAsThree", 4, -1},
                                     TwiceCase{"EightReadsAsFifteen", 8, 0},
                                     TwiceCase{"FifteenReadsAsEight", 15, -1})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
    });

TEST_P(EachWay, NullOpcodePointerIsTolerated) {
  const Way& way = GetParam();
  CipherState sealer = stateWith(kDistinct, 0x0BADF00D);
  CipherState opener = sealer;
  const auto good = seal(way, 3, {1, 2, 3, 4}, sealer);

  const CipherState beforeShort = opener;
  kelvane::adopt(way.open(nullptr, byteStr({1, 2, 3}).get(), &opener));
  EXPECT_EQ(std::memcmp(&opener, &beforeShort, sizeof opener), 0);

  EXPECT_EQ(bytesOf(kelvane::adopt(way.open(nullptr, good.get(), &opener))), (Bytes{1, 2, 3, 4}));
  EXPECT_TRUE(sameState(opener, sealer));

  EXPECT_EQ(ByteStrLen(kelvane::adopt(way.open(nullptr, good.get(), &opener)).get()), 0u);
}

// Seeds in the wrong order agree on everything but the two key32 fields, so
// packets still pass the sequence check but whole groups come out garbled.
TEST(Packets, SeedOrderMatters) {
  CipherState server{0x12345678, 0x9ABCDEF0, 0, {}, {}};
  CipherState sameOrder = server;
  CipherState swapped{0x9ABCDEF0, 0x12345678, 0, {}, {}};
  seedcrypt(&server);
  seedcrypt(&sameOrder);
  seedcrypt(&swapped);
  EXPECT_TRUE(sameState(sameOrder, server));

  const Bytes payload{10, 20, 30, 40, 50, 60};
  const auto packet = seal(kToClient, 8, payload, server);
  CipherState rightClient = sameOrder;
  EXPECT_EQ(open(kToClient, bytesOf(packet), rightClient).payload, payload);

  const OpenResult wrong = open(kToClient, bytesOf(packet), swapped);
  EXPECT_EQ(wrong.opcode, 8);
  ASSERT_EQ(wrong.payload.size(), payload.size());
  EXPECT_NE(Bytes(wrong.payload.begin(), wrong.payload.begin() + 4),
            Bytes(payload.begin(), payload.begin() + 4));
  EXPECT_EQ(Bytes(wrong.payload.begin() + 4, wrong.payload.end()),
            Bytes(payload.begin() + 4, payload.end()));
}

}  // namespace
