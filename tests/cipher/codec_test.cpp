#include <gtest/gtest.h>

#include <random>

#include "cipher_test_support.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;
using cipher_test::byteStr;

struct CodecCase {
  const char* name;
  Bytes input;
  Bytes expected;
};

class EncodeVectors : public testing::TestWithParam<CodecCase> {};

TEST_P(EncodeVectors, EscapesLowBytesAndAppendsTheEndMarker) {
  const auto input = byteStr(GetParam().input);
  EXPECT_EQ(bytesOf(kelvane::adopt(encode(input.get()))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, EncodeVectors,
    testing::Values(CodecCase{"Empty", {}, {0x01}}, CodecCase{"Zero", {0x00}, {0x07, 0x0F, 0x01}},
                    CodecCase{"One", {0x01}, {0x07, 0x0E, 0x01}},
                    CodecCase{"Escape", {0x07}, {0x07, 0x08, 0x01}},
                    CodecCase{"FirstPlain", {0x08}, {0x08, 0x01}},
                    CodecCase{"Top", {0xFF}, {0xFF, 0x01}},
                    CodecCase{"Mixed",
                              {0x41, 0x00, 0x08, 0x05, 0x07},
                              {0x41, 0x07, 0x0F, 0x08, 0x07, 0x0A, 0x07, 0x08, 0x01}}),
    [](const auto& info) { return info.param.name; });

class DecodeVectors : public testing::TestWithParam<CodecCase> {};

TEST_P(DecodeVectors, TakesTheLastByteAsEndMarker) {
  const auto input = byteStr(GetParam().input);
  EXPECT_EQ(bytesOf(kelvane::adopt(decode(input.get()))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codec, DecodeVectors,
    testing::Values(CodecCase{"Empty", {}, {}}, CodecCase{"OneByte", {0x01}, {}},
                    CodecCase{"LastByteDroppedWhateverItIs", {0x41, 0x42, 0x43}, {0x41, 0x42}},
                    CodecCase{"InnerEndMarkerIsData", {0x41, 0x01, 0x42, 0x01}, {0x41, 0x01, 0x42}},
                    CodecCase{"EscapeSecondToLastTakesTheFinalByte", {0x07, 0x01}, {0x0E}},
                    CodecCase{"EscapedPartnerFlippedWhateverItIs", {0x07, 0xF0, 0x01}, {0xFF}},
                    CodecCase{"TwoEncodedStringsJoined",
                              {0x41, 0x07, 0x0F, 0x01, 0x42, 0x07, 0x08, 0x01},
                              {0x41, 0x00, 0x01, 0x42, 0x07}}),
    [](const auto& info) { return info.param.name; });

TEST(Codec, NullCountsAsEmpty) {
  EXPECT_EQ(bytesOf(kelvane::adopt(encode(nullptr))), Bytes{0x01});
  EXPECT_EQ(bytesOf(kelvane::adopt(decode(nullptr))), Bytes{});
}

TEST(Codec, ResultsAreCountedAndZeroTerminatedBlocks) {
  const auto input = byteStr({0x00, 0x09});
  const auto encoded = kelvane::adopt(encode(input.get()));
  ASSERT_EQ(ByteStrLen(encoded.get()), 4u);
  EXPECT_EQ(encoded.get()[4], 0);
}

// Round trips over random strings, some drawn only from the escaped range,
// whose encoding is exactly n + e + 1 bytes long.
TEST(Codec, DecodeUndoesEncode) {
  std::mt19937 random(20240611);
  for (int trial = 0; trial < 500; ++trial) {
    const int ceiling = trial % 3 == 0 ? 0x07 : 0xFF;
    std::uniform_int_distribution<int> byte(0, ceiling);
    Bytes data(random() % 301);
    for (auto& b : data) b = static_cast<std::uint8_t>(byte(random));
    std::size_t escapes = 0;
    for (auto b : data) escapes += b < 0x08;

    const auto encoded = kelvane::adopt(encode(byteStr(data).get()));
    ASSERT_EQ(ByteStrLen(encoded.get()), data.size() + escapes + 1);
    for (std::size_t i = 0; i + 1 < ByteStrLen(encoded.get()); ++i) {
      const unsigned char b = encoded.get()[i];
      ASSERT_TRUE(b >= 0x08 || b == 0x07 || (i > 0 && encoded.get()[i - 1] == 0x07))
          << "raw low byte at " << i;
    }
    EXPECT_EQ(bytesOf(kelvane::adopt(decode(encoded.get()))), data);
  }
}

}  // namespace
