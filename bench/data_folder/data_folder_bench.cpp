// What a login's lookups cost with 10 and with 100,000 files in characters/:
// read straight from the files, and through the inotify-kept cache. Exact
// names, names that differ in case (the index), and names with no file.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/data/cached_data_folder.h"
#include "platform/data/direct_data_folder.h"
#include "session/data_files.h"

namespace {

namespace fs = std::filesystem;
using quorvane::DataKind;

// A data folder with `count` characters, the first ten with an item file,
// removed at the end of the run. It lies under TMPDIR (default /tmp):
// creating 100,000 files takes minutes on a busy disk, seconds on tmpfs.
class BenchFolder {
 public:
  explicit BenchFolder(int count) {
    std::string pattern = (fs::temp_directory_path() / "quorvane-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    fs::create_directory(root_ / "characters");
    fs::create_directory(root_ / "items");
    const std::string record(93, '\x01');
    const std::string items(128, '\x02');
    for (int i = 0; i < count; ++i) {
      std::ofstream(root_ / "characters" / Name(i), std::ios::binary) << record;
      if (i < 10) std::ofstream(root_ / "items" / Name(i), std::ios::binary) << items;
    }
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  static std::string Name(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "Char%06d", i);
    return name;
  }
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

const BenchFolder& FolderOf(int count) {
  static std::map<int, std::unique_ptr<BenchFolder>> folders;
  auto& folder = folders[count];
  if (!folder) folder = std::make_unique<BenchFolder>(count);
  return *folder;
}

std::unique_ptr<quorvane::DataFolder> Open(bool cached, const fs::path& root) {
  if (!cached) return std::make_unique<quorvane::DirectDataFolder>(root);
  auto cache = quorvane::CachedDataFolder::Create(root);
  if (!cache) throw std::runtime_error("no inotify here");
  // Timed once its copy is in: until then lookups read the files.
  while (cache->Rebuilding()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cache->Refresh();
  }
  return cache;
}

// One login's reads: the character file and the item file of `name`.
void Login(benchmark::State& run, bool cached, const std::string& name) {
  const int count = static_cast<int>(run.range(0));
  const auto folder = Open(cached, FolderOf(count).root());
  for (auto _ : run) {
    const auto character = folder->Read(DataKind::kCharacter, name, {});
    const auto items = folder->Read(DataKind::kItems, name, {});
    benchmark::DoNotOptimize(character);
    benchmark::DoNotOptimize(items);
  }
  run.counters["files"] = count;
}

void Register(const char* what, const std::string& name) {
  for (const bool cached : {false, true}) {
    const std::string label = std::string(what) + (cached ? "/cached" : "/direct");
    benchmark::RegisterBenchmark(
        label.c_str(), [cached, name](benchmark::State& run) { Login(run, cached, name); })
        ->Arg(10)
        ->Arg(100000)
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register("LoginExactName", BenchFolder::Name(5));
  Register("LoginOtherCase", "CHAR000005");
  Register("LoginNoFile", "Nobody");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
