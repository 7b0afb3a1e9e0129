#include "data_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "report_log.h"
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

class ReadDataFileTest : public FindDataFileTest {
 protected:
  std::optional<Bytes> Read(std::string_view name, std::size_t limit) {
    return ReadDataFile(Folder(), name, limit, "test file", reports.Sink());
  }

  testing::ReportLog reports;
};

TEST_F(ReadDataFileTest, ReadsUpToTheLimitFromTheFileTheLookupFinds) {
  scratch.Write("characters/Ann", {0x01, 0x02, 0x03, 0x04, 0x05});
  EXPECT_EQ(Read("ann", 3), (Bytes{0x01, 0x02, 0x03}));
  EXPECT_EQ(Read("Ann", 5), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(Read("Ann ", 8), (Bytes{0x01, 0x02, 0x03, 0x04, 0x05}));
  scratch.Write("characters/Empty", {});
  EXPECT_EQ(Read("Empty", 8), Bytes{});
  EXPECT_TRUE(reports.lines.empty());
}

TEST_F(ReadDataFileTest, MissingFileIsNothingWithoutAReport) {
  scratch.Write("outside", {0x01});
  for (const char* name : {"Nobody", "", "../outside"}) {
    EXPECT_EQ(Read(name, 8), std::nullopt) << '"' << name << '"';
  }
  EXPECT_TRUE(reports.lines.empty());
}

TEST_F(ReadDataFileTest, UnreadableFileIsNothingAndReportedWithItsQuotedPathAndReason) {
  // A regular file whose first read fails (EIO) for every user, root included.
  std::filesystem::create_directories(Folder());
  std::filesystem::create_symlink("/proc/self/mem", Folder() / "Locked");
  EXPECT_EQ(Read("locked", 8), std::nullopt);
  EXPECT_EQ(reports.lines,
            std::vector<std::string>{"W cannot read test file \"" + Folder().string() +
                                     "/Locked\": Input/output error"});
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
