#include "session/character_record.h"
#include "report_log.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "memory_data_folder.h"

namespace quorvane {
namespace {

using testing::MemoryDataFolder;

// Bytes 0, 1, 2, ... so that every field's value tells where it was read.
Bytes CountingBytes(std::size_t size) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

TEST(DecodeCharacterRecordTest, ReadsEveryFieldAtItsOffsetLowByteFirst) {
  const CharacterRecord c = DecodeCharacterRecord(CountingBytes(kCharacterRecordSize));
  std::array<std::uint8_t, 18> name{};
  std::iota(name.begin(), name.end(), std::uint8_t{0});
  EXPECT_EQ(c.Name, name);
  EXPECT_EQ(c.Level, 0x1312);
  EXPECT_EQ(c.Class, 0x14);
  EXPECT_EQ(c.Extra1, 0x15);
  EXPECT_EQ(c.Extra2, 0x16);
  EXPECT_EQ(c.Stat1A, 0x1A191817);
  EXPECT_EQ(c.Stat1B, 0x1E1D1C1B);
  EXPECT_EQ(c.Stat2A, 0x2221201F);
  EXPECT_EQ(c.Stat2B, 0x26252423);
  EXPECT_EQ(c.Stat3A, 0x2A292827);
  EXPECT_EQ(c.Stat3B, 0x2E2D2C2B);
  EXPECT_EQ(c.Stat12B, 0x3231302F);
  EXPECT_EQ(c.Stat12A, 0x36353433);
  EXPECT_EQ(c.Stat4B, 0x3A393837);
  EXPECT_EQ(c.Stat4A, 0x3E3D3C3B);
  EXPECT_EQ(c.Stat11B, 0x4241403F);
  EXPECT_EQ(c.Stat11A, 0x46454443);
  EXPECT_EQ(c.Stat6, 0x4847);
  EXPECT_EQ(c.Stat7, 0x4C4B4A49);
  EXPECT_EQ(c.Stat8, 0x504F4E4D);
  EXPECT_EQ(c.Stat9, 0x54535251);
  EXPECT_EQ(c.Stat10, 0x58575655);
  EXPECT_EQ(c.PosX, 0x5A59);
  EXPECT_EQ(c.PosY, 0x5C5B);
}

TEST(DecodeCharacterRecordTest, ReadsSignedAndUnsignedFieldsAsTheirType) {
  Bytes bytes(kCharacterRecordSize, 0x00);
  bytes[18] = bytes[19] = 0xFF;                                            // Level
  bytes[20] = 0xFF;                                                        // Class
  bytes[23] = 0x01, bytes[24] = 0x02, bytes[25] = 0x03, bytes[26] = 0x04;  // Stat1A
  for (std::size_t i = 27; i < 31; ++i) bytes[i] = 0xFF;                   // Stat1B
  bytes[89] = 0x00, bytes[90] = 0x80;                                      // PosX
  const CharacterRecord c = DecodeCharacterRecord(bytes);
  EXPECT_EQ(c.Level, -1);
  EXPECT_EQ(c.Class, 255);
  EXPECT_EQ(c.Stat1A, 0x04030201);
  EXPECT_EQ(c.Stat1B, -1);
  EXPECT_EQ(c.PosX, -32768);
}

TEST(DecodeCharacterRecordTest, ReadsMissingBytesAsZero) {
  const CharacterRecord c = DecodeCharacterRecord(CountingBytes(21));
  EXPECT_EQ(c.Level, 0x1312);
  EXPECT_EQ(c.Class, 0x14);
  CharacterRecord rest = c;
  rest.Name = {};
  rest.Level = 0;
  rest.Class = 0;
  EXPECT_EQ(rest, CharacterRecord{});
  EXPECT_EQ(DecodeCharacterRecord({}), CharacterRecord{});
}

class LoadCharacterTest : public ::testing::Test {
 protected:
  MemoryDataFolder data;
};

TEST_F(LoadCharacterTest, LoadsLevelAndPosition) {
  Bytes bytes(kCharacterRecordSize, 0x00);
  bytes[18] = 0x0A;
  bytes[89] = 0x05;
  bytes[91] = 0x07;
  data.WriteCharacter("Ann", bytes);
  const auto loaded = LoadCharacter(data, "Ann");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Level, 10);
  EXPECT_EQ(loaded->PosX, 5);
  EXPECT_EQ(loaded->PosY, 7);
}

TEST_F(LoadCharacterTest, IgnoresTheRestOfTheRecordSlotAndAnythingAfter) {
  Bytes slot = CountingBytes(kCharacterSlotSize + 30);
  std::fill(slot.begin() + kCharacterRecordSize, slot.end(), 0xEE);
  data.WriteCharacter("Slot", slot);
  const auto loaded = LoadCharacter(data, "Slot");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, DecodeCharacterRecord(CountingBytes(kCharacterRecordSize)));
}

TEST_F(LoadCharacterTest, LoadsAShortFileWithZerosForTheMissingBytes) {
  data.WriteCharacter("Short", CountingBytes(20));
  const auto loaded = LoadCharacter(data, "Short");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->Level, 0x1312);
  EXPECT_EQ(loaded->Class, 0);
  EXPECT_EQ(loaded->PosY, 0);

  data.WriteCharacter("Empty", {});
  EXPECT_EQ(LoadCharacter(data, "Empty"), CharacterRecord{});
}

TEST_F(LoadCharacterTest, FindsTheFileAsTheLookupDoes) {
  data.WriteCharacter("Ann", CountingBytes(kCharacterRecordSize));
  const auto expected = DecodeCharacterRecord(CountingBytes(kCharacterRecordSize));
  EXPECT_EQ(LoadCharacter(data, "ann"), expected);
  EXPECT_EQ(LoadCharacter(data, "Ann          "), expected);
}

TEST_F(LoadCharacterTest, GivesNothingWithoutAFileOrForARefusedName) {
  data.WriteItems("Items", CountingBytes(kCharacterRecordSize));
  for (const char* name : {"Nobody", "", "../Ann", "Items"}) {
    EXPECT_EQ(LoadCharacter(data, name), std::nullopt) << '"' << name << '"';
  }
}

TEST_F(LoadCharacterTest, GivesNothingForAFileThatCannotBeReadAndReportsIt) {
  data.WriteUnreadable(DataKind::kCharacter, "Locked", "Input/output error");
  testing::ReportLog reports;
  EXPECT_EQ(LoadCharacter(data, "Locked", reports.Sink()), std::nullopt);
  EXPECT_EQ(reports.lines,
            std::vector<std::string>{
                "W cannot read character file \"characters/Locked\": Input/output error"});
}

}  // namespace
}  // namespace quorvane
