// The boundary between Qt's event loop and the program's handlers. Qt cannot
// carry an exception out of a slot: one that escapes ends the process and
// both players with it. Every handler the event loop calls runs through here,
// and what it wrote to connections goes out when it returns.
#pragma once

#include <exception>
#include <string_view>

#include "platform/loop/end_of_event.h"
#include "platform/loop/escaped_failure.h"

namespace quorvane {

// Runs `body` as one event; an exception it throws is reported and goes no
// further.
template <typename Body>
void RunGuarded(std::string_view where, Body&& body) noexcept {
  const EventScope event;
  try {
    body();
  } catch (const std::exception& failure) {
    ReportEscapedFailure(where, failure.what());
  } catch (...) {
    ReportEscapedFailure(where, "unknown exception");
  }
}

}  // namespace quorvane
