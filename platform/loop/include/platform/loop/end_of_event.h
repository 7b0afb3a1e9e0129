// Output written while one event is handled goes out when that event's
// handler returns: one send per connection however many packets the handler
// wrote to it, and a packet relayed to the other player leaves in the same
// pass as the answer to its writer. The lines the event wrote to standard
// error and the log file follow its sends, in one write each. Every handler
// the event loop calls runs inside an EventScope (RunGuarded holds one), on
// the one event thread.
#pragma once

#include <cstdint>

namespace quorvane {

// A connection whose written bytes wait for the end of the event.
class PendingOutput {
 public:
  // Hands what waits to the kernel; may end the connection and report it.
  virtual void Flush() = 0;

 protected:
  ~PendingOutput() = default;
};

// Flushes `output` once, when the outermost event being handled ends; outside
// any event (start-up, a test driving a connection by hand) at the next pass
// of the event loop.
void FlushAtEndOfEvent(PendingOutput& output);
// Takes `output` off the list: it ended, or goes away.
void CancelFlush(PendingOutput& output);

// The outermost event being handled, numbered from 1; 0 outside any event.
std::uint64_t CurrentEventNumber();

// The span of one event's handler. When the outermost scope ends it flushes
// every output written to in it, including those written to by the flushes
// themselves (a closed handler that tells the other player).
class EventScope {
 public:
  EventScope() noexcept;
  ~EventScope();
  EventScope(const EventScope&) = delete;
  EventScope& operator=(const EventScope&) = delete;
};

}  // namespace quorvane
