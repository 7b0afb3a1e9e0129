// The metrics text for a snapshot with a distinct value in every counter: the
// samples written out by hand for each area, and the shape every family must
// have for a Prometheus scraper.
#include "platform/monitoring/metrics_exposition.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "session/opcodes.h"
#include "session/traffic_counters.h"

namespace quorvane {
namespace {

constexpr auto kIn = PacketDirection::kClientToServer;
constexpr auto kOut = PacketDirection::kServerToClient;

ServerSnapshot Scripted() {
  ServerSnapshot snapshot;
  snapshot.uptime = std::chrono::milliseconds(12'500);
  snapshot.slotTable[0].state = SlotState::kLoggedIn;
  snapshot.slotTable[1].state = SlotState::kAwaitingHello;
  StatusCounters& counters = snapshot.counters;
  counters.connectionsAccepted = 41;
  counters.refused = {1, 2, 3, 4, 5, 32, 30};
  counters.banned = {6, 7};
  counters.closed = {8, 9, 10, 11, 12};
  counters.closedByHost = {0, 13, 14, 15, 16, 17, 33, 34, 31, 35};
  counters.relaysDropped = {18, 19};
  counters.handshakesDone = 20;
  counters.loginsFound = 21;
  counters.loginsNotFound = 22;
  snapshot.bansInForce = 3;
  snapshot.manualBansInForce = 4;
  snapshot.adminActions[static_cast<std::size_t>(AdminAction::kKick)] = 28;
  snapshot.adminActions[static_cast<std::size_t>(AdminAction::kShutdownCancel)] = 29;
  TrafficCounters& traffic = snapshot.traffic;
  traffic.received[OpcodeIndex(opcode::kPing, kIn)] = {23, 184};
  traffic.received[kUnlistedOpcode] = {24, 250};
  traffic.sent[OpcodeIndex(opcode::kPong, kOut)] = {25, 225};
  traffic.sent[OpcodeIndex(opcode::kStat, kOut)] = {26, 2600};
  traffic.handshakeReceived = {27, 270};
  traffic.handshakeSent = {27, 280};
  return snapshot;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class MetricsExpositionTest : public ::testing::Test {
 protected:
  std::string text_ = MetricsText(Scripted(), {"1.2.3", "6.4.2"}, {3, 0, 17});
  std::vector<std::string> lines_ = Lines(text_);

  bool Has(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
};

TEST_F(MetricsExpositionTest, EveryAreaIsExportedWithItsValues) {
  const std::vector<std::string> expected{
      R"(quorvane_build_info{version="1.2.3",qt_version="6.4.2"} 1)",
      "quorvane_server_uptime_seconds 12.5",
      R"(quorvane_output_dropped_lines_total{stream="stdout"} 3)",
      R"(quorvane_output_dropped_lines_total{stream="stderr"} 0)",
      R"(quorvane_output_dropped_lines_total{stream="log_file"} 17)",
      "quorvane_players_connected 2",
      R"(quorvane_slots_in_state{state="free"} 0)",
      R"(quorvane_slots_in_state{state="awaiting_hello"} 1)",
      R"(quorvane_slots_in_state{state="open"} 0)",
      R"(quorvane_slots_in_state{state="logged_in"} 1)",
      "quorvane_connections_accepted_total 41",
      R"(quorvane_connections_refused_total{reason="slots_full"} 1)",
      R"(quorvane_connections_refused_total{reason="not_allowed"} 2)",
      R"(quorvane_connections_refused_total{reason="denied"} 3)",
      R"(quorvane_connections_refused_total{reason="per_address_limit"} 4)",
      R"(quorvane_connections_refused_total{reason="banned"} 5)",
      R"(quorvane_bans_total{reason="connection_rate"} 6)",
      R"(quorvane_bans_total{reason="timeout_penalty"} 7)",
      R"(quorvane_bans_in_force{source="automatic"} 3)",
      R"(quorvane_bans_in_force{source="manual"} 4)",
      R"(quorvane_admin_actions_total{kind="say"} 0)",
      R"(quorvane_admin_actions_total{kind="kick"} 28)",
      R"(quorvane_admin_actions_total{kind="shutdown_cancel"} 29)",
      R"(quorvane_connections_refused_total{reason="shutting_down"} 30)",
      R"(quorvane_connections_closed_by_host_total{cause="kicked"} 31)",
      R"(quorvane_connections_refused_total{reason="no_peer_address"} 32)",
      R"(quorvane_connections_closed_by_host_total{cause="made_room"} 33)",
      R"(quorvane_connections_closed_by_host_total{cause="denied"} 34)",
      R"(quorvane_connections_closed_by_host_total{cause="shutdown"} 35)",
      R"(quorvane_connections_closed_total{reason="peer_closed"} 8)",
      R"(quorvane_connections_closed_total{reason="closed_by_us"} 12)",
      R"(quorvane_connections_closed_by_host_total{cause="handshake_timeout"} 13)",
      R"(quorvane_connections_closed_by_host_total{cause="login_timeout"} 14)",
      R"(quorvane_connections_closed_by_host_total{cause="idle_timeout"} 15)",
      R"(quorvane_connections_closed_by_host_total{cause="character_in_use"} 16)",
      R"(quorvane_connections_closed_by_host_total{cause="no_character_file"} 17)",
      R"(quorvane_relay_dropped_packets_total{reason="back_pressure"} 18)",
      R"(quorvane_relay_dropped_packets_total{reason="rate_limit"} 19)",
      "quorvane_connections_handshakes_total 20",
      R"(quorvane_logins_total{character="found"} 21)",
      R"(quorvane_logins_total{character="not_found"} 22)",
      R"(quorvane_session_received_packets_total{opcode="124",name="Ping"} 23)",
      R"(quorvane_session_received_bytes_total{opcode="124",name="Ping"} 184)",
      R"(quorvane_session_received_packets_total{opcode="other",name="Other"} 24)",
      R"(quorvane_session_received_bytes_total{opcode="other",name="Other"} 250)",
      R"(quorvane_session_received_packets_total{opcode="200",name="Login"} 0)",
      R"(quorvane_session_sent_packets_total{opcode="125",name="Pong"} 25)",
      R"(quorvane_session_sent_bytes_total{opcode="125",name="Pong"} 225)",
      R"(quorvane_session_sent_bytes_total{opcode="261",name="Stat"} 2600)",
      "quorvane_session_handshake_received_bytes_total 270",
      "quorvane_session_handshake_sent_bytes_total 280",
  };
  for (const std::string& line : expected) EXPECT_TRUE(Has(line)) << line << "\n" << text_;
  // No cause for connections the host did not end.
  EXPECT_EQ(text_.find("cause=\"none\""), std::string::npos);
}

TEST_F(MetricsExpositionTest, EachDirectionListsItsOwnOpcodesAndOneForTheRest) {
  std::set<std::string> received;
  std::set<std::string> sent;
  const std::regex sample(
      R"(quorvane_session_(received|sent)_packets_total\{opcode="([^"]+)\",.*)");
  for (const std::string& line : lines_) {
    std::smatch match;
    if (!std::regex_match(line, match, sample)) continue;
    (match[1] == "received" ? received : sent).insert(match[2]);
  }
  EXPECT_EQ(received, (std::set<std::string>{"124", "200", "202", "302", "other"}));
  EXPECT_EQ(sent.size(), 13u);  // twelve opcodes to the client, and the rest
  EXPECT_TRUE(sent.count("other"));
  EXPECT_FALSE(sent.count("124"));
}

// HELP and TYPE once per family, before its samples; names of their area
// with counters ending in _total and nothing else doing so.
TEST_F(MetricsExpositionTest, EveryFamilyIsDeclaredOnceBeforeItsSamples) {
  const std::regex help(R"(# HELP (quorvane_[a-z_]+) \S.*)");
  const std::regex type(R"(# TYPE (quorvane_[a-z_]+) (counter|gauge))");
  const std::regex sample(
      R"((quorvane_[a-z_]+)(\{[a-z_]+="[^"]*"(,[a-z_]+="[^"]*")*\})? [0-9.e+]+)");
  std::map<std::string, std::string> types;
  std::string declared;
  std::set<std::string> helped;
  std::size_t samples = 0;
  for (const std::string& line : lines_) {
    std::smatch match;
    if (std::regex_match(line, match, help)) {
      EXPECT_TRUE(helped.insert(match[1]).second) << "two HELP lines: " << line;
      declared.clear();
    } else if (std::regex_match(line, match, type)) {
      EXPECT_TRUE(helped.count(match[1])) << "TYPE before HELP: " << line;
      EXPECT_TRUE(types.emplace(match[1], match[2]).second) << "two TYPE lines: " << line;
      declared = match[1];
    } else {
      ASSERT_TRUE(std::regex_match(line, match, sample)) << "not a sample: " << line;
      EXPECT_EQ(match[1], declared) << "sample outside its family: " << line;
      ++samples;
    }
  }
  EXPECT_GT(samples, types.size());
  for (const auto& [name, kind] : types) {
    const bool total = name.ends_with("_total");
    EXPECT_EQ(total, kind == "counter") << name;
  }
  EXPECT_TRUE(text_.ends_with("\n"));
}

}  // namespace
}  // namespace quorvane
