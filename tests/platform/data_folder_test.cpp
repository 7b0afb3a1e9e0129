// The data folder on disk, read straight from its files and through the
// inotify-kept cache: the same lookups, the same defences against files that
// would block the event thread or lead out of the folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "data_folder.h"
#include "platform/data/cached_data_folder.h"
#include "platform/data/direct_data_folder.h"
#include "scratch_folder.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

Bytes Filled(std::size_t size, std::uint8_t first) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

// Opens the write end of each FIFO after a while, which frees a reader that
// blocked in open(); the test then sees how long its read took.
class FifoRescue {
 public:
  explicit FifoRescue(std::vector<fs::path> fifos)
      : thread_([this, fifos = std::move(fifos)] {
          std::unique_lock lock(mutex_);
          if (done_.wait_for(lock, 5s, [this] { return finished_; })) return;
          for (const fs::path& fifo : fifos) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
          }
        }) {}
  ~FifoRescue() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

struct Implementation {
  const char* name;
  std::function<std::unique_ptr<DataFolder>(const fs::path& root)> open;
};

const Implementation kImplementations[] = {
    {"direct", [](const fs::path& root) { return std::make_unique<DirectDataFolder>(root); }},
    {"cached",
     [](const fs::path& root) -> std::unique_ptr<DataFolder> {
       return CachedDataFolder::Create(root);
     }},
};

class DataFolderOnDiskTest : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override { Open(disk.root()); }

  void Open(const fs::path& root) {
    folder = GetParam().open(root);
    ASSERT_NE(folder, nullptr);
  }

  std::optional<Bytes> Read(DataKind kind, std::string_view name) {
    const auto bytes = folder->Read(
        kind, name, [this](const Diagnostic& report) { reports.emplace_back(report.message); });
    if (!bytes) return std::nullopt;
    return Bytes(bytes->begin(), bytes->end());
  }
  std::optional<Bytes> Character(std::string_view name) { return Read(DataKind::kCharacter, name); }

  // Reads `name` with the FIFOs in the folder freed after 5 s; the read
  // must not have waited for that.
  std::optional<Bytes> CharacterWithoutWaiting(std::string_view name,
                                               const std::vector<fs::path>& fifos) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<Bytes> bytes;
    {
      const FifoRescue rescue(fifos);
      bytes = Character(name);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "the read waited on a FIFO";
    return bytes;
  }

  fs::path Characters() const { return disk.root() / "characters"; }
  fs::path MakeFifo(const std::string& name) const {
    const fs::path path = Characters() / name;
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
  }
  std::string LinkReport(const std::string& name) const {
    return "cannot read character file \"" + (Characters() / name).string() +
           "\": its link leads out of the data folder";
  }

  testing::DataFolder disk;
  std::unique_ptr<DataFolder> folder;
  std::vector<std::string> reports;
};

TEST_P(DataFolderOnDiskTest, FindsRegularFilesByExactOrCaseFoldedName) {
  disk.WriteCharacter("Ann", Filled(93, 1));
  disk.WriteItems("Ann", Filled(16, 2));
  fs::create_directory(Characters() / "Bob");
  disk.WriteCharacter("bob", Filled(93, 3));
  disk.WriteCharacter(".hidden", Filled(93, 4));

  EXPECT_EQ(Character("Ann"), Filled(93, 1));
  EXPECT_EQ(Character("aNN  "), Filled(93, 1));
  EXPECT_EQ(Read(DataKind::kItems, "ANN"), Filled(16, 2));
  // A folder in the exact name's place is no file: the case-folded one is.
  EXPECT_EQ(Character("Bob"), Filled(93, 3));
  EXPECT_EQ(Character(".hidden"), std::nullopt);
  EXPECT_EQ(Character("../characters/Ann"), std::nullopt);
  EXPECT_EQ(Character("Nobody"), std::nullopt);
  EXPECT_EQ(Read(DataKind::kItems, "Bob"), std::nullopt);
  EXPECT_TRUE(reports.empty());
}

TEST_P(DataFolderOnDiskTest, ReadsNoMoreThanTheSessionUsesOfAnyFile) {
  // 4 GiB, sparse: reading it whole would take the event thread for seconds.
  for (const char* folderName : {"characters", "items"}) {
    const fs::path huge = disk.Write(fs::path(folderName) / "Huge", Filled(200, 9));
    fs::resize_file(huge, std::uintmax_t{4} << 30);
  }
  disk.WriteItems("Short", Filled(13, 1));
  Open(disk.root());

  EXPECT_EQ(Character("Huge"), Filled(93, 9));
  EXPECT_EQ(Read(DataKind::kItems, "huge"), Filled(128, 9));
  EXPECT_EQ(Read(DataKind::kItems, "Short"), Filled(13, 1));
}

