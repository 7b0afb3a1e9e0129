// The data folder held in memory: the names of characters/ and items/ (for
// the exact and the case-insensitive lookup) and the bytes a login reads of
// each file, kept current by inotify. An operator's edit is served at the
// next login, and a login makes no file system call beyond one read of the
// inotify descriptor that finds nothing pending (EAGAIN): every change
// completed before the lookup is already queued there, so draining it first
// means no lookup is served from a stale copy.
//
// Files that can change without an event on their folder are read at each
// lookup: those reached through a symbolic link and those with other hard
// links. A folder that cannot be watched, or lies on a network file system
// whose changes elsewhere raise no event here, is read straight from its
// files.
//
// Listing and reading a whole folder (at the start, or after the folder was
// touched, moved or changes were lost) happens on a worker thread, never on
// the event thread: until the new copy is swapped in, that folder's lookups
// read the files directly, so they are served correctly meanwhile.
#pragma once

#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/data/direct_data_folder.h"
#include "session/data_file_names.h"
#include "session/data_files.h"

namespace quorvane {

class CachedDataFolder final : public DataFolder {
 public:
  // Runs a folder's build somewhere off the event thread; an empty one runs
  // each on a thread of its own.
  using Runner = std::function<void(std::function<void()> build)>;

  // Nothing when inotify is not to be had, or the data folder cannot be
  // watched.
  static std::unique_ptr<CachedDataFolder> Create(const std::filesystem::path& root,
                                                  Runner runner = {});
  ~CachedDataFolder() override;
  CachedDataFolder(const CachedDataFolder&) = delete;
  CachedDataFolder& operator=(const CachedDataFolder&) = delete;

  std::optional<ByteView> Read(DataKind kind, std::string_view name,
                               const Diagnostics& diagnostics) override;
  std::optional<std::string> Find(DataKind kind, std::string_view name) override;

  // Takes in the pending change notifications. Read does so first by itself;
  // on an event loop, the descriptor's notifier also does as they come.
  void Refresh();
  // Whether a folder is being listed afresh (and read directly meanwhile).
  bool Rebuilding() const;

 private:
  struct Entry {
    enum class State { kCached, kReadEachTime, kFailed };
    State state = State::kCached;
    Bytes bytes;         // kCached
    std::string reason;  // kFailed
  };
  using Entries = std::unordered_map<std::string, Entry>;
  // A folder's new copy, made on a worker; handed back once `done`.
  struct Build {
    std::filesystem::path root;
    std::filesystem::path path;
    DataKind kind = DataKind::kCharacter;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> done{false};
    bool listed = false;
    DataFileIndex index;
    Entries entries;
    // The copy this one replaces, freed on the worker.
    DataFileIndex retiredIndex;
    Entries retiredEntries;
  };
  struct Folder {
    DataKind kind = DataKind::kCharacter;
    std::filesystem::path path;
    int watch = -1;  // none: read straight from the files
    bool stale = true;
    DataFileIndex index;
    Entries entries;
    // Names with notifications since the last refresh (or since the build
    // under way began).
    std::unordered_set<std::string> changed;
    std::shared_ptr<Build> build;  // under way; lookups go to the files
  };

  CachedDataFolder(std::filesystem::path root, int inotify, Runner runner);
  void TakeEvents();
  void StartBuild(Folder& folder);
  void Adopt(Folder& folder);
  void RefreshEntry(Folder& folder, const std::string& name);
  void Forget(Folder& folder, const std::string& name);
  // Lists and reads the folder of `build`; on a worker.
  static void RunBuild(Build& build);
  // The entry `name` of `folder` as it stands; nothing when it is none.
  static std::optional<Entry> LoadEntry(const std::filesystem::path& root,
                                        const std::filesystem::path& folder, DataKind kind,
                                        const std::string& name);

  std::filesystem::path root_;
  int inotify_;
  int rootWatch_ = -1;
  bool rootStale_ = true;
  // The event whose notifications were last taken: the kernel queues a
  // change's notification before the write that made it returns, so one
  // read per event sees every change made before the event began.
  std::uint64_t eventsTakenIn_ = 0;
  std::array<Folder, std::size(kDataKinds)> folders_;
  DirectDataFolder direct_;
  Bytes bytes_;
  std::unique_ptr<QSocketNotifier> notifier_;
  Runner runner_;
  int doneEvent_ = -1;  // an eventfd the workers count up when done
  std::unique_ptr<QSocketNotifier> doneNotifier_;
  std::vector<std::pair<std::shared_ptr<Build>, std::thread>> workers_;
};

// The cache when change notifications are to be had, else direct reads.
std::unique_ptr<DataFolder> OpenDataFolder(const std::filesystem::path& root);

}  // namespace quorvane
