#include "platform/data/direct_data_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "data_file_read.h"

namespace quorvane {
namespace {

// Time stamps of some file systems are this coarse: a listing made this soon
// after the folder changed may miss a change stamped with the same time.
constexpr std::chrono::seconds kTimeStampGrain{2};

std::chrono::nanoseconds AsDuration(const timespec& time) {
  return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

bool SameFolder(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

struct CloseListing {
  void operator()(DIR* listing) const { ::closedir(listing); }
};

std::size_t IndexOf(DataKind kind) {
  return kind == DataKind::kCharacter ? 0 : 1;
}

}  // namespace

bool ForEachDataFileName(const std::filesystem::path& folder,
                         const std::function<void(const std::string& name)>& take) {
  const std::unique_ptr<DIR, CloseListing> listing(::opendir(folder.c_str()));
  if (!listing) return false;
  while (const dirent* entry = ::readdir(listing.get())) {
    if (entry->d_name[0] == '.') continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat status {};
      if (::fstatat(::dirfd(listing.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;
      }
      type = S_ISREG(status.st_mode) ? DT_REG : S_ISLNK(status.st_mode) ? DT_LNK : DT_UNKNOWN;
    }
    if (type == DT_REG || type == DT_LNK) take(entry->d_name);
  }
  return true;
}

DirectDataFolder::DirectDataFolder(std::filesystem::path root) : root_(std::move(root)) {}

std::optional<ByteView> DirectDataFolder::Read(DataKind kind, std::string_view name,
                                               const Diagnostics& diagnostics) {
  const auto key = DataFileKey(name);
  if (!key) return std::nullopt;
  const std::string exact(*key);
  bool none = false;
  if (auto bytes = ReadEntry(kind, exact, diagnostics, none); bytes || !none) return bytes;

  FolderNames& names = names_[IndexOf(kind)];
  if (!Update(names, root_ / DataFolderName(kind))) return std::nullopt;
  const auto found = names.index.Find(exact);
  if (!found || *found == exact) return std::nullopt;
  return ReadEntry(kind, std::string(*found), diagnostics, none);
}

std::optional<std::string> DirectDataFolder::Find(DataKind kind, std::string_view name) {
  const auto key = DataFileKey(name);
  if (!key) return std::nullopt;
  const std::string exact(*key);
  struct stat entry {};
  if (::lstat((root_ / DataFolderName(kind) / exact).c_str(), &entry) == 0) return exact;
  FolderNames& names = names_[IndexOf(kind)];
  if (!Update(names, root_ / DataFolderName(kind))) return std::nullopt;
  const auto found = names.index.Find(exact);
  if (!found) return std::nullopt;
  return std::string(*found);
}

std::optional<ByteView> DirectDataFolder::ReadEntry(DataKind kind, const std::string& name,
                                                    const Diagnostics& diagnostics, bool& none) {
  const std::filesystem::path folder = root_ / DataFolderName(kind);
  const DataFileRead read = ReadDataFileEntry(root_, folder, name, DataFileReadLimit(kind), bytes_);
  none = read.outcome == DataFileRead::Outcome::kNone;
  if (read.outcome == DataFileRead::Outcome::kRead) return ByteView(bytes_);
  if (read.outcome == DataFileRead::Outcome::kFailed) {
    Report(diagnostics, DataFileReport(kind, (folder / name).string(), read.reason));
  }
  return std::nullopt;
}

bool DirectDataFolder::Update(FolderNames& names, const std::filesystem::path& folder) {
  struct stat now {};
  if (::stat(folder.c_str(), &now) != 0) {
    names.index.Clear();
    names.current = false;
    return false;
  }
  if (names.current && SameFolder(now, names.listed)) return true;

  timespec listedAt{};
  ::clock_gettime(CLOCK_REALTIME, &listedAt);
  names.index.Clear();
  names.current =
      ForEachDataFileName(folder, [&](const std::string& name) { names.index.Add(name); }) &&
      AsDuration(now.st_mtim) + kTimeStampGrain < AsDuration(listedAt);
  names.listed = now;
  return true;
}

}  // namespace quorvane
