// Lines for standard output or standard error that never block the event
// thread: each line is queued (up to a bound, about 1 MiB) and written as far
// as the descriptor takes it without waiting; the rest goes out when the
// descriptor is writable again. A reader that stalls (a paused terminal, a
// pager, a stuck log shipper) costs lines, never service: a line that does
// not fit is dropped and counted, and once the queue has drained a line says
// how many were lost. A descriptor that fails (a full disk, an I/O error, a
// file at its size limit) loses what is queued and each line until writing
// works again; its owner is told when it fails and when it works again.
// While an OutputHold lives, lines only queue: the event loop holds them for
// the length of each event, so that an event's replies reach the kernel
// before its diagnostics, and its lines leave in one write.
#pragma once

#include <QSocketNotifier>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

  // A write failed with `error` (an errno value other than EAGAIN, EINTR or
  // EPIPE), once until writing works again; then `lost` lines are told.
  struct Failures {
    std::function<void(int error)> failed;
    std::function<void(std::uint64_t lost)> recovered;
  };
  void SetFailureReport(Failures failures) { failures_ = std::move(failures); }
  NonBlockingOutput(const NonBlockingOutput&) = delete;
  NonBlockingOutput& operator=(const NonBlockingOutput&) = delete;
  ~NonBlockingOutput();

  // Queues `line`, which ends in its line break, and writes what it can.
  void Write(std::string_view line);
  // Waits up to `timeout` for everything queued to be written; false when
  // some of it was not.
  bool Flush(std::chrono::milliseconds timeout);

  // Lines written during it wait until the outermost hold ends, then every
  // output that got some writes them out. On the event thread only.
  class Hold {
   public:
    Hold() noexcept;
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
  };

  std::size_t Queued() const { return queue_.size() - head_; }
  // Lines dropped since the start: not fitting, not written for a failure,
  // or left for a reader that has gone.
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
  // Drops what is queued, counting its lines as lost.
  void DropQueued();

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
  Failures failures_;
  bool failing_ = false;
  std::uint64_t lostWhileFailing_ = 0;
  bool midLine_ = false;  // a failure cut a line short
  std::unique_ptr<QSocketNotifier> writable_;
  bool held_ = false;  // on the list of outputs a hold keeps waiting
};

// The program's standard output and standard error, made on first use and
// kept to the end of the process.
NonBlockingOutput& StandardOutput();
NonBlockingOutput& StandardError();
// Gives both up to `timeout` in all to write what they hold.
void FlushStandardStreams(std::chrono::milliseconds timeout);

}  // namespace quorvane
