// What the host publishes about its connections, for whoever watches them: a
// status view, metrics. Slots are numbered from 0 (slot 0 logs as Server1).
// Each notification runs on the event thread while the host handles the
// event, so an observer must not block; it may leave any of them out.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

#include "socket_control.h"

namespace quorvane {

class ConnectionObserver {
 public:
  virtual ~ConnectionObserver() = default;

  // A connection request took `slot`; `peer` is "ADDR:PORT", empty when the
  // socket does not know it.
  virtual void ConnectionAccepted(std::size_t /*slot*/, std::string_view /*peer*/) {}
  // A connection request found every slot taken.
  virtual void ConnectionRefused() {}
  virtual void HandshakeDone(std::size_t /*slot*/) {}
  // See ServerSocket::LoggedInHandler.
  virtual void LoggedIn(std::size_t /*slot*/, std::string_view /*fileName*/,
                        bool /*characterFound*/) {}
  // The connection in `slot` ended, `lasted` after it was accepted.
  virtual void ConnectionClosed(std::size_t /*slot*/, CloseReason /*reason*/,
                                std::chrono::milliseconds /*lasted*/) {}
};

}  // namespace quorvane
