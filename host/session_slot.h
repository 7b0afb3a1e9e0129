// One of Form1's slots: a session on its socket, with what the host keeps
// about the connection in it.
#pragma once

#include <filesystem>
#include <memory>

#include "clock.h"
#include "form1.h"
#include "generator.h"
#include "kelvane.hpp"
#include "server_socket.h"
#include "socket_control.h"

namespace quorvane {

struct Form1::SessionSlot {
  SessionSlot(SocketControl& socket, const kelvane::Api& cipher, Generator& generator,
              const std::filesystem::path& dataDir)
      : socket(socket), session(socket, cipher, generator, dataDir) {}

  SocketControl& socket;
  ServerSocket session;
  std::unique_ptr<Timer> handshakeDeadline;
  Clock::TimePoint acceptedAt{};
  // Why the host is ending the connection, told with its closed event.
  HostCause closing = HostCause::kNone;
  // The current connection has logged in: its name block and character are
  // its own, not those a previous connection left in the slot.
  bool loggedIn = false;
};

}  // namespace quorvane
