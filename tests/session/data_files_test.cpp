#include "data_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scratch_folder.h"

namespace quorvane {
namespace {

using testing::ScratchFolder;

class FindDataFileTest : public ::testing::Test {
 protected:
  std::filesystem::path Folder() const { return scratch.root() / "characters"; }
  std::filesystem::path Add(const std::string& name) const {
    return scratch.Write(std::filesystem::path("characters") / name, {0x01});
  }

  ScratchFolder scratch;
};

TEST_F(FindDataFileTest, FindsAnExactName) {
  const auto ann = Add("Ann");
  EXPECT_EQ(FindDataFile(Folder(), "Ann"), ann);
}

TEST_F(FindDataFileTest, FindsTheOneNameThatDiffersOnlyInCase) {
  const auto ann = Add("Ann");
  Add("Bob");
  EXPECT_EQ(FindDataFile(Folder(), "aNN"), ann);
  EXPECT_EQ(FindDataFile(Folder(), "ANN"), ann);
}

TEST_F(FindDataFileTest, PrefersTheExactNameAndRefusesToGuessBetweenOthers) {
  const auto lower = Add("ann");
  const auto upper = Add("ANN");
  EXPECT_EQ(FindDataFile(Folder(), "ann"), lower);
  EXPECT_EQ(FindDataFile(Folder(), "ANN"), upper);
  EXPECT_EQ(FindDataFile(Folder(), "Ann"), std::nullopt);
}

TEST_F(FindDataFileTest, IgnoresTrailingBlanksAndDotsOfTheName) {
  const auto ann = Add("Ann");
  for (const char* name : {"Ann ", "Ann       ", "Ann.", "Ann..", "Ann . .", "ann  "}) {
    EXPECT_EQ(FindDataFile(Folder(), name), ann) << '"' << name << '"';
  }
  // Leading blanks and inner dots are part of the name.
  EXPECT_EQ(FindDataFile(Folder(), " Ann"), std::nullopt);
  EXPECT_EQ(FindDataFile(Folder(), "A.nn"), std::nullopt);
}

TEST_F(FindDataFileTest, RefusesNamesThatCouldLeaveTheFolderOrHoldControlBytes) {
  // Each of these would name an existing regular file if it were taken
  // literally, so only the refusal keeps it from being found.
  scratch.Write("secret", {0x01});
  scratch.Write("characters/sub/inner", {0x01});
  Add(std::string("a\\b"));
  Add(std::string("tab\there"));
  Add(std::string("nl\nx"));
  const std::string names[] = {"../secret",
                               "..\\secret",
                               "sub/inner",
                               "a\\b",
                               "tab\there",
                               "nl\nx",
                               (Folder().parent_path() / "secret").string()};
  for (const std::string& name : names) {
    EXPECT_EQ(FindDataFile(Folder(), name), std::nullopt) << '"' << name << '"';
  }
}

TEST_F(FindDataFileTest, FindsNothingForEmptyOrDotOnlyNames) {
  Add("Ann");
  for (const char* name : {"", ".", "..", "...", " ", " . "}) {
    EXPECT_EQ(FindDataFile(Folder(), name), std::nullopt) << '"' << name << '"';
  }
  EXPECT_EQ(FindDataFile(Folder(), std::string_view("\0Ann", 4)), std::nullopt);
}

TEST_F(FindDataFileTest, CountsOnlyRegularFilesThatAreNotHidden) {
  std::filesystem::create_directories(Folder() / "Folder");
  Add(".hidden");
  Add(".Other");
  EXPECT_EQ(FindDataFile(Folder(), "Folder"), std::nullopt);
  EXPECT_EQ(FindDataFile(Folder(), "folder"), std::nullopt);
  EXPECT_EQ(FindDataFile(Folder(), ".hidden"), std::nullopt);
  EXPECT_EQ(FindDataFile(Folder(), ".other"), std::nullopt);
}

TEST_F(FindDataFileTest, TakesWildcardsLiterally) {
  Add("Ann");
  EXPECT_EQ(FindDataFile(Folder(), "*"), std::nullopt);
  EXPECT_EQ(FindDataFile(Folder(), "A?n"), std::nullopt);
  const auto star = Add("*");
  EXPECT_EQ(FindDataFile(Folder(), "*"), star);
}

TEST_F(FindDataFileTest, FindsNothingInAMissingFolder) {
  EXPECT_EQ(FindDataFile(scratch.root() / "nowhere", "Ann"), std::nullopt);
}

}  // namespace
}  // namespace quorvane
