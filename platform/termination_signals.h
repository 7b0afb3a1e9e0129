// SIGINT and SIGTERM as ordinary events of the event loop: blocked for the
// whole process and read from a signalfd, so that the program ends through
// its normal path.
#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace quorvane {

class TerminationSignals {
 public:
  // Blocks both signals in the calling thread; call first in main, before
  // any thread starts, so that every thread inherits the mask.
  static void Block();

  // Calls `onSignal` on the event thread for each signal that arrives. Throws
  // std::system_error when no signalfd can be made.
  explicit TerminationSignals(std::function<void()> onSignal);
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;
  ~TerminationSignals();

 private:
  int fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorvane
