// One of Form1's slots: a session on its socket, with what the host keeps
// about the connection in it.
#pragma once

#include <memory>

#include "clock.h"
#include "data_files.h"
#include "form1.h"
#include "generator.h"
#include "kelvane.hpp"
#include "login_rate_limit.h"
#include "server_socket.h"
#include "socket_control.h"

namespace quorvane {

struct Form1::SessionSlot {
  SessionSlot(SocketControl& socket, const kelvane::Api& cipher, Generator& generator,
              DataFolder& data, int loginRate)
      : socket(socket), session(socket, cipher, generator, data), loginRate(loginRate) {}

  SocketControl& socket;
  ServerSocket session;
  std::unique_ptr<Timer> handshakeDeadline;
  Clock::TimePoint acceptedAt{};
  // Why the host is ending the connection, told with its closed event.
  HostCause closing = HostCause::kNone;
  LoginRateLimit loginRate;
  // Set by the first login the limit drops, until one is admitted again.
  bool loginsDropped = false;
};

}  // namespace quorvane
