// The cache of the data folder under an operator's edits: each lookup must see
// the folder as it stands at that moment, whether or not the event loop ran
// since the change.
#include "platform/data/cached_data_folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "data_folder.h"
#include "memory_data_folder.h"
#include "platform/loop/end_of_event.h"
#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::optional<Bytes> Copy(const std::optional<ByteView>& bytes) {
  if (!bytes) return std::nullopt;
  return Bytes(bytes->begin(), bytes->end());
}

// Writes in place, as an editor that truncates and rewrites does.
void Overwrite(const fs::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

class CachedDataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cache = CachedDataFolder::Create(disk.root());
    ASSERT_NE(cache, nullptr);
  }

  std::optional<Bytes> Read(DataKind kind, std::string_view name) {
    return Copy(cache->Read(kind, name, {}));
  }

  fs::path PathOf(DataKind kind, const std::string& name) const {
    return disk.root() / DataFolderName(kind) / name;
  }

  testing::DataFolder disk;
  std::unique_ptr<CachedDataFolder> cache;
};

// Random edits of both folders, each followed by lookups of every name the
// edits use, in several spellings; the expected answer comes from the same
// edits made to a folder held in memory.
TEST_F(CachedDataFolderTest, EveryLookupSeesTheFolderAsItStands) {
  const std::vector<std::string> names = {"Ann", "ann", "ANN", "Bob", "bob", "Cid", "Dee"};
  std::mt19937 random(20240611);
  testing::MemoryDataFolder expected;
  std::vector<std::string> present[2];
  auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
  };
  std::uint8_t version = 0;

  for (int step = 0; step < 400; ++step) {
    const DataKind kind = random() % 2 == 0 ? DataKind::kCharacter : DataKind::kItems;
    std::vector<std::string>& here = present[kind == DataKind::kCharacter ? 0 : 1];
    const Bytes bytes(1 + random() % 140, ++version);
    const int edit = static_cast<int>(random() % 5);
    if (edit == 0 || here.empty()) {  // write a new file or rewrite one in place
      const std::string name = pick(names);
      Overwrite(PathOf(kind, name), bytes);
      expected.Write(kind, name, bytes);
      if (std::find(here.begin(), here.end(), name) == here.end()) here.push_back(name);
    } else if (edit == 1) {  // delete
      const std::string name = pick(here);
      fs::remove(PathOf(kind, name));
      expected.Remove(kind, name);
      std::erase(here, name);
    } else if (edit == 2) {  // rename, perhaps over another file
      const std::string from = pick(here);
      const std::string to = pick(names);
      if (from == to) continue;
      fs::rename(PathOf(kind, from), PathOf(kind, to));
      const Bytes content = *Copy(expected.Read(kind, from, {}));
      expected.Remove(kind, from);
      expected.Write(kind, to, content);
      std::erase(here, from);
      if (std::find(here.begin(), here.end(), to) == here.end()) here.push_back(to);
    } else if (edit == 3) {  // replace whole through a hidden temporary file
      const std::string name = pick(names);
      const fs::path temporary = disk.root() / DataFolderName(kind) / ".edit";
      Overwrite(temporary, bytes);
      fs::rename(temporary, PathOf(kind, name));
      expected.Write(kind, name, bytes);
      if (std::find(here.begin(), here.end(), name) == here.end()) here.push_back(name);
    } else {  // let the event loop take the notifications this time
      testing::SpinFor(0ms);
    }

    // Every other step's lookups share one event, as a login's do: the
    // edits were made before it began.
    std::optional<EventScope> event;
    if (step % 2 == 1) event.emplace();
    for (const DataKind asked : kDataKinds) {
      for (const std::string& name : names) {
        const auto want = Copy(expected.Read(asked, name, {}));
        ASSERT_EQ(Read(asked, name), want)
            << "step " << step << ", " << DataFolderName(asked) << "/" << name;
      }
    }
  }
}

TEST_F(CachedDataFolderTest, AFolderMovedAwayOrRemadeIsReadAfresh) {
  disk.WriteCharacter("Ann", Bytes(93, 1));
  EXPECT_EQ(Read(DataKind::kCharacter, "Ann"), Bytes(93, 1));

  const fs::path characters = disk.root() / "characters";
  fs::rename(characters, disk.root() / "old");
  EXPECT_EQ(Read(DataKind::kCharacter, "Ann"), std::nullopt);
  fs::create_directory(characters);
  disk.WriteCharacter("Ann", Bytes(93, 2));
  EXPECT_EQ(Read(DataKind::kCharacter, "ann"), Bytes(93, 2));
  // Edits in the folder moved away no longer count.
  Overwrite(disk.root() / "old" / "Ann", Bytes(93, 3));
  EXPECT_EQ(Read(DataKind::kCharacter, "Ann"), Bytes(93, 2));

  fs::remove_all(characters);
  fs::rename(disk.root() / "old", characters);
  EXPECT_EQ(Read(DataKind::kCharacter, "Ann"), Bytes(93, 3));
}

