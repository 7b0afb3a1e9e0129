// The signals an operator sends as ordinary events of the event loop: blocked
// for the whole process and read from a signalfd, so that the program ends,
// or reloads its settings, through its normal path.
//   SIGINT, SIGTERM  end the server
//   SIGHUP           re-read the reloadable settings
#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace quorvane {

class ProcessSignals {
 public:
  struct Handlers {
    // Gets the signal's number (SIGINT or SIGTERM).
    std::function<void(int signal)> terminate;
    std::function<void()> hangUp;
  };

  // Blocks the signals in the calling thread; call first in main, before any
  // thread starts, so that every thread inherits the mask.
  static void Block();

  // Calls the handlers on the event thread for each signal that arrives.
  // Throws std::system_error when no signalfd can be made.
  explicit ProcessSignals(Handlers handlers);
  ProcessSignals(const ProcessSignals&) = delete;
  ProcessSignals& operator=(const ProcessSignals&) = delete;
  ~ProcessSignals();

 private:
  int fd_;
  Handlers handlers_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorvane
