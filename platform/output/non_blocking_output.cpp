#include "platform/output/non_blocking_output.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

struct Holding {
  int depth = 0;
  std::vector<NonBlockingOutput*> outputs;
};

// Never destroyed, as the standard streams are not.
Holding& Holds() {
  static Holding* const holding = new Holding;
  return *holding;
}

}  // namespace

NonBlockingOutput::Hold::Hold() noexcept {
  ++Holds().depth;
}

NonBlockingOutput::Hold::~Hold() {
  Holding& holding = Holds();
  if (--holding.depth > 0) return;
  for (NonBlockingOutput* output : std::exchange(holding.outputs, {})) {
    output->held_ = false;
    output->WriteOut();
  }
}

NonBlockingOutput::NonBlockingOutput(int fd, std::string streamName, std::size_t capacity)
    : fd_(fd), streamName_(std::move(streamName)), capacity_(capacity) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return;
  if (S_ISSOCK(status.st_mode)) {
    mode_ = Mode::kSend;
  } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
    // A pipe or a terminal is shared with other processes (the shell, the
    // rest of a pipeline): a description of our own keeps O_NONBLOCK from
    // reaching them.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    ownFd_ = ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (ownFd_ >= 0) {
      fd_ = ownFd_;
    } else if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0 && !(flags & O_NONBLOCK)) {
      if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) restoreFlags_ = flags;
    }
  }
}

NonBlockingOutput::~NonBlockingOutput() {
  // What a hold kept back goes out now, as far as the descriptor takes it:
  // a log file reopened during an event keeps that event's lines.
  if (held_) {
    std::erase(Holds().outputs, this);
    WriteOut();
  }
  writable_.reset();
  if (ownFd_ >= 0) ::close(ownFd_);
  if (restoreFlags_ >= 0) ::fcntl(fd_, F_SETFL, restoreFlags_);
}

void NonBlockingOutput::Write(std::string_view line) {
  if (failing_ && midLine_ && Queued() == 0) {
    // The line a failure cut short is ended before the next one.
    queue_ = "\n";
    head_ = 0;
  }
  if (Queued() + line.size() > capacity_) {
    WriteOut();
    if (Queued() + line.size() > capacity_) {
      ++dropped_;
      ++unreported_;
      return;
    }
  }
  if (head_ > 0 && head_ >= queue_.size() / 2) {
    queue_.erase(0, head_);
    head_ = 0;
  }
  queue_.append(line);
  if (Holds().depth > 0) {
    if (!std::exchange(held_, true)) Holds().outputs.push_back(this);
    return;
  }
  WriteOut();
}

bool NonBlockingOutput::Flush(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    WriteOut();
    if (Queued() == 0 && unreported_ == 0) return true;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd writable{.fd = fd_, .events = POLLOUT, .revents = 0};
    const int ready = ::poll(&writable, 1, static_cast<int>(left.count()));
    if (ready == 0 || (ready < 0 && errno != EINTR)) return false;
  }
}

void NonBlockingOutput::WriteOut() {
  for (;;) {
    if (Queued() == 0) {
      queue_.clear();
      head_ = 0;
      if (unreported_ == 0) {
        WaitForWritable(false);
        return;
      }
      queue_ = "quorvane: " + std::to_string(unreported_) + " lines dropped: " + streamName_ +
               " not read\n";
      unreported_ = 0;
    }
    const char* start = queue_.data() + head_;
    const std::size_t chunk = NextChunk();
    const ssize_t written = mode_ == Mode::kSend
                                ? ::send(fd_, start, chunk, MSG_DONTWAIT | MSG_NOSIGNAL)
                                : ::write(fd_, start, chunk);
    if (written > 0) {
      head_ += static_cast<std::size_t>(written);
      midLine_ = false;
      if (failing_) {
        failing_ = false;
        if (failures_.recovered) failures_.recovered(std::exchange(lostWhileFailing_, 0));
      }
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitForWritable(true);
      return;
    }
    if (written < 0 && errno != EPIPE && errno != ECONNRESET) {
      // A full disk, an I/O error, a file at its size limit: what is queued
      // is lost, and each line tries again.
      const int error = errno;
      if (head_ > 0) midLine_ = queue_[head_ - 1] != '\n';
      DropQueued();
      if (!failing_) {
        failing_ = true;
        if (failures_.failed) failures_.failed(error);
      }
      WaitForWritable(false);
      return;
    }
    // The reader is gone for good: nobody is left to read what is queued,
    // nor a note about it.
    DropQueued();
    unreported_ = 0;
    lostWhileFailing_ = 0;
    WaitForWritable(false);
    return;
  }
}

void NonBlockingOutput::DropQueued() {
  const std::string_view queued = std::string_view(queue_).substr(head_);
  auto lines = static_cast<std::uint64_t>(std::count(queued.begin(), queued.end(), '\n')) +
               (queued.empty() || queued.back() == '\n' ? 0 : 1);
  // The line break that was to end a line cut short is no line of its own.
  if (midLine_ && head_ == 0 && queued.starts_with('\n')) --lines;
  dropped_ += lines;
  lostWhileFailing_ += lines;
  queue_.clear();
  head_ = 0;
}

std::size_t NonBlockingOutput::NextChunk() const {
  const std::string_view queued = std::string_view(queue_).substr(head_);
  if (queued.size() <= PIPE_BUF) return queued.size();
  if (const auto end = queued.substr(0, PIPE_BUF).rfind('\n'); end != std::string_view::npos) {
    return end + 1;
  }
  const auto end = queued.find('\n');
  return end == std::string_view::npos ? queued.size() : end + 1;
}

void NonBlockingOutput::WaitForWritable(bool wait) {
  // Without an event loop, what is queued waits for the next line or Flush.
  if (QCoreApplication::instance() == nullptr) return;
  if (!wait) {
    if (writable_) writable_->setEnabled(false);
    return;
  }
  if (!writable_) {
    writable_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
    QObject::connect(writable_.get(), &QSocketNotifier::activated, writable_.get(),
                     [this] { WriteOut(); });
  }
  writable_->setEnabled(true);
}

// Never destroyed: diagnostics may come up to the very end of the process.
NonBlockingOutput& StandardOutput() {
  static NonBlockingOutput* const output = new NonBlockingOutput(STDOUT_FILENO, "standard output");
  return *output;
}

NonBlockingOutput& StandardError() {
  static NonBlockingOutput* const output = new NonBlockingOutput(STDERR_FILENO, "standard error");
  return *output;
}

void FlushStandardStreams(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  StandardOutput().Flush(timeout);
  StandardError().Flush(
      std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 deadline - std::chrono::steady_clock::now())));
}

}  // namespace quorvane
