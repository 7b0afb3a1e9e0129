// Lines for standard output or standard error that never block the event
// thread: each line is queued (up to a bound, about 1 MiB) and written as far
// as the descriptor takes it without waiting; the rest goes out when the
// descriptor is writable again. A reader that stalls (a paused terminal, a
// pager, a stuck log shipper) costs lines, never service: a line that does
// not fit is dropped and counted, and once the queue has drained a line says
// how many were lost.
#pragma once

#include <QSocketNotifier>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvane {

class NonBlockingOutput {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  // Writes to `fd`, which stays the caller's and open while this lives.
  // `streamName` names it in the note on dropped lines: "quorvane: N lines
  // dropped: <streamName> not read".
  NonBlockingOutput(int fd, std::string streamName, std::size_t capacity = kDefaultCapacity);
  NonBlockingOutput(const NonBlockingOutput&) = delete;
  NonBlockingOutput& operator=(const NonBlockingOutput&) = delete;
  ~NonBlockingOutput();

  // Queues `line`, which ends in its line break, and writes what it can.
  void Write(std::string_view line);
  // Waits up to `timeout` for everything queued to be written; false when
  // some of it was not.
  bool Flush(std::chrono::milliseconds timeout);

  std::size_t Queued() const { return queue_.size() - head_; }
  // Lines dropped since the start.
  std::uint64_t Dropped() const { return dropped_; }

 private:
  enum class Mode {
    kWrite,  // a descriptor of its own in non-blocking mode, or a regular file
    kSend,   // a socket: each send asks not to wait
  };

  void WriteOut();
  // The queued bytes to hand over in one call: whole lines up to PIPE_BUF
  // bytes, which a pipe takes whole or not at all, so that lines written by
  // two streams into one pipe never interleave.
  std::size_t NextChunk() const;
  void WaitForWritable(bool wait);

  int fd_;
  int ownFd_ = -1;         // the reopened descriptor, when there is one
  int restoreFlags_ = -1;  // the shared descriptor's flags before O_NONBLOCK was set
  Mode mode_ = Mode::kWrite;
  std::string streamName_;
  std::size_t capacity_;
  std::string queue_;
  std::size_t head_ = 0;  // bytes of queue_ written already
  std::uint64_t dropped_ = 0;
  std::uint64_t unreported_ = 0;  // dropped lines not told of yet
  std::unique_ptr<QSocketNotifier> writable_;
};

// The program's standard output and standard error, made on first use and
// kept to the end of the process.
NonBlockingOutput& StandardOutput();
NonBlockingOutput& StandardError();
// Gives both up to `timeout` in all to write what they hold.
void FlushStandardStreams(std::chrono::milliseconds timeout);

}  // namespace quorvane
