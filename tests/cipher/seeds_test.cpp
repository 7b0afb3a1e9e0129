#include <gtest/gtest.h>

#include <random>

#include "cipher_test_support.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;
using cipher_test::byteStr;

constexpr std::uint32_t kClientSeedMask = 0x000B3A5D;
constexpr std::uint32_t kServerSeedMask = 0x0016C8E5;

struct ShuffleCase {
  const char* name;
  ByteStr (*shuffle)(std::uint32_t);
  std::uint32_t seed;
  Bytes expected;
};

class ShuffleVectors : public testing::TestWithParam<ShuffleCase> {};

TEST_P(ShuffleVectors, MasksRotatesRightAndWritesLittleEndian) {
  EXPECT_EQ(bytesOf(kelvane::adopt(GetParam().shuffle(GetParam().seed))), GetParam().expected);
}

// Seeds chosen so that the value after the mask is a single bit whose
// rotation is easy to follow by hand.
INSTANTIATE_TEST_SUITE_P(
    Seeds, ShuffleVectors,
    testing::Values(
        ShuffleCase{"ClientMaskOnly", clishuf, kClientSeedMask, {0, 0, 0, 0}},
        ShuffleCase{"ClientBit11ToBit0", clishuf, kClientSeedMask ^ 0x800, {0x01, 0, 0, 0}},
        ShuffleCase{"ClientBit10ToBit31", clishuf, kClientSeedMask ^ 0x400, {0, 0, 0, 0x80}},
        ShuffleCase{"ClientZero", clishuf, 0, {0x67, 0x01, 0xA0, 0x4B}},
        ShuffleCase{"ServerMaskOnly", sershuf, kServerSeedMask, {0, 0, 0, 0}},
        ShuffleCase{"ServerBit7ToBit0", sershuf, kServerSeedMask ^ 0x80, {0x01, 0, 0, 0}},
        ShuffleCase{"ServerBit6ToBit31", sershuf, kServerSeedMask ^ 0x40, {0, 0, 0, 0x80}},
        ShuffleCase{"ServerZero", sershuf, 0, {0x91, 0x2D, 0x00, 0xCA}}),
    [](const auto& info) { return info.param.name; });

struct UnshuffleCase {
  const char* name;
  std::uint32_t (*unshuffle)(const unsigned char*);
  Bytes input;
  std::uint32_t expected;
};

class UnshuffleVectors : public testing::TestWithParam<UnshuffleCase> {};

