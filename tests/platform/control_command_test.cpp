// The operator's command language: a table of good lines and what they
// mean, and a table of bad ones with the error each gets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/control/control_command.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

TEST(ControlCommandTest, GoodLinesSayWhatToDo) {
  struct Case {
    std::string line;
    CommandKind kind;
    std::string text = {};
    int slot = 0;
    std::string range = {};
    BanDuration duration = std::nullopt;
    bool json = false;
  };
  const std::vector<Case> cases{
      {"status", CommandKind::kStatus},
      {"--json status", CommandKind::kStatus, {}, 0, {}, {}, true},
      {"  bans \r", CommandKind::kBans},
      {"reload", CommandKind::kReload},
      {"help", CommandKind::kHelp},
      {"say Hello  both of you ", CommandKind::kSay, "Hello  both of you"},
      {"kick 2", CommandKind::kKick, "", 2},
      {"kick 1 spamming the chat", CommandKind::kKick, "spamming the chat", 1},
      {"ban 192.0.2.7", CommandKind::kBan, "", 0, "192.0.2.7/32"},
      {"ban 192.0.2.0/24 forever bots", CommandKind::kBan, "bots", 0, "192.0.2.0/24"},
      {"ban 2001:db8::/32 90m flood", CommandKind::kBan, "flood", 0, "2001:db8::/32", 5400s},
      {"ban 192.0.2.7 2d", CommandKind::kBan, "", 0, "192.0.2.7/32", 172800s},
      {"ban 192.0.2.7 45 cheating", CommandKind::kBan, "cheating", 0, "192.0.2.7/32", 45s},
      {"ban 192.0.2.7 spam 5m", CommandKind::kBan, "spam 5m", 0, "192.0.2.7/32"},
      {"unban 192.0.2.0/24", CommandKind::kUnban, "", 0, "192.0.2.0/24"},
      {"shutdown", CommandKind::kShutdown},
      {"shutdown 2 Bye", CommandKind::kShutdown, "Bye", 0, {}, 2s},
      {"shutdown 1m Back at noon", CommandKind::kShutdown, "Back at noon", 0, {}, 60s},
      {"shutdown 0", CommandKind::kShutdown, "", 0, {}, 0s},
      {"shutdown Maintenance", CommandKind::kShutdown, "Maintenance"},
      {"shutdown cancel", CommandKind::kCancel},
  };
  for (const Case& c : cases) {
    const ParsedCommand parsed = ParseControlLine(c.line);
    ASSERT_TRUE(parsed.command) << c.line << ": " << parsed.error;
    const ControlCommand& command = *parsed.command;
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.text, c.text) << c.line;
    EXPECT_EQ(command.slot, c.slot) << c.line;
    EXPECT_EQ(command.range ? command.range->ToString() : "", c.range) << c.line;
    EXPECT_EQ(command.duration, c.duration) << c.line;
    EXPECT_EQ(command.json, c.json) << c.line;
  }
}

TEST(ControlCommandTest, BadLinesGetOneLineNamingWhatIsWrong) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "no command; try help"},
      {"--json", "no command; try help"},
      {"dance", "unknown command: dance; try help"},
      {"Status", "unknown command: Status; try help"},
      {"status now", "status takes no arguments"},
      {"say", "usage: say TEXT"},
      {"say   ", "usage: say TEXT"},
      {"kick", "usage: kick SLOT [REASON]"},
      {"kick one", "not a slot number: one"},
      {"kick 1x", "not a slot number: 1x"},
      {"ban", "usage: ban RANGE [DURATION] [REASON]"},
      {"ban example.org", "not an address range: example.org (ADDR or ADDR/BITS)"},
      {"ban 192.0.2.0/40", "not an address range: 192.0.2.0/40 (ADDR or ADDR/BITS)"},
      {"ban 192.0.2.7 5x",
       "not a duration: 5x (N followed by s, m, h or d, up to 3650d, or forever)"},
      {"ban 192.0.2.7 0s",
       "not a duration: 0s (N followed by s, m, h or d, up to 3650d, or forever)"},
      {"ban 192.0.2.7 3651d",
       "not a duration: 3651d (N followed by s, m, h or d, up to 3650d, or forever)"},
      {"ban 192.0.2.7 99999999999999999999d",
       "not a duration: 99999999999999999999d (N followed by s, m, h or d, up to 3650d, or "
       "forever)"},
      {"unban", "usage: unban RANGE"},
      {"unban 192.0.2.7 192.0.2.8", "unban takes one range"},
      {"shutdown 2x Bye", "not a delay: 2x (N followed by s, m, h or d, up to 1d)"},
      {"shutdown 2d", "not a delay: 2d (N followed by s, m, h or d, up to 1d)"},
      {std::string("say a\0b", 7), "a command is one line of text"},
  };
  for (const auto& [line, error] : cases) {
    const ParsedCommand parsed = ParseControlLine(line);
    EXPECT_FALSE(parsed.command) << line;
    EXPECT_EQ(parsed.error, error) << line;
  }
}

}  // namespace
}  // namespace quorvane
