// Waiting in tests that run the server's Qt event loop on their own thread:
// every wait keeps processing events.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>

namespace quorvane::testing {

// Runs the event loop until `done` holds; false when it did not in time.
inline bool SpinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs the event loop for `duration`.
inline void SpinFor(std::chrono::milliseconds duration) {
  SpinUntil([] { return false; }, duration);
}

}  // namespace quorvane::testing
