// SendItems: the four fixed entries, then the item file's non-empty records.
#include <gtest/gtest.h>

#include "login_session.h"
#include "session/item_record.h"

namespace quorvane::testing {
namespace {

class ItemsTest : public LoginSessionTest {
 protected:
  std::vector<Packet> ItemsOf(const std::string& name) {
    Login(NameBlock(name));
    harness.session.SendItems();
    return harness.Received();
  }
};

std::vector<TestItem> EmptyRecords(std::size_t count) {
  return std::vector<TestItem>(count);
}

TEST_F(ItemsTest, WithoutItemFileOnlyTheFixedFour) {
  const std::vector<Packet> items = ItemsOf("Nobody");
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items, ExpectedItems());
  EXPECT_EQ(items[0].payload,
            (Bytes{0x03, 0x00, 0x04, 0x00, 0x22, 0x00, 0x64, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ItemsTest, SendsNonEmptyRecordsInFileOrder) {
  std::vector<TestItem> records = EmptyRecords(16);
  records[0] = {.kind = 2, .index = 4, .word1 = 300, .word2 = 1, .count = 5};
  records[1] = {.kind = 2, .index = 5, .word1 = 301, .word2 = 2, .count = 0};
  records[2] = {.kind = 2, .index = 6, .word1 = 302, .word2 = 3, .count = -3};
  records[3] = {.kind = 9, .index = 7, .word1 = 303, .word2 = 4, .count = 1};
  data.WriteItems("Ann", ItemFile(records));

  const std::vector<Packet> items = ItemsOf("Ann");

  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items, ExpectedItems(records));
  EXPECT_EQ(items[4].payload,
            (Bytes{0x02, 0x04, 0x2C, 0x01, 0x01, 0x00, 0x05, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(items[5].payload,
            (Bytes{0x09, 0x07, 0x2F, 0x01, 0x04, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

struct FileCase {
  const char* what;
  Bytes file;
  std::vector<TestItem> sent;  // the file records expected after the fixed four
};

void PrintTo(const FileCase& fileCase, std::ostream* out) {
  *out << fileCase.what;
}

class ItemFileShapesTest : public ItemsTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ItemFileShapesTest, SendsOnlyWholeNonEmptyRecordsOfTheFirstSixteen) {
  data.WriteItems("Bob", GetParam().file);
  std::vector<Packet> expected = ExpectedItems();
  for (const TestItem& item : GetParam().sent) expected.push_back(ItemPacket(item));
  EXPECT_EQ(ItemsOf("Bob"), expected);
}

const TestItem kSword{.kind = 1, .index = 3, .word1 = 7, .word2 = 8, .count = 1};
const TestItem kPotions{.kind = 4, .index = 0, .word1 = 20, .word2 = 0, .count = 12};

std::vector<TestItem> SeventeenWithOnlyTheLastFull() {
  std::vector<TestItem> records = EmptyRecords(17);
  records[16] = kSword;
  return records;
}

// Record 3 lacks only the high byte of its Count; its low byte is 01.
Bytes TwoRecordsAndAlmostThree() {
  Bytes file = ItemFile({kSword, kPotions, kSword});
  file.resize(23);
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ItemFileShapesTest,
    ::testing::Values(
        FileCase{"sixteen empty records", ItemFile(EmptyRecords(16)), {}},
        FileCase{"a 17th record is never read", ItemFile(SeventeenWithOnlyTheLastFull()), {}},
        FileCase{
            "a file shorter than 16 records", ItemFile({kPotions, kSword}), {kPotions, kSword}},
        FileCase{
            "a record cut off by the file's end", TwoRecordsAndAlmostThree(), {kSword, kPotions}},
        FileCase{"an empty file", {}, {}}));

TEST_F(ItemsTest, NegativeWordIsPackedAsFullSixteenBits) {
  data.WriteItems("Neg", ItemFile({{.kind = 5, .index = 1, .word1 = -1, .word2 = 0, .count = 2}}));
  const std::vector<Packet> items = ItemsOf("Neg");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[4].payload,
            (Bytes{0x05, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ItemsTest, UnreadableItemFileCountsAsNone) {
  data.WriteUnreadable(DataKind::kItems, "Ann", "Input/output error");
  EXPECT_EQ(LoadItems(data, "Ann"), std::nullopt);
  EXPECT_EQ(ItemsOf("Ann"), ExpectedItems());
}

struct NameCase {
  Bytes block;  // the login payload
  std::string fileName;
};

class ItemFileNameTest : public ItemsTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ItemFileNameTest, NameIsBytesTwoToSeventeenWithoutZeros) {
  data.WriteItems(GetParam().fileName, ItemFile({kSword}));
  harness.Send(opcode::kLogin, GetParam().block);
  harness.Received();

  harness.session.SendItems();

  std::vector<Packet> expected = ExpectedItems({kSword});
  EXPECT_EQ(harness.Received(), expected);
}

Bytes Block(std::initializer_list<std::uint8_t> head) {
  Bytes block(head);
  block.resize(46, 0x00);
  return block;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ItemFileNameTest,
    ::testing::Values(NameCase{Block({0x00, 'a', 'b', 'c'}), "abc"},
                      NameCase{Block({0x00, 'a', 0x00, 'b', 0x00, 0x00, 'c'}), "abc"},
                      NameCase{Block({0x00, 'a', ' ', 'b'}), "a b"},
                      // Byte 18 lies past the name: it is not part of the file name.
                      NameCase{Block({'Z', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k',
                                      'l', 'm', 'n', 'o', 'p', 'Q'}),
                               "abcdefghijklmnop"}));

}  // namespace
}  // namespace quorvane::testing