TEST_P(DataFolderOnDiskTest, AFifoInAFilesPlaceNeitherBlocksNorCounts) {
  const fs::path ann = MakeFifo("Ann");
  disk.WriteCharacter("ann", Filled(93, 5));
  const fs::path pipe = MakeFifo("Pipe");
  disk.WriteCharacter("Cid", Filled(93, 6));
  disk.WriteCharacter("Target", Filled(93, 7));
  fs::create_symlink("Target", Characters() / "Dee");
  EXPECT_EQ(Character("Cid"), Filled(93, 6));
  EXPECT_EQ(Character("Dee"), Filled(93, 7));

  // A FIFO put in a file's place after it was seen, directly and behind a link.
  const fs::path swapped = MakeFifo("Swap");
  fs::rename(swapped, Characters() / "Cid");
  fs::remove(Characters() / "Target");
  const fs::path target = MakeFifo("Target");
  const std::vector<fs::path> fifos = {ann, pipe, Characters() / "Cid", target};

  EXPECT_EQ(CharacterWithoutWaiting("Ann", fifos), Filled(93, 5));
  EXPECT_EQ(CharacterWithoutWaiting("Pipe", fifos), std::nullopt);
  EXPECT_EQ(CharacterWithoutWaiting("Cid", fifos), std::nullopt);
  EXPECT_EQ(CharacterWithoutWaiting("Dee", fifos), std::nullopt);
  EXPECT_TRUE(reports.empty());
}

TEST_P(DataFolderOnDiskTest, FollowsALinkOnlyToATargetInsideTheDataFolder) {
  testing::ScratchFolder outside;
  const fs::path secret = outside.Write("secret", Filled(93, 0xA0));
  disk.WriteCharacter("Ann", Filled(93, 1));
  disk.Write("shared/one", Filled(93, 2));
  fs::create_symlink("Ann", Characters() / "Alias");
  fs::create_symlink("../shared/one", Characters() / "Shared");
  fs::create_symlink(Characters() / "Ann", Characters() / "Absolute");
  fs::create_symlink("../characters/Ann", disk.root() / "items" / "Across");
  fs::create_symlink(fs::relative(secret, Characters()), Characters() / "Escape");
  fs::create_symlink(secret, Characters() / "Far");
  fs::create_symlink("/etc/passwd", Characters() / "Etc");
  fs::create_symlink("nowhere", Characters() / "Dangling");
  Open(disk.root());

  EXPECT_EQ(Character("Alias"), Filled(93, 1));
  EXPECT_EQ(Character("shared"), Filled(93, 2));
  EXPECT_EQ(Character("Absolute"), Filled(93, 1));
  EXPECT_EQ(Read(DataKind::kItems, "Across"), Filled(93, 1));
  EXPECT_EQ(Character("Dangling"), std::nullopt);
  EXPECT_TRUE(reports.empty());

  for (const char* name : {"Escape", "far", "Etc"}) {
    EXPECT_EQ(Character(name), std::nullopt) << name;
  }
  EXPECT_EQ(reports,
            (std::vector<std::string>{LinkReport("Escape"), LinkReport("Far"), LinkReport("Etc")}));
}

TEST_P(DataFolderOnDiskTest, AFileThatCannotBeReadIsReportedWithItsPathAndReason) {
  // The data folder's characters/ may itself be a link; in /proc/self, mem
  // is a regular file whose first read fails (EIO) for every user.
  testing::ScratchFolder root;
  fs::create_directory_symlink("/proc/self", root.root() / "characters");
  Open(root.root());
  EXPECT_EQ(Character("mem"), std::nullopt);
  EXPECT_EQ(reports, std::vector<std::string>{"cannot read character file \"" +
                                              (root.root() / "characters" / "mem").string() +
                                              "\": Input/output error"});
}

TEST_P(DataFolderOnDiskTest, AMissingFolderHoldsNothingUntilItIsMade) {
  fs::remove(Characters());
  Open(disk.root());
  EXPECT_EQ(Character("Ann"), std::nullopt);
  disk.WriteCharacter("Ann", Filled(93, 1));
  EXPECT_EQ(Character("ann"), Filled(93, 1));
  EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(BothWays, DataFolderOnDiskTest, ::testing::ValuesIn(kImplementations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DirectDataFolderTest, ListsTheFolderAgainWhenItsTimeStampChanges) {
  testing::DataFolder disk;
  DirectDataFolder folder(disk.root());
  disk.WriteCharacter("Zed", Filled(93, 1));
  // An old time stamp: the listing is trusted until the folder changes.
  const timespec old[2] = {{.tv_sec = 1000, .tv_nsec = 0}, {.tv_sec = 1000, .tv_nsec = 0}};
  const fs::path characters = disk.root() / "characters";
  ASSERT_EQ(::utimensat(AT_FDCWD, characters.c_str(), old, 0), 0);
  EXPECT_TRUE(folder.Read(DataKind::kCharacter, "zed", {}));

  fs::rename(characters / "Zed", characters / "zEd");
  EXPECT_TRUE(folder.Read(DataKind::kCharacter, "ZED", {}));
  fs::remove(characters / "zEd");
  EXPECT_FALSE(folder.Read(DataKind::kCharacter, "zed", {}));
}

}  // namespace
}  // namespace quorvane
