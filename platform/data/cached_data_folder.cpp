#include "platform/data/cached_data_folder.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstddef>
#include <utility>

#include "data_file_read.h"
#include "platform/loop/end_of_event.h"
#include "platform/loop/guarded.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;
// The data folder: characters/ or items/ replaced, or the folder itself moved.
constexpr std::uint32_t kRootMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// characters/ and items/: any entry added, removed, renamed, written or
// changed in its attributes, and the folder itself going.
constexpr std::uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                      IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF |
                                      IN_MOVE_SELF | IN_ONLYDIR;

constexpr int kWorkerNice = 10;

std::size_t IndexOf(DataKind kind) {
  return kind == DataKind::kCharacter ? 0 : 1;
}

// File systems whose files can change on another machine, or behind the
// kernel's back, without an inotify event here.
bool ChangesGoUnseen(const std::filesystem::path& folder) {
  struct statfs system {};
  if (::statfs(folder.c_str(), &system) != 0) return true;
  switch (static_cast<unsigned long>(system.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS
    case 0x73757245:  // Coda
    case 0x01161970:  // GFS2
    case 0x7461636F:  // OCFS2
      return true;
    default:
      return false;
  }
}

}  // namespace

std::unique_ptr<CachedDataFolder> CachedDataFolder::Create(const std::filesystem::path& root,
                                                           Runner runner) {
  const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) return nullptr;
  std::unique_ptr<CachedDataFolder> folder(new CachedDataFolder(root, inotify, std::move(runner)));
  folder->Refresh();
  if (folder->rootWatch_ < 0) return nullptr;
  return folder;
}

CachedDataFolder::CachedDataFolder(std::filesystem::path root, int inotify, Runner runner)
    : root_(std::move(root)),
      inotify_(inotify),
      direct_(root_),
      runner_(std::move(runner)),
      doneEvent_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  for (const DataKind kind : kDataKinds) {
    Folder& folder = folders_[IndexOf(kind)];
    folder.kind = kind;
    folder.path = root_ / DataFolderName(kind);
  }
  if (QCoreApplication::instance() != nullptr) {
    notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
      RunGuarded("reading the data folder's changes", [this] { Refresh(); });
    });
    if (doneEvent_ >= 0) {
      doneNotifier_ = std::make_unique<QSocketNotifier>(doneEvent_, QSocketNotifier::Read);
      QObject::connect(doneNotifier_.get(), &QSocketNotifier::activated, doneNotifier_.get(),
                       [this] {
                         std::uint64_t count = 0;
                         [[maybe_unused]] const auto got = ::read(doneEvent_, &count, sizeof count);
                         RunGuarded("taking in the data folder's new copy", [this] { Refresh(); });
                       });
    }
  }
}

CachedDataFolder::~CachedDataFolder() {
  for (Folder& folder : folders_) {
    if (folder.build) folder.build->cancelled = true;
  }
  for (auto& worker : workers_) worker.second.join();
  doneNotifier_.reset();
  notifier_.reset();
  if (doneEvent_ >= 0) ::close(doneEvent_);
  ::close(inotify_);
}

bool CachedDataFolder::Rebuilding() const {
  for (const Folder& folder : folders_) {
    if (folder.build) return true;
  }
  return false;
}

