// The ban file: its lines parsed and written back, and its rewrite, which
// leaves the old file whole when it fails before the rename.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/ban_file.h"
#include "scratch_folder.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::system_clock;

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(BanFileTest, GoodLinesParseAndWriteBackExactly) {
  const auto march = *ParseUtc("2025-03-01T12:00:00Z");
  struct Case {
    std::string line;
    std::string range;
    std::optional<system_clock::time_point> until;
    std::string by;
    std::string reason;   // Latin-1
    std::string written;  // empty: the line itself
  };
  const std::vector<Case> cases{
      {"203.0.113.0/24 forever alice 2025-03-01T12:00:00Z spamming the chat", "203.0.113.0/24",
       std::nullopt, "alice", "spamming the chat", ""},
      {"2001:db8::7/128 2025-04-01T00:00:00Z console 2025-03-01T12:00:00Z", "2001:db8::7/128",
       *ParseUtc("2025-04-01T00:00:00Z"), "console", "", ""},
      {"  198.51.100.7\t forever  bob   2025-03-01T12:00:00Z   two  spaces inside  ",
       "198.51.100.7/32", std::nullopt, "bob", "two  spaces inside",
       "198.51.100.7/32 forever bob 2025-03-01T12:00:00Z two  spaces inside"},
      {"192.0.2.1/32 forever bob 2025-03-01T12:00:00Z caf\xC3\xA9 # not a comment\r",
       "192.0.2.1/32", std::nullopt, "bob", "caf\xE9 # not a comment",
       "192.0.2.1/32 forever bob 2025-03-01T12:00:00Z caf\xC3\xA9 # not a comment"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto ban = ParseBanLine(c.line, error);
    ASSERT_TRUE(ban) << c.line << ": " << error;
    EXPECT_EQ(ban->range.ToString(), c.range);
    EXPECT_EQ(ban->until, c.until);
    EXPECT_EQ(ban->by, c.by);
    EXPECT_EQ(ban->since, march);
    EXPECT_EQ(ban->reason, c.reason);
    EXPECT_TRUE(ban->manual);
    EXPECT_EQ(FormatBanLine(*ban), c.written.empty() ? c.line : c.written);
  }
}

TEST(BanFileTest, BadLinesNameWhatIsWrongAndBlankOnesHoldNothing) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", ""},
      {"   ", ""},
      {"# a comment", ""},
      {"example.org forever a 2025-03-01T12:00:00Z", "not an address range: example.org"},
      {"192.0.2.0/33 forever a 2025-03-01T12:00:00Z", "not an address range: 192.0.2.0/33"},
      {"192.0.2.1", "needs RANGE UNTIL BY SINCE [REASON]"},
      {"192.0.2.1 forever alice", "needs RANGE UNTIL BY SINCE [REASON]"},
      {"192.0.2.1 tomorrow a 2025-03-01T12:00:00Z",
       "UNTIL needs a UTC time like 2025-03-01T12:00:00Z or forever, not tomorrow"},
      {"192.0.2.1 2025-02-30T00:00:00Z a 2025-03-01T12:00:00Z",
       "UNTIL needs a UTC time like 2025-03-01T12:00:00Z or forever, not 2025-02-30T00:00:00Z"},
      {"192.0.2.1 2025-03-01T24:00:00Z a 2025-03-01T12:00:00Z",
       "UNTIL needs a UTC time like 2025-03-01T12:00:00Z or forever, not 2025-03-01T24:00:00Z"},
      {"192.0.2.1 forever a 2025-03-01 12:00",
       "SINCE needs a UTC time like 2025-03-01T12:00:00Z, not 2025-03-01"},
      {"192.0.2.1 forever a 2025-03-01T12:00:00+01:00",
       "SINCE needs a UTC time like 2025-03-01T12:00:00Z, not 2025-03-01T12:00:00+01:00"},
      {"192.0.2.1 forever a 2025-03-01T12:00:00Z \xE2\x82\xAC",
       "the reason takes UTF-8 text of Latin-1 characters only"},
      {"192.0.2.1 forever a 2025-03-01T12:00:00Z caf\xE9",
       "the reason takes UTF-8 text of Latin-1 characters only"},
  };
  for (const auto& [line, wrong] : cases) {
    std::string error = "stale";
    EXPECT_FALSE(ParseBanLine(line, error)) << line;
    EXPECT_EQ(error, wrong) << line;
  }
}

class FailingRename : public BanFile {
 public:
  using BanFile::BanFile;
  bool failRename = false;

 protected:
  bool Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return !failRename && BanFile::Rename(from, to);
  }
};

TEST(BanFileTest, SaveReplacesTheFileWholeOrNotAtAll) {
  ScratchFolder folder;
  const std::filesystem::path path = folder.root() / "bans";
  FailingRename file(path);
  std::string error;
  ASSERT_EQ(file.Load(error), std::vector<BanRecord>{}) << "a missing file holds no bans";

  const auto since = *ParseUtc("2025-03-01T12:00:00Z");
  const BanRecord first{
      *AddressRange::Parse("192.0.2.0/24"), true, std::nullopt, "flood", "alice", since};
  const BanRecord second{*AddressRange::Parse("2001:db8::1"), true, since + 24h, "", "bob", since};
  ASSERT_EQ(file.Save({first, second}), "");
  const std::string before = ReadAll(path);
  EXPECT_NE(before.find("192.0.2.0/24 forever alice 2025-03-01T12:00:00Z flood\n"),
            std::string::npos);
  const auto loaded = file.Load(error);
  ASSERT_TRUE(loaded) << error;
  ASSERT_EQ(loaded->size(), 2u);
  EXPECT_EQ((*loaded)[1].until, since + 24h);

  file.failRename = true;
  EXPECT_NE(file.Save({first}), "");
  EXPECT_EQ(ReadAll(path), before);
  EXPECT_FALSE(std::filesystem::exists(folder.root() / "bans.new")) << "no temporary left";

  FailingRename unwritable(folder.root() / "no such folder" / "bans");
  EXPECT_NE(unwritable.Save({first}).find("cannot write"), std::string::npos);
}

TEST(BanFileTest, LoadNamesTheFileAndLineOfAMalformedBan) {
  ScratchFolder folder;
  const std::filesystem::path path = folder.root() / "bans";
  std::ofstream(path) << "# bans\n192.0.2.1 forever a 2025-03-01T12:00:00Z\n\n192.0.2.2 soon\n";
  std::string error;
  EXPECT_FALSE(BanFile(path).Load(error));
  EXPECT_EQ(error, path.string() + ":4: needs RANGE UNTIL BY SINCE [REASON]");
}

}  // namespace
}  // namespace quorvane::testing