TEST_F(CachedDataFolderTest, LostNotificationsMeanTheFolderIsReadAgain) {
  std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
  std::size_t limit = 0;
  limitFile >> limit;
  if (limit == 0 || limit > 100000) GTEST_SKIP() << "inotify queue of " << limit << " events";

  disk.WriteCharacter("Ann", Bytes(93, 0));
  disk.WriteCharacter("Bob", Bytes(93, 0));
  ASSERT_TRUE(Read(DataKind::kCharacter, "Ann"));
  // Fills the queue with attribute changes, alternating so that no two in a
  // row merge into one; the edits after them find it full.
  for (std::size_t i = 0; i <= limit; ++i) {
    const fs::path path = PathOf(DataKind::kCharacter, i % 2 == 0 ? "Ann" : "Bob");
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), nullptr, 0), 0);
  }
  Overwrite(PathOf(DataKind::kCharacter, "Ann"), Bytes(93, 6));
  fs::remove(PathOf(DataKind::kCharacter, "Bob"));
  disk.WriteCharacter("Cid", Bytes(93, 7));
  EXPECT_EQ(Read(DataKind::kCharacter, "Ann"), Bytes(93, 6));
  EXPECT_EQ(Read(DataKind::kCharacter, "Bob"), std::nullopt);
  EXPECT_EQ(Read(DataKind::kCharacter, "Cid"), Bytes(93, 7));
}

// A folder listed afresh (at the start, after a touch) is listed on a worker
// that the test runs by hand: until its copy is taken in, lookups read the
// files, and an edit made after the listing is not lost when it is.
TEST(CachedDataFolderRebuildTest, LookupsWhileAFolderIsListedAfreshSeeItAsItStands) {
  testing::DataFolder disk;
  disk.WriteCharacter("Ann", Bytes(93, 1));
  std::vector<std::function<void()>> held;
  const auto cache = CachedDataFolder::Create(
      disk.root(), [&](std::function<void()> build) { held.push_back(std::move(build)); });
  ASSERT_NE(cache, nullptr);
  auto read = [&](std::string_view name) {
    return Copy(cache->Read(DataKind::kCharacter, name, {}));
  };
  const fs::path characters = disk.root() / "characters";

  EXPECT_TRUE(cache->Rebuilding()) << "the start lists on a worker";
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(read("ann"), Bytes(93, 1));
  for (const auto& build : held) build();
  held.clear();
  Overwrite(characters / "Ann", Bytes(93, 2));
  EXPECT_EQ(read("Ann"), Bytes(93, 2));
  EXPECT_FALSE(cache->Rebuilding());

  ASSERT_EQ(::utimensat(AT_FDCWD, characters.c_str(), nullptr, 0), 0);
  disk.WriteCharacter("Bob", Bytes(93, 3));
  EXPECT_EQ(read("bob"), Bytes(93, 3));
  EXPECT_TRUE(cache->Rebuilding());
  ASSERT_EQ(held.size(), 1u);
  // Touched again before that listing is done: its copy is let go.
  ASSERT_EQ(::chmod(characters.c_str(), 0750), 0);
  EXPECT_EQ(read("Ann"), Bytes(93, 2));
  ASSERT_EQ(held.size(), 2u);
  held[0]();
  EXPECT_EQ(read("BOB"), Bytes(93, 3));
  EXPECT_TRUE(cache->Rebuilding()) << "the later listing is still to come";
  held[1]();
  fs::remove(characters / "Ann");
  EXPECT_EQ(read("BOB"), Bytes(93, 3));
  EXPECT_EQ(read("Ann"), std::nullopt);
  EXPECT_FALSE(cache->Rebuilding());
}

TEST(OpenDataFolderTest, WithoutAFolderToWatchReadsTheFilesStraight) {
  testing::ScratchFolder scratch;
  const fs::path root = scratch.root() / "later";
  EXPECT_EQ(CachedDataFolder::Create(root), nullptr);
  const auto folder = OpenDataFolder(root);
  EXPECT_FALSE(folder->Read(DataKind::kCharacter, "Ann", {}));
  scratch.Write("later/characters/Ann", Bytes(93, 4));
  EXPECT_EQ(Copy(folder->Read(DataKind::kCharacter, "ann", {})), Bytes(93, 4));
}

}  // namespace
}  // namespace quorvane