std::optional<ByteView> CachedDataFolder::Read(DataKind kind, std::string_view name,
                                               const Diagnostics& diagnostics) {
  Refresh();
  Folder& folder = folders_[IndexOf(kind)];
  if (folder.watch < 0 || folder.build) return direct_.Read(kind, name, diagnostics);
  const auto key = DataFileKey(name);
  if (!key) return std::nullopt;
  const auto found = folder.index.Find(*key);
  if (!found) return std::nullopt;
  const std::string entryName(*found);
  const Entry& entry = folder.entries.at(entryName);
  switch (entry.state) {
    case Entry::State::kCached:
      return ByteView(entry.bytes);
    case Entry::State::kFailed:
      Report(diagnostics, DataFileReport(kind, (folder.path / entryName).string(), entry.reason));
      return std::nullopt;
    case Entry::State::kReadEachTime:
      break;
  }
  const DataFileRead read =
      ReadDataFileEntry(root_, folder.path, entryName, DataFileReadLimit(kind), bytes_);
  if (read.outcome == DataFileRead::Outcome::kRead) return ByteView(bytes_);
  if (read.outcome == DataFileRead::Outcome::kFailed) {
    Report(diagnostics, DataFileReport(kind, (folder.path / entryName).string(), read.reason));
  }
  return std::nullopt;
}

std::optional<std::string> CachedDataFolder::Find(DataKind kind, std::string_view name) {
  Refresh();
  Folder& folder = folders_[IndexOf(kind)];
  if (folder.watch < 0 || folder.build) return direct_.Find(kind, name);
  const auto key = DataFileKey(name);
  if (!key) return std::nullopt;
  const auto found = folder.index.Find(*key);
  if (!found) return std::nullopt;
  return std::string(*found);
}

void CachedDataFolder::Refresh() {
  // Outside any event (start-up, a test by hand), every lookup reads.
  const std::uint64_t event = CurrentEventNumber();
  if (event == 0 || event != eventsTakenIn_) {
    TakeEvents();
    eventsTakenIn_ = event;
  }
  // Unwatched, the data folder is tried again at each lookup, one failing
  // call while it stays so.
  if (rootStale_ || rootWatch_ < 0) {
    rootStale_ = false;
    if (rootWatch_ >= 0) ::inotify_rm_watch(inotify_, rootWatch_);
    rootWatch_ = ::inotify_add_watch(inotify_, root_.c_str(), kRootMask);
    for (Folder& folder : folders_) folder.stale = true;
  }
  for (Folder& folder : folders_) {
    if (folder.build && folder.build->done) Adopt(folder);
    if (folder.stale) StartBuild(folder);
    // While a build is under way, its changes wait for it.
    if (folder.build) continue;
    for (const std::string& name : folder.changed) RefreshEntry(folder, name);
    folder.changed.clear();
  }
  // Watched only while a worker may count it up: every descriptor the event
  // loop watches costs each of its waits a little.
  if (doneNotifier_) doneNotifier_->setEnabled(Rebuilding());
}

void CachedDataFolder::TakeEvents() {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
    if (got <= 0) return;  // EAGAIN: nothing more pending
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += sizeof(inotify_event) + event->len;
      const std::string name = event->len > 0 ? std::string(event->name) : std::string();
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        rootStale_ = true;
      } else if (event->wd == rootWatch_) {
        if ((event->mask & kGone) != 0) rootStale_ = true;
        for (Folder& folder : folders_) {
          if (name == DataFolderName(folder.kind)) folder.stale = true;
        }
      } else {
        for (Folder& folder : folders_) {
          if (event->wd != folder.watch) continue;
          // The folder itself went, or changed its own attributes.
          if ((event->mask & kGone) != 0 || name.empty()) {
            folder.stale = true;
          } else {
            folder.changed.insert(name);
          }
        }
      }
    }
  }
}

