#include "platform/loop/end_of_event.h"

#include <QCoreApplication>
#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "platform/loop/escaped_failure.h"
#include "platform/output/non_blocking_output.h"

namespace quorvane {
namespace {

// The event thread's: handlers never run on any other.
struct Waiting {
  std::vector<PendingOutput*> outputs;
  int depth = 0;
  bool posted = false;
  std::uint64_t events = 0;   // outermost events begun
  std::uint64_t current = 0;  // the one being handled, or 0
  // Standard error and the log file wait for the sends.
  std::optional<NonBlockingOutput::Hold> lines;
};

Waiting& Current() {
  static Waiting waiting;
  return waiting;
}

void FlushOne(PendingOutput& output) noexcept {
  try {
    output.Flush();
  } catch (const std::exception& failure) {
    ReportEscapedFailure("a send", failure.what());
  } catch (...) {
    ReportEscapedFailure("a send", "unknown exception");
  }
}

// An event of its own that only flushes.
void PostFlush() {
  Waiting& waiting = Current();
  if (waiting.posted) return;
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr) {
    const EventScope flushNow;
    return;
  }
  waiting.posted = true;
  QMetaObject::invokeMethod(
      application,
      [] {
        Current().posted = false;
        const EventScope flush;
      },
      Qt::QueuedConnection);
}

}  // namespace

void FlushAtEndOfEvent(PendingOutput& output) {
  Waiting& waiting = Current();
  if (std::find(waiting.outputs.begin(), waiting.outputs.end(), &output) != waiting.outputs.end()) {
    return;
  }
  waiting.outputs.push_back(&output);
  if (waiting.depth == 0) PostFlush();
}

void CancelFlush(PendingOutput& output) {
  std::erase(Current().outputs, &output);
}

std::uint64_t CurrentEventNumber() {
  return Current().current;
}

EventScope::EventScope() noexcept {
  Waiting& waiting = Current();
  if (++waiting.depth == 1) {
    waiting.current = ++waiting.events;
    waiting.lines.emplace();
  }
}

// Still inside the scope while flushing, so that what the flushes write joins
// this list instead of waiting for a pass of its own. The list is popped one
// at a time: a flush may end, and so cancel, another output on it.
EventScope::~EventScope() {
  Waiting& waiting = Current();
  if (waiting.depth == 1) {
    while (!waiting.outputs.empty()) {
      PendingOutput* next = waiting.outputs.front();
      waiting.outputs.erase(waiting.outputs.begin());
      FlushOne(*next);
    }
    waiting.lines.reset();
  }
  if (--waiting.depth == 0) waiting.current = 0;
}

}  // namespace quorvane
