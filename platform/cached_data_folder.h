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
#pragma once

#include <QSocketNotifier>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "data_file_names.h"
#include "data_files.h"
#include "direct_data_folder.h"

namespace quorvane {

class CachedDataFolder final : public DataFolder {
 public:
  // Nothing when inotify is not to be had, or the data folder cannot be
  // watched.
  static std::unique_ptr<CachedDataFolder> Create(const std::filesystem::path& root);
  ~CachedDataFolder() override;
  CachedDataFolder(const CachedDataFolder&) = delete;
  CachedDataFolder& operator=(const CachedDataFolder&) = delete;

  std::optional<ByteView> Read(DataKind kind, std::string_view name,
                               const Diagnostics& diagnostics) override;
  std::optional<std::string> Find(DataKind kind, std::string_view name) override;

  // Takes in the pending change notifications. Read and Find do so first,
  // once per event; on an event loop, the descriptor's notifier also does as
  // they come.
  void Refresh();

 private:
  struct Entry {
    enum class State { kCached, kReadEachTime, kFailed };
    State state = State::kCached;
    Bytes bytes;         // kCached
    std::string reason;  // kFailed
  };
  struct Folder {
    DataKind kind = DataKind::kCharacter;
    std::filesystem::path path;
    int watch = -1;  // none: read straight from the files
    bool stale = true;
    DataFileIndex index;
    std::unordered_map<std::string, Entry> entries;
    // Names with notifications since the last refresh.
    std::unordered_set<std::string> changed;
  };

  CachedDataFolder(std::filesystem::path root, int inotify);
  // Refresh, once per event: a notification that comes while an event is
  // handled is no older than that event, and a login would otherwise pay a
  // failing read of the descriptor for each of its three lookups.
  void RefreshForLookup();
  void TakeEvents();
  void Rebuild(Folder& folder);
  void RefreshEntry(Folder& folder, const std::string& name);
  void Forget(Folder& folder, const std::string& name);

  std::filesystem::path root_;
  int inotify_;
  int rootWatch_ = -1;
  std::uint64_t refreshedIn_ = 0;  // the event of the last lookup's refresh
  bool rootStale_ = true;
  std::array<Folder, std::size(kDataKinds)> folders_;
  DirectDataFolder direct_;
  Bytes bytes_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// The cache when change notifications are to be had, else direct reads.
std::unique_ptr<DataFolder> OpenDataFolder(const std::filesystem::path& root);

}  // namespace quorvane