void CachedDataFolder::StartBuild(Folder& folder) {
  folder.stale = false;
  // A build under way lists the folder as it was: its result is let go.
  if (folder.build) folder.build->cancelled = true;
  folder.build.reset();
  if (folder.watch >= 0) ::inotify_rm_watch(inotify_, folder.watch);
  folder.watch = -1;
  // The old copy goes on the worker, not here: freeing 100,000 entries takes
  // a while too.
  auto build = std::make_shared<Build>();
  build->retiredIndex = std::exchange(folder.index, {});
  build->retiredEntries = std::exchange(folder.entries, {});
  folder.changed.clear();
  if (rootWatch_ < 0) return;
  // Watched before it is listed: a change while it is listed is not missed,
  // but kept in `changed` for when the build is done.
  folder.watch = ::inotify_add_watch(inotify_, folder.path.c_str(), kFolderMask);
  if (folder.watch < 0) return;
  build->root = root_;
  build->path = folder.path;
  build->kind = folder.kind;
  folder.build = build;
  auto job = [build, doneEvent = doneEvent_] {
    RunBuild(*build);
    build->done = true;
    const std::uint64_t one = 1;
    if (doneEvent >= 0) [[maybe_unused]]
      const auto put = ::write(doneEvent, &one, sizeof one);
  };
  if (runner_) {
    runner_(std::move(job));
    return;
  }
  // Workers that are done are joined here (at once), the rest at the end.
  std::erase_if(workers_, [](auto& worker) {
    if (!worker.first->done) return false;
    worker.second.join();
    return true;
  });
  workers_.emplace_back(build, std::thread(std::move(job)));
}

void CachedDataFolder::Adopt(Folder& folder) {
  const std::shared_ptr<Build> build = std::move(folder.build);
  if (!build->listed) {
    ::inotify_rm_watch(inotify_, folder.watch);
    folder.watch = -1;
    folder.changed.clear();
    return;
  }
  folder.index = std::move(build->index);
  folder.entries = std::move(build->entries);
}

void CachedDataFolder::RunBuild(Build& build) {
  // The event thread comes first on a busy machine.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice);
  build.retiredIndex.Clear();
  build.retiredEntries.clear();
  build.listed =
      !ChangesGoUnseen(build.path) && ForEachDataFileName(build.path, [&](const std::string& name) {
        if (build.cancelled) return;
        if (name.empty() || name.front() == '.') return;
        if (std::optional<Entry> entry = LoadEntry(build.root, build.path, build.kind, name)) {
          build.entries.insert_or_assign(name, std::move(*entry));
          build.index.Add(name);
        }
      });
}

std::optional<CachedDataFolder::Entry> CachedDataFolder::LoadEntry(
    const std::filesystem::path& root, const std::filesystem::path& folder, DataKind kind,
    const std::string& name) {
  struct stat status {};
  const std::filesystem::path path = folder / name;
  if (::fstatat(AT_FDCWD, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !(S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))) {
    return std::nullopt;
  }
  Entry entry;
  if (S_ISLNK(status.st_mode)) {
    entry.state = Entry::State::kReadEachTime;
  } else {
    const DataFileRead read =
        ReadDataFileEntry(root, folder, name, DataFileReadLimit(kind), entry.bytes);
    switch (read.outcome) {
      case DataFileRead::Outcome::kNone:
        // Replaced since the fstatat; its own notification follows.
        return std::nullopt;
      case DataFileRead::Outcome::kFailed:
        entry.state = Entry::State::kFailed;
        entry.reason = read.reason;
        break;
      case DataFileRead::Outcome::kRead:
        if (read.changesElsewhere) entry.state = Entry::State::kReadEachTime;
        break;
    }
  }
  if (entry.state != Entry::State::kCached) entry.bytes = {};
  return entry;
}

void CachedDataFolder::RefreshEntry(Folder& folder, const std::string& name) {
  if (name.empty() || name.front() == '.') return;
  std::optional<Entry> entry = LoadEntry(root_, folder.path, folder.kind, name);
  if (!entry) {
    Forget(folder, name);
    return;
  }
  folder.entries.insert_or_assign(name, std::move(*entry));
  folder.index.Add(name);
}

void CachedDataFolder::Forget(Folder& folder, const std::string& name) {
  folder.index.Remove(name);
  folder.entries.erase(name);
}

std::unique_ptr<DataFolder> OpenDataFolder(const std::filesystem::path& root) {
  if (auto cached = CachedDataFolder::Create(root)) return cached;
  return std::make_unique<DirectDataFolder>(root);
}

}  // namespace quorvane
