// One of Form1's slots: a session on its socket, with what the host keeps
// about the connection in it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/address_range.h"
#include "host/clock.h"
#include "host/form1.h"
#include "host/login_rate_limit.h"
#include "host/relay_budget.h"
#include "kelvane.hpp"
#include "session/data_files.h"
#include "session/generator.h"
#include "session/server_socket.h"
#include "session/socket_control.h"

namespace quorvane {

struct Form1::SessionSlot {
  SessionSlot(SocketControl& socket, const kelvane::Api& cipher, Generator& generator,
              DataFolder& data, RelayRates relayRates, int loginRate)
      : socket(socket),
        session(socket, cipher, generator, data),
        relayBudget(relayRates),
        loginRate(loginRate) {}

  SocketControl& socket;
  ServerSocket session;
  std::unique_ptr<Timer> handshakeDeadline;
  std::unique_ptr<Timer> loginDeadline;
  std::unique_ptr<Timer> idleDeadline;
  Clock::TimePoint acceptedAt{};
  // When the client last sent anything; kept only with an idle timeout.
  Clock::TimePoint lastHeard{};
  // The peer's address; nothing when the listener could not tell it.
  std::optional<IpAddress> address;
  // "slot N ADDR:PORT", what the connection's reports are about.
  std::string subject;
  // The character file of the latest login, empty when it had none.
  std::string characterFile;
  RelayBudget relayBudget;
  // Why the host is ending the connection, told with its closed event.
  HostCause closing = HostCause::kNone;
  // The current connection has logged in: its name block and character are
  // its own, not those a previous connection left in the slot.
  bool loggedIn = false;
  LoginRateLimit loginRate;
  // Set by the first login the limit drops, until one is admitted again.
  bool loginsDropped = false;
};

}  // namespace quorvane
