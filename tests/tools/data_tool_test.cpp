// quorvane-data: the files it writes, as the server reads them, and what it
// shows of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "data_command.h"
#include "data_folder.h"
#include "expected_packets.h"
#include "platform/data/direct_data_folder.h"
#include "session/character_record.h"
#include "session/item_record.h"

namespace quorvane::testing {
namespace {

class DataToolTest : public ::testing::Test {
 protected:
  struct Run {
    int status;
    std::string out;
    std::string err;
  };

  static Run Tool(QStringList arguments) {
    arguments.prepend("quorvane-data");
    std::ostringstream out;
    std::ostringstream err;
    const int status = data::RunDataCommand(arguments, out, err);
    return {status, out.str(), err.str()};
  }

  QString Path(const std::string& relative) const {
    return QString::fromStdString((data.root() / relative).string());
  }

  Bytes Read(const std::string& relative) const {
    std::ifstream file(data.root() / relative, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  DataFolder data;
};

TEST_F(DataToolTest, NewCharacterPutsEachFieldAtItsOffset) {
  const Run run = Tool({"new-character",
                        "--name",
                        "Ann",
                        "--level",
                        "10",
                        "--class",
                        "255",
                        "--stat1a",
                        "-2",
                        "--stat4a",
                        "7",
                        "--stat4b",
                        "9",
                        "--stat6",
                        "300",
                        "--posx",
                        "5",
                        "--posy",
                        "7",
                        Path("characters/Ann")});
  ASSERT_EQ(run.status, 0) << run.err;

  Bytes expected(116, 0x00);
  expected[0] = 'A';
  expected[1] = 'n';
  expected[2] = 'n';
  expected[18] = 0x0A;       // Level
  expected[20] = 0xFF;       // Class
  Put(expected, 23, -2, 4);  // Stat1A
  expected[55] = 0x09;       // Stat4B
  expected[59] = 0x07;       // Stat4A
  expected[71] = 0x2C;       // Stat6, 300
  expected[72] = 0x01;
  expected[89] = 0x05;  // PosX
  expected[91] = 0x07;  // PosY
  EXPECT_EQ(Read("characters/Ann"), expected);
  EXPECT_NE(run.err.find("Stat1A -2"), std::string::npos) << "a value sent wrong is pointed out";
}

TEST_F(DataToolTest, WrittenFilesLoadAsTheServerReadsThem) {
  ASSERT_EQ(Tool({"new-character", "--level", "600", "--stat12a", "65535", "--stat12b", "12",
                  "--posx", "32766", Path("characters/Max")})
                .status,
            0);
  ASSERT_EQ(
      Tool({"new-items", "--item", "3,1,2,4,5", "--item", "1,0,0,0,0", Path("items/Max")}).status,
      0);

  DirectDataFolder server(data.root());
  const auto record = LoadCharacter(server, "Max");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->Level, 600);
  EXPECT_EQ(record->Stat12A, 65535);
  EXPECT_EQ(record->Stat12B, 12);
  EXPECT_EQ(record->PosX, 32766);
  EXPECT_EQ(Read("items/Max"), (Bytes{3, 1, 2, 0, 4, 0, 5, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  const auto items = LoadItems(server, "Max");
  ASSERT_TRUE(items.has_value());
  EXPECT_EQ(items->size(), 2u);
}

// One line naming the program and the reason, and where the help is.
TEST_F(DataToolTest, RefusesBadInputAndWritesNothing) {
  const struct {
    const char* what;
    QStringList arguments;
    const char* help;
  } cases[] = {
      {"no command", {}, "quorvane-data --help"},
      {"unknown command", {"edit", Path("characters/X")}, "quorvane-data --help"},
      {"no file", {"new-character", "--level", "1"}, "quorvane-data new-character --help"},
      {"level past 16 bits",
       {"new-character", "--level", "32768", Path("characters/X")},
       "quorvane-data new-character --help"},
      {"class below 0",
       {"new-character", "--class", "-1", Path("characters/X")},
       "quorvane-data new-character --help"},
      {"not a number",
       {"new-character", "--posx", "east", Path("characters/X")},
       "quorvane-data new-character --help"},
      {"unknown option",
       {"new-character", "--speed", "3", Path("characters/X")},
       "quorvane-data new-character --help"},
      {"name past 18 bytes",
       {"new-character", "--name", "Abcdefghijklmnopqrs", Path("characters/X")},
       "quorvane-data new-character --help"},
      {"item with four parts",
       {"new-items", "--item", "1,2,3,4", Path("items/X")},
       "quorvane-data new-items --help"},
      {"count past 16 bits",
       {"new-items", "--item", "1,2,3,4,40000", Path("items/X")},
       "quorvane-data new-items --help"},
      {"seventeen items",
       QStringList{"new-items"} + QStringList(17, "--item=1,1,1,1,1") +
           QStringList{Path("items/X")},
       "quorvane-data new-items --help"},
      {"bad type", {"show", "--type", "npc", Path("characters/Ann")}, "quorvane-data show --help"},
  };
  for (const auto& badCase : cases) {
    SCOPED_TRACE(badCase.what);
    const Run run = Tool(badCase.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("quorvane-data: ")) << run.err;
    EXPECT_TRUE(run.err.ends_with(std::string(" (see ") + badCase.help + ")\n")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  const Run unknownOption = Tool({"new-character", "--speed", "3", Path("characters/X")});
  EXPECT_TRUE(unknownOption.err.starts_with("quorvane-data: unknown option 'speed' (see "))
      << unknownOption.err;
  EXPECT_FALSE(std::filesystem::exists(data.root() / "characters" / "X"));
  EXPECT_FALSE(std::filesystem::exists(data.root() / "items" / "X"));
}

TEST_F(DataToolTest, ReplacesAFileOnlyWithForce) {
  ASSERT_EQ(Tool({"new-character", "--level", "1", Path("characters/Ann")}).status, 0);

  const Run refused = Tool({"new-character", "--level", "2", Path("characters/Ann")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(Read("characters/Ann")[18], 1);

  EXPECT_EQ(Tool({"new-character", "--force", "--level", "2", Path("characters/Ann")}).status, 0);
  EXPECT_EQ(Read("characters/Ann")[18], 2);
}

TEST_F(DataToolTest, ShowsEveryCharacterFieldByName) {
  TestCharacter c{.level = 10, .cls = 1, .stat4b = 9, .stat10 = 70000, .posX = 32767, .posY = 7};
  Bytes file = CharacterFile(c);
  file[0] = 'A';
  file[1] = 0x01;
  data.WriteCharacter("Ann", file);

  const Run run = Tool({"show", Path("characters/Ann")});

  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Name     \"A\\x01\"\n", "Level    10\n", "Class    1\n", "Stat4B   9\n",
                           "Stat10   70000  (outside 0..65535: not sent as intended)\n",
                           "PosX     32767  (outside 0..32766: not sent as intended)\n",
                           "PosY     7\n", "# Class is not 0: no spells are sent\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin\n" << run.out;
  }
  // Name and the 23 numbers, then the one note on Class.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 25);
}

TEST_F(DataToolTest, ShowsItemRecordsAndWhatTheServerSkips) {
  std::vector<TestItem> records(17);
  records[0] = {.kind = 3, .index = 0, .word1 = 4, .word2 = 34, .count = 100};
  records[1] = {.kind = 1, .index = 2, .word1 = 5, .word2 = 6, .count = -3};
  records[16] = {.kind = 9, .index = 9, .word1 = 9, .word2 = 9, .count = 9};
  Bytes file = ItemFile(records);
  file.resize(file.size() + 3, 0xAA);
  data.WriteItems("Ann", file);

  const Run run = Tool({"show", Path("items/Ann")});

  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n', run.out.find('\n') + 1) + 1),
            " 1: Kind 3 Index 0 Word1 4 Word2 34 Count 100\n"
            " 2: Kind 1 Index 2 Word1 5 Word2 6 Count -3  (empty: not sent)\n");
  EXPECT_NE(
      run.out.find("17: Kind 9 Index 9 Word1 9 Word2 9 Count 9  (past record 16: never read)\n"),
      std::string::npos);
  EXPECT_NE(run.out.find("# 3 trailing bytes: not a whole record, never sent\n"),
            std::string::npos);
}

TEST_F(DataToolTest, ShowTakesTheKindFromTypeOrFolder) {
  data.Write("Ann.bin", ItemFile({{.kind = 1, .count = 1}}));

  const Run unknown = Tool({"show", Path("Ann.bin")});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--type"), std::string::npos);

  const Run items = Tool({"show", "--type", "items", Path("Ann.bin")});
  EXPECT_EQ(items.status, 0);
  EXPECT_EQ(items.out, " 1: Kind 1 Index 0 Word1 0 Word2 0 Count 1\n");

  const Run character = Tool({"show", "--type", "character", Path("Ann.bin")});
  EXPECT_EQ(character.status, 0);
  EXPECT_NE(character.out.find("# 8 bytes: the missing 85 read as zero\n"), std::string::npos);

  EXPECT_EQ(Tool({"show", Path("characters/Nobody")}).status, 1);
  // A missing file is missing, whichever folder it would lie in.
  const Run missing = Tool({"show", Path("Nobody.bin")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "quorvane-data: cannot open " + Path("Nobody.bin").toStdString() +
                             ": No such file or directory\n");
}

// Whatever the path names, show ends with a message and status 1, never an
// abort or a wait.
TEST_F(DataToolTest, ShowRefusesWhatIsNotACharacterOrItemFile) {
  std::filesystem::create_directory(data.root() / "items" / "Folder");
  ASSERT_EQ(::mkfifo((data.root() / "items" / "Pipe").c_str(), 0600), 0);
  data.WriteItems("Huge", Bytes(2 << 20, 0));
  struct Case {
    std::string file;
    std::string message;
  };
  const std::vector<Case> cases{
      {"items/Folder", "is a folder, not a file"},
      {"items/Pipe", "is not a regular file"},
      {"items/Huge", "is too large for a character or item file (2097152 bytes)"},
      {"items/Missing", "cannot open"},
  };
  for (const Case& c : cases) {
    const Run run = Tool({"show", Path(c.file)});
    EXPECT_EQ(run.status, 1) << c.file;
    EXPECT_TRUE(run.err.starts_with("quorvane-data: ")) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("\n")) << run.err;
  }
}

TEST_F(DataToolTest, VersionIsTheProjectsOnStandardOutput) {
  for (const char* option : {"--version", "-v"}) {
    const Run run = Tool({option});
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_EQ(run.out, "quorvane-data " QUORVANE_VERSION "\n") << option;
    EXPECT_EQ(run.err, "") << option;
  }
}

}  // namespace
}  // namespace quorvane::testing
