// The operator's command language, shared by the control socket and the
// console: one command a line, words separated by blanks, a free text (say
// text, kick or ban reason, shutdown message) running to the end of the line.
//
//   status | bans | reload | help
//   say TEXT
//   kick SLOT [REASON]
//   ban RANGE [DURATION] [REASON]
//   unban RANGE
//   shutdown [DELAY] [MESSAGE] | shutdown cancel
//
// A DURATION is N seconds, or N followed by s, m, h or d, or `forever`
// (bans only). A word that starts with a digit where a duration may stand
// is one, and an error when malformed. A line may start with --json, which
// asks for the answer as one JSON object.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "host/address_range.h"
#include "host/operator_actions.h"

namespace quorvane {

enum class CommandKind {
  kStatus,
  kSay,
  kKick,
  kBan,
  kUnban,
  kBans,
  kShutdown,
  kCancel,
  kReload,
  kHelp
};

struct ControlCommand {
  CommandKind kind = CommandKind::kHelp;
  bool json = false;
  // The free text, as given (UTF-8), trimmed; empty when none.
  std::string text;
  int slot = 0;
  std::optional<AddressRange> range;
  // The ban's duration (none: for good) or the shutdown's delay (none: the
  // configured grace).
  BanDuration duration;
};

struct ParsedCommand {
  std::optional<ControlCommand> command;
  std::string error;  // one line naming what is wrong, when there is no command
};

// Bans last at most this long short of `forever`.
inline constexpr std::chrono::seconds kLongestBan{std::chrono::days(3650)};
inline constexpr std::chrono::seconds kLongestShutdownDelay{std::chrono::days(1)};

ParsedCommand ParseControlLine(std::string_view line);

// N, Ns, Nm, Nh, Nd: the seconds; nothing when malformed or over `longest`.
std::optional<std::chrono::seconds> ParseDuration(std::string_view word,
                                                  std::chrono::seconds longest);

// The commands, one line each, for help.
std::string_view CommandSummary();

}  // namespace quorvane
