// The life of each connection as lines for the operator: accepted, logged
// in, closed and why, refused, banned, relayed packets dropped. A burst
// stays a few lines: refusals of one address are written once a minute with
// a count of the others, a ban once, and drops as one summary per second.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "host/clock.h"
#include "host/connection_observer.h"
#include "host/form1.h"
#include "session/diagnostics.h"

namespace quorvane {

class ConnectionDiagnostics final : public ConnectionObserver {
 public:
  // How long the refusals of one address after a written one stay quiet.
  static constexpr std::chrono::seconds kRefusalQuiet{60};
  // How often drops are summed up at most.
  static constexpr std::chrono::seconds kDropSummary{1};
  // Addresses whose quiet refusals are kept apart at most; beyond them the
  // refusals of new addresses are summed up together.
  static constexpr std::size_t kMaxQuietAddresses = 4096;

  // `settings` gives the limits the lines name; it must outlive this.
  ConnectionDiagnostics(Clock& clock, Diagnostics report, const HostSettings& settings);

  void ConnectionAccepted(std::size_t slot, std::string_view peer) override;
  void ConnectionRefused(std::string_view peer, RefusalReason reason) override;
  void AddressBanned(std::string_view address, BanReason reason,
                     std::chrono::milliseconds duration) override;
  void LoggedIn(std::size_t slot, std::string_view fileName, bool characterFound) override;
  void ConnectionClosed(std::size_t slot, CloseReason reason, HostCause cause,
                        std::chrono::milliseconds lasted) override;
  void RelayDropped(std::size_t fromSlot, std::size_t toSlot, std::int16_t opcode,
                    DropReason reason) override;

 private:
  struct QuietRefusals {
    std::optional<Clock::TimePoint> written;
    std::size_t unwritten = 0;
  };
  struct Drops {
    std::string sender;
    std::size_t backPressure = 0;
    std::size_t rateLimit = 0;
  };

  void Write(Severity severity, std::string_view subject, std::string_view message);
  // The entry that keeps `address`'s refusals quiet; null when there is no
  // room for another.
  QuietRefusals* QuietFor(const std::string& address, Clock::TimePoint now);
  std::string CloseText(CloseReason reason, HostCause cause) const;
  std::string RefusalText(RefusalReason reason) const;
  void WriteDrops();

  Clock& clock_;
  Diagnostics report_;
  const HostSettings& settings_;
  std::array<std::string, kSlotCount> subjects_;
  std::unordered_map<std::string, QuietRefusals> quiet_;
  // Refusals of addresses that found no room in quiet_.
  QuietRefusals others_;
  // By sender and receiver.
  std::map<std::pair<std::size_t, std::size_t>, Drops> drops_;
  std::unique_ptr<Timer> dropTimer_;
  bool dropTimerRunning_ = false;
};

}  // namespace quorvane
