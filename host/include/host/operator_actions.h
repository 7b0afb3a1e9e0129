// What an operator can do to a running server: the control socket and the
// console parse a command and call one of these on the event thread; the
// host carries it out through the same paths as its own closures and
// broadcasts. Each call writes one diagnostic naming who sent it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/address_range.h"

namespace quorvane {

// Who sent a command: the control socket's peer credentials, or the console
// (uid of the server's own process, user "console").
struct Operator {
  unsigned uid = 0;
  std::string user;
};

// The outcome of a command: carried out, or refused with the reason (one
// line, no trailing line break). `text` says what was done when it was.
struct ActionResult {
  bool done = false;
  std::string text;
};

// No duration: for good.
using BanDuration = std::optional<std::chrono::seconds>;

// A ban in force, manual or automatic.
struct BanRecord {
  AddressRange range;
  bool manual = true;
  // Until when, on the wall clock; nothing for good.
  std::optional<std::chrono::system_clock::time_point> until;
  std::string reason;
  std::string by;  // the operator's user name; empty for an automatic ban
  std::chrono::system_clock::time_point since{};

  friend bool operator==(const BanRecord&, const BanRecord&) = default;
};

class OperatorActions {
 public:
  // One chat line to every logged-in player, from the welcome line's sender.
  // `latin1Text` is Latin-1 bytes, bounded like the welcome text.
  virtual ActionResult Say(const std::string& latin1Text, const Operator& by) = 0;
  // `slot` counts from 1. The player is told "Kicked: REASON" (or "Kicked"),
  // then closed.
  virtual ActionResult Kick(int slot, const std::string& reason, const Operator& by) = 0;
  // Refuses the range from now on and closes whoever is connected from it.
  virtual ActionResult Ban(const AddressRange& range, BanDuration duration,
                           const std::string& reason, const Operator& by) = 0;
  // Removes the ban of exactly `range`.
  virtual ActionResult Unban(const AddressRange& range, const Operator& by) = 0;
  virtual std::vector<BanRecord> Bans() const = 0;
  // The graceful shutdown; no delay: the configured grace.
  virtual ActionResult Shutdown(std::optional<std::chrono::seconds> delay,
                                const std::string& latin1Message, const Operator& by) = 0;
  virtual ActionResult CancelShutdown(const Operator& by) = 0;

 protected:
  ~OperatorActions() = default;
};

}  // namespace quorvane
