#include "data_file_read.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvane {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

DataFileRead None() {
  return {};
}

DataFileRead Failed(std::string reason) {
  return {.outcome = DataFileRead::Outcome::kFailed, .reason = std::move(reason)};
}

DataFileRead FromErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return None();
  return Failed(std::strerror(error));
}

std::optional<std::string> RealPath(const std::filesystem::path& path, int& error) {
  const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr),
                                                          &::free);
  if (!resolved) {
    error = errno;
    return std::nullopt;
  }
  return std::string(resolved.get());
}

bool Inside(std::string_view path, std::string_view folder) {
  if (folder == "/") return true;
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

bool InsideEither(const std::string& target, const std::filesystem::path& root,
                  const std::filesystem::path& folder) {
  int ignored = 0;
  for (const auto* base : {&root, &folder}) {
    if (const auto canonical = RealPath(*base, ignored); canonical && Inside(target, *canonical)) {
      return true;
    }
  }
  return false;
}

// `target` is canonical: no component of it may be a link by the time it is
// opened, or a link swapped in after the check could lead anywhere.
int OpenWithoutLinks(const std::string& target) {
  open_how how{};
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, AT_FDCWD, target.c_str(), &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
  // A kernel without openat2: the last component at least is no link.
  return ::open(target.c_str(), kOpenFlags | O_NOFOLLOW);
}

}  // namespace

DataFileRead ReadDataFileEntry(const std::filesystem::path& root,
                               const std::filesystem::path& folder, const std::string& name,
                               std::size_t limit, Bytes& into) {
  const std::filesystem::path path = folder / name;
  bool viaLink = false;
  int fd = ::open(path.c_str(), kOpenFlags | O_NOFOLLOW);
  if (fd < 0 && errno == ELOOP) {
    viaLink = true;
    int error = 0;
    const auto target = RealPath(path, error);
    if (!target) return FromErrno(error);
    if (!InsideEither(*target, root, folder))
      return Failed("its link leads out of the data folder");
    fd = OpenWithoutLinks(*target);
  }
  if (fd < 0) return FromErrno(errno);
  const Descriptor file(fd);

  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return FromErrno(errno);
  if (!S_ISREG(status.st_mode)) return None();

  into.resize(limit);
  std::size_t total = 0;
  while (total < limit) {
    const ssize_t got = ::read(file.get(), into.data() + total, limit - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failed(std::strerror(errno));
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  into.resize(total);
  return {.outcome = DataFileRead::Outcome::kRead,
          .reason = {},
          .changesElsewhere = viaLink || status.st_nlink > 1};
}

}  // namespace quorvane
