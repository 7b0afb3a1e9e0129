// The inline byte-string functions of kelvane.h and the C++ owners over them.
#include <gtest/gtest.h>

#include <new>

#include "cipher_test_support.h"

namespace {
using cipher_test::Bytes;
using cipher_test::bytesOf;

TEST(ByteStr, AllocLaysOutLengthDataAndTerminator) {
  const unsigned char source[3] = {0x00, 0xFF, 0x41};
  const kelvane::ByteStrPtr str(ByteStrAlloc(source, 3));
  ASSERT_NE(str, nullptr);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, str.get() - 4, 4);
  EXPECT_EQ(prefix, 3u);
  EXPECT_EQ(ByteStrLen(str.get()), 3u);
  EXPECT_EQ(bytesOf(str), (Bytes{0x00, 0xFF, 0x41}));
  EXPECT_EQ(str.get()[3], 0);
}

TEST(ByteStr, NullCountsAsEmptyAndFreesAsNothing) {
  EXPECT_EQ(ByteStrLen(nullptr), 0u);
  ByteStrFree(nullptr);
  EXPECT_TRUE(kelvane::view(nullptr).empty());
  const kelvane::ByteStrPtr empty(ByteStrAlloc(nullptr, 0));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(ByteStrLen(empty.get()), 0u);
  EXPECT_EQ(empty.get()[0], 0);
}

TEST(ByteStr, AdoptRejectsAFailedAllocation) {
  EXPECT_THROW(kelvane::adopt(nullptr), std::bad_alloc);
}

TEST(ByteStr, CopyOfKeepsEveryByte) {
  const Bytes bytes{0, 1, 2, 0, 255};
  EXPECT_EQ(bytesOf(kelvane::copyOf(bytes)), bytes);
  EXPECT_EQ(ByteStrLen(kelvane::copyOf({}).get()), 0u);
}

TEST(ByteStrBuffer, ReusesItsBlockUntilALongerStringComes) {
  kelvane::ByteStrBuffer buffer;
  const Bytes longer{1, 2, 3, 4, 5, 6};
  const Bytes shorter{9, 8};

  const unsigned char* first = buffer.fill(longer);
  EXPECT_EQ(bytesOf(first), longer);
  const unsigned char* second = buffer.fill(shorter);
  EXPECT_EQ(second, first);
  EXPECT_EQ(bytesOf(second), shorter);
  EXPECT_EQ(second[2], 0);
  const unsigned char* empty = buffer.fill({});
  EXPECT_EQ(empty, first);
  EXPECT_EQ(ByteStrLen(empty), 0u);
  EXPECT_EQ(buffer.fill(longer), first);

  const Bytes longest(100, 0x33);
  EXPECT_EQ(bytesOf(buffer.fill(longest)), longest);
}

TEST(ByteStrBuffer, FilledBlockIsAValidLibraryArgument) {
  kelvane::ByteStrBuffer buffer;
  const auto encoded = kelvane::adopt(encode(buffer.fill(Bytes{0x00, 0x41})));
  EXPECT_EQ(bytesOf(encoded), (Bytes{0x07, 0x0F, 0x41, 0x01}));
  const auto decoded = kelvane::adopt(decode(buffer.fill(bytesOf(encoded))));
  EXPECT_EQ(bytesOf(decoded), (Bytes{0x00, 0x41}));
}

}  // namespace
