#include "session/wire_fields.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace quorvane {
namespace {

struct IntCase {
  std::int16_t value;
  std::array<std::uint8_t, 2> packed;
};

class PackIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(PackIntTest, PacksLowByteFirst) {
  EXPECT_EQ(PackInt(GetParam().value), GetParam().packed) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, PackIntTest,
    ::testing::Values(IntCase{0, {0x00, 0x00}}, IntCase{1, {0x01, 0x00}},
                      IntCase{255, {0xFF, 0x00}}, IntCase{256, {0x00, 0x01}},
                      IntCase{0x1234, {0x34, 0x12}}, IntCase{32767, {0xFF, 0x7F}},
                      // Outside the valid range: two's complement, never a failure.
                      IntCase{-1, {0xFF, 0xFF}}, IntCase{-256, {0x00, 0xFF}},
                      IntCase{std::numeric_limits<std::int16_t>::min(), {0x00, 0x80}}));

struct LongCase {
  std::int32_t value;
  std::array<std::uint8_t, 4> packed;
};

class PackLongTest : public ::testing::TestWithParam<LongCase> {};

TEST_P(PackLongTest, PacksLowByteFirst) {
  EXPECT_EQ(PackLong(GetParam().value), GetParam().packed) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, PackLongTest,
                         ::testing::Values(LongCase{0, {0x00, 0x00, 0x00, 0x00}},
                                           LongCase{300, {0x2C, 0x01, 0x00, 0x00}},
                                           LongCase{65535, {0xFF, 0xFF, 0x00, 0x00}},
                                           // Outside the valid range: the full 32-bit form.
                                           LongCase{65536, {0x00, 0x00, 0x01, 0x00}},
                                           LongCase{100000, {0xA0, 0x86, 0x01, 0x00}},
                                           LongCase{0x12345678, {0x78, 0x56, 0x34, 0x12}},
                                           LongCase{-1, {0xFF, 0xFF, 0xFF, 0xFF}},
                                           LongCase{std::numeric_limits<std::int32_t>::min(),
                                                    {0x00, 0x00, 0x00, 0x80}}));

}  // namespace
}  // namespace quorvane
