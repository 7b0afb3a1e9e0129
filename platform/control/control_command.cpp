#include "platform/control/control_command.h"

#include <charconv>
#include <cstdint>

namespace quorvane {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

// The next word, taken off the front of `rest`, which is left trimmed.
std::string_view NextWord(std::string_view& rest) {
  rest = Trimmed(rest);
  const std::size_t end = std::min(rest.find_first_of(kBlanks), rest.size());
  const std::string_view word = rest.substr(0, end);
  rest = Trimmed(rest.substr(end));
  return word;
}

bool StartsWithDigit(std::string_view word) {
  return !word.empty() && word.front() >= '0' && word.front() <= '9';
}

ParsedCommand Wrong(std::string error) {
  return {std::nullopt, std::move(error)};
}

ParsedCommand Range(std::string_view word, ControlCommand& command, std::string_view usage) {
  if (word.empty()) return Wrong(std::string("usage: ") + std::string(usage));
  command.range = AddressRange::Parse(word);
  if (!command.range) {
    return Wrong("not an address range: " + std::string(word) + " (ADDR or ADDR/BITS)");
  }
  return {command, {}};
}

}  // namespace

std::optional<std::chrono::seconds> ParseDuration(std::string_view word,
                                                  std::chrono::seconds longest) {
  if (word.empty()) return std::nullopt;
  std::int64_t unit = 1;
  switch (word.back()) {
    case 's':
      word.remove_suffix(1);
      break;
    case 'm':
      unit = 60;
      word.remove_suffix(1);
      break;
    case 'h':
      unit = 3600;
      word.remove_suffix(1);
      break;
    case 'd':
      unit = 86400;
      word.remove_suffix(1);
      break;
    default:
      break;
  }
  std::int64_t count = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), count);
  if (word.empty() || error != std::errc() || end != word.data() + word.size() || count < 0 ||
      count > longest.count() / unit) {
    return std::nullopt;
  }
  return std::chrono::seconds(count * unit);
}

ParsedCommand ParseControlLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find_first_of(std::string_view("\0\n", 2)) != std::string_view::npos) {
    return Wrong("a command is one line of text");
  }
  std::string_view rest = line;
  ControlCommand command;
  std::string_view verb = NextWord(rest);
  if (verb == "--json") {
    command.json = true;
    verb = NextWord(rest);
  }
  if (verb.empty()) return Wrong("no command; try help");

  if (verb == "status" || verb == "bans" || verb == "reload" || verb == "help") {
    if (!rest.empty()) return Wrong(std::string(verb) + " takes no arguments");
    command.kind = verb == "status"   ? CommandKind::kStatus
                   : verb == "bans"   ? CommandKind::kBans
                   : verb == "reload" ? CommandKind::kReload
                                      : CommandKind::kHelp;
    return {command, {}};
  }
  if (verb == "say") {
    command.kind = CommandKind::kSay;
    command.text = rest;
    if (command.text.empty()) return Wrong("usage: say TEXT");
    return {command, {}};
  }
  if (verb == "kick") {
    command.kind = CommandKind::kKick;
    const std::string_view slot = NextWord(rest);
    const auto [end, error] = std::from_chars(slot.data(), slot.data() + slot.size(), command.slot);
    if (slot.empty()) return Wrong("usage: kick SLOT [REASON]");
    if (error != std::errc() || end != slot.data() + slot.size()) {
      return Wrong("not a slot number: " + std::string(slot));
    }
    command.text = rest;
    return {command, {}};
  }
  if (verb == "ban") {
    command.kind = CommandKind::kBan;
    ParsedCommand parsed = Range(NextWord(rest), command, "ban RANGE [DURATION] [REASON]");
    if (!parsed.command) return parsed;
    std::string_view after = rest;
    const std::string_view word = NextWord(after);
    if (word == "forever") {
      rest = after;
    } else if (StartsWithDigit(word)) {
      command.duration = ParseDuration(word, kLongestBan);
      if (!command.duration || *command.duration == std::chrono::seconds::zero()) {
        return Wrong("not a duration: " + std::string(word) +
                     " (N followed by s, m, h or d, up to 3650d, or forever)");
      }
      rest = after;
    }
    command.text = rest;
    return {command, {}};
  }
  if (verb == "unban") {
    command.kind = CommandKind::kUnban;
    ParsedCommand parsed = Range(NextWord(rest), command, "unban RANGE");
    if (parsed.command && !rest.empty()) return Wrong("unban takes one range");
    return parsed;
  }
  if (verb == "shutdown") {
    command.kind = CommandKind::kShutdown;
    if (rest == "cancel") {
      command.kind = CommandKind::kCancel;
      return {command, {}};
    }
    std::string_view after = rest;
    const std::string_view word = NextWord(after);
    if (StartsWithDigit(word)) {
      command.duration = ParseDuration(word, kLongestShutdownDelay);
      if (!command.duration) {
        return Wrong("not a delay: " + std::string(word) +
                     " (N followed by s, m, h or d, up to 1d)");
      }
      rest = after;
    }
    command.text = rest;
    return {command, {}};
  }
  return Wrong("unknown command: " + std::string(verb) + "; try help");
}

std::string_view CommandSummary() {
  return "status                         slots, NPCs, bans in force, uptime\n"
         "say TEXT                       a chat line to every logged-in player\n"
         "kick SLOT [REASON]             tell the player in SLOT, then close it\n"
         "ban RANGE [DURATION] [REASON]  refuse ADDR[/BITS] for DURATION or forever\n"
         "unban RANGE                    remove the ban of exactly RANGE\n"
         "bans                           every ban in force\n"
         "shutdown [DELAY] [MESSAGE]     warn the players, then end the server\n"
         "shutdown cancel                stop a shutdown's countdown\n"
         "reload                         what SIGHUP does\n"
         "help                           this list";
}

}  // namespace quorvane