TEST_P(UnshuffleVectors, ReadsTheFirstFourBytesMissingOnesAsZero) {
  EXPECT_EQ(GetParam().unshuffle(byteStr(GetParam().input).get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, UnshuffleVectors,
    testing::Values(
        UnshuffleCase{"ClientFour", serdesh, {0x01, 0, 0, 0}, kClientSeedMask ^ 0x800},
        UnshuffleCase{"ClientTopBit", serdesh, {0, 0, 0, 0x80}, kClientSeedMask ^ 0x400},
        UnshuffleCase{"ClientLongerUsesFirstFour",
                      serdesh,
                      {0x01, 0, 0, 0, 0xFF, 0xFF},
                      kClientSeedMask ^ 0x800},
        UnshuffleCase{"ClientOneByte", serdesh, {0x01}, kClientSeedMask ^ 0x800},
        UnshuffleCase{"ClientEmpty", serdesh, {}, kClientSeedMask},
        UnshuffleCase{"ClientThreeBytes", serdesh, {0, 0, 0x01}, kClientSeedMask ^ 0x08000000},
        UnshuffleCase{"ServerFour", clidesh, {0x01, 0, 0, 0}, kServerSeedMask ^ 0x80},
        UnshuffleCase{"ServerTopBit", clidesh, {0, 0, 0, 0x80}, kServerSeedMask ^ 0x40},
        UnshuffleCase{
            "ServerLongerUsesFirstFour", clidesh, {0x01, 0, 0, 0, 0xFF}, kServerSeedMask ^ 0x80},
        UnshuffleCase{"ServerTwoBytes", clidesh, {0, 0x01}, kServerSeedMask ^ 0x8000},
        UnshuffleCase{"ServerEmpty", clidesh, {}, kServerSeedMask}),
    [](const auto& info) { return info.param.name; });

TEST(Seeds, NullUnshufflesAsFourZeroBytes) {
  EXPECT_EQ(serdesh(nullptr), kClientSeedMask);
  EXPECT_EQ(clidesh(nullptr), kServerSeedMask);
}

TEST(Seeds, UnshuffleUndoesShuffle) {
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    const std::uint32_t seed = i < 2 ? (i == 0 ? 0u : 0xFFFFFFFFu) : random();
    EXPECT_EQ(serdesh(kelvane::adopt(clishuf(seed)).get()), seed);
    EXPECT_EQ(clidesh(kelvane::adopt(sershuf(seed)).get()), seed);
  }
}

struct ScheduleCase {
  const char* name;
  std::uint32_t clientSeed;
  std::uint32_t serverSeed;
  reference::State expected;
};

class ScheduleVectors : public testing::TestWithParam<ScheduleCase> {};

TEST_P(ScheduleVectors, FillsMaskCountersKeysAndSteps) {
  CipherState state{};
  state.clientSeed = GetParam().clientSeed;
  state.serverSeed = GetParam().serverSeed;
  seedcrypt(&state);
  EXPECT_TRUE(cipher_test::sameState(state, GetParam().expected));
}

// Worked out by hand from the key schedule; the swapped pair differs from
// its twin only in the two key32 fields.
INSTANTIATE_TEST_SUITE_P(
    Seeds, ScheduleVectors,
    testing::Values(ScheduleCase{"BothZero",
                                 0,
                                 0,
                                 {0,
                                  0,
                                  0,
                                  {0x5A3, 0xDA, 0x374D, 0x37, 0x74DA8800, 5, 1, 9, 1023},
                                  {0x000, 0x53, 0x4FA5, 0xA7, 0xF0000000, 31, 12, 3, 11}}},
                    ScheduleCase{"ClientAllOnes",
                                 0xFFFFFFFF,
                                 0,
                                 {0xFFFFFFFF,
                                  0,
                                  0xFFFFFFFF,
                                  {0xA5C, 0x25, 0xC8B2, 0xC8, 0x8B2577FF, 5, 1, 9, 1023},
                                  {0xFFF, 0xAC, 0xB05A, 0x58, 0x08000000, 31, 12, 3, 11}}},
                    ScheduleCase{"Mixed",
                                 0x12345678,
                                 0x9ABCDEF0,
                                 {0x12345678,
                                  0x9ABCDEF0,
                                  0x88888888,
                                  {0xD2B, 0x9E, 0x7309, 0x73, 0x309EC891, 5, 1, 9, 1023},
                                  {0x888, 0x42, 0x5EB4, 0x85, 0xB4D5E6F7, 31, 12, 3, 11}}},
                    ScheduleCase{"MixedSwapped",
                                 0x9ABCDEF0,
                                 0x12345678,
                                 {0x9ABCDEF0,
                                  0x12345678,
                                  0x88888888,
                                  {0xD2B, 0x9E, 0x7309, 0x73, 0x309ECCD5, 5, 1, 9, 1023},
                                  {0x888, 0x42, 0x5EB4, 0x85, 0xB091A2B3, 31, 12, 3, 11}}}),
    [](const auto& info) { return info.param.name; });

TEST(Seeds, ScheduleOverwritesEveryDerivedFieldAndStartsAfresh) {
  CipherState fresh{};
  fresh.clientSeed = 0x12345678;
  fresh.serverSeed = 0x9ABCDEF0;
  seedcrypt(&fresh);

  CipherState used = fresh;
  std::memset(&used.seqMask, 0xA5, sizeof used - offsetof(CipherState, seqMask));
  seedcrypt(&used);
  EXPECT_TRUE(cipher_test::sameState(used, fresh));
}

}  // namespace
