#include "session/data_file_names.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

namespace quorvane {
namespace {

// The file of a folder holding `names` that `name` selects.
std::optional<std::string> Find(std::initializer_list<std::string> names, std::string_view name) {
  DataFileIndex index;
  for (const std::string& entry : names) index.Add(entry);
  const auto key = DataFileKey(name);
  if (!key) return std::nullopt;
  const auto found = index.Find(*key);
  return found ? std::optional<std::string>(*found) : std::nullopt;
}

TEST(DataFileLookupTest, FindsAnExactName) {
  EXPECT_EQ(Find({"Ann", "Bob"}, "Ann"), "Ann");
}

TEST(DataFileLookupTest, FindsTheOneNameThatDiffersOnlyInCase) {
  EXPECT_EQ(Find({"Ann", "Bob"}, "aNN"), "Ann");
  EXPECT_EQ(Find({"Ann", "Bob"}, "ANN"), "Ann");
  // Only ASCII letters fold.
  EXPECT_EQ(Find({"\xC4nn"}, "\xE4nn"), std::nullopt);
}

TEST(DataFileLookupTest, PrefersTheExactNameAndRefusesToGuessBetweenOthers) {
  EXPECT_EQ(Find({"ann", "ANN"}, "ann"), "ann");
  EXPECT_EQ(Find({"ann", "ANN"}, "ANN"), "ANN");
  EXPECT_EQ(Find({"ann", "ANN"}, "Ann"), std::nullopt);
}

TEST(DataFileLookupTest, IgnoresTrailingBlanksAndDotsOfTheName) {
  for (const char* name : {"Ann ", "Ann       ", "Ann.", "Ann..", "Ann . .", "ann  "}) {
    EXPECT_EQ(Find({"Ann"}, name), "Ann") << '"' << name << '"';
  }
  // Leading blanks and inner dots are part of the name.
  EXPECT_EQ(Find({"Ann"}, " Ann"), std::nullopt);
  EXPECT_EQ(Find({"Ann"}, "A.nn"), std::nullopt);
}

TEST(DataFileLookupTest, RefusesNamesThatCouldLeaveTheFolderOrHoldControlBytes) {
  // Each of these is a name in the folder, so only the refusal keeps it from
  // being found.
  const std::initializer_list<std::string> names = {"../secret", "..\\secret", "sub/inner",  "a\\b",
                                                    "tab\there", "nl\nx",      "/etc/passwd"};
  for (const std::string& name : names) {
    EXPECT_EQ(Find(names, name), std::nullopt) << '"' << name << '"';
  }
}

TEST(DataFileLookupTest, FindsNothingForEmptyDotOnlyOrHiddenNames) {
  const std::initializer_list<std::string> names = {"Ann", ".hidden", ".Other", "..."};
  for (const char* name : {"", ".", "..", "...", " ", " . ", ".hidden", ".other"}) {
    EXPECT_EQ(Find(names, name), std::nullopt) << '"' << name << '"';
  }
  EXPECT_EQ(Find(names, std::string_view("\0Ann", 4)), std::nullopt);
}

TEST(DataFileLookupTest, TakesWildcardsLiterally) {
  EXPECT_EQ(Find({"Ann"}, "*"), std::nullopt);
  EXPECT_EQ(Find({"Ann"}, "A?n"), std::nullopt);
  EXPECT_EQ(Find({"Ann", "*"}, "*"), "*");
}

TEST(DataFileIndexTest, RemovingANameUpdatesBothLookups) {
  DataFileIndex index;
  index.Add("ann");
  index.Add("ANN");
  index.Add("ann");  // twice is once
  EXPECT_EQ(index.Size(), 2u);
  EXPECT_EQ(index.Find("Ann"), std::nullopt);

  index.Remove("ANN");
  EXPECT_EQ(index.Find("Ann"), "ann");
  EXPECT_EQ(index.Find("ANN"), "ann");
  index.Remove("nobody");
  index.Remove("ann");
  EXPECT_EQ(index.Find("ann"), std::nullopt);
  EXPECT_EQ(index.Size(), 0u);

  index.Add("Bob");
  index.Clear();
  EXPECT_EQ(index.Find("bob"), std::nullopt);
}

TEST(CharacterFileNameTest, TakesBytesTwoToSeventeenWithoutTheirZeroBytes) {
  Bytes block(46, 0x00);
  const std::string inner("A\0n n\x01.", 7);
  std::copy(inner.begin(), inner.end(), block.begin() + 1);
  block[0] = 'X';   // before the name
  block[17] = 'Y';  // past it
  EXPECT_EQ(CharacterFileName(block), std::string("An n\x01."));

  Bytes full(46, 'z');
  EXPECT_EQ(CharacterFileName(full), std::string(16, 'z'));
}

}  // namespace
}  // namespace quorvane
