#include "platform/monitoring/metrics_exposition.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "host/status_names.h"
#include "session/opcodes.h"

namespace quorvane {
namespace {

using Label = std::pair<std::string_view, std::string_view>;

// Label values come from fixed tables of names and the build, none of which
// holds a quote, a backslash or a line break, so none needs escaping.
class Exposition {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    name_ = name;
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  }

  void Sample(std::initializer_list<Label> labels, std::uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Line(labels, std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }
  void Sample(std::initializer_list<Label> labels, double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    Line(labels, std::string_view(digits, static_cast<std::size_t>(end - digits)));
  }

  std::string Take() { return std::move(text_); }

 private:
  void Line(std::initializer_list<Label> labels, std::string_view value) {
    text_.append(name_);
    if (labels.size() > 0) {
      char separator = '{';
      for (const auto& [key, text] : labels) {
        text_.push_back(separator);
        text_.append(key).append("=\"").append(text).append("\"");
        separator = ',';
      }
      text_.push_back('}');
    }
    text_.append(" ").append(value).append("\n");
  }

  std::string text_;
  std::string_view name_;
};

template <typename Enum, std::size_t N, std::size_t M>
void ByReason(Exposition& out, std::string_view label, const Enum (&values)[N],
              const std::array<std::uint64_t, M>& counts) {
  for (const Enum value : values) {
    out.Sample({{label, NameOf(value)}}, counts[static_cast<std::size_t>(value)]);
  }
}

// One sample per opcode of `direction`, then one for every other opcode.
void ByOpcode(Exposition& out, PacketDirection direction, const TrafficCounters::ByOpcode& tallies,
              std::uint64_t PacketTally::*field) {
  for (std::size_t index = 0; index < kOpcodeTable.size(); ++index) {
    const OpcodeInfo& info = kOpcodeTable[index];
    if (info.direction != direction) continue;
    const std::string value = std::to_string(info.value);
    out.Sample({{"opcode", value}, {"name", info.name}}, tallies[index].*field);
  }
  out.Sample({{"opcode", "other"}, {"name", "Other"}}, tallies[kUnlistedOpcode].*field);
}

}  // namespace

std::string MetricsText(const ServerSnapshot& snapshot, const BuildInfo& build,
                        const OutputDrops& drops) {
  const StatusCounters& counters = snapshot.counters;
  const TrafficCounters& traffic = snapshot.traffic;
  constexpr auto kIn = PacketDirection::kClientToServer;
  constexpr auto kOut = PacketDirection::kServerToClient;
  Exposition out;

  out.Family("quorvane_build_info", "gauge",
             "The server's version and the Qt it runs on; always 1.");
  out.Sample({{"version", build.version}, {"qt_version", build.qtVersion}}, std::uint64_t{1});
  out.Family("quorvane_server_uptime_seconds", "gauge", "Seconds since the server started.");
  out.Sample({}, std::chrono::duration<double>(snapshot.uptime).count());

  out.Family("quorvane_players_connected", "gauge", "Clients holding a slot, logged in or not.");
  out.Sample({}, std::uint64_t{snapshot.PlayersConnected()});
  out.Family("quorvane_slots_in_state", "gauge",
             "Slots by state: free, awaiting the client's hello, open, logged in.");
  for (const SlotState state : kSlotStates) {
    out.Sample({{"state", NameOf(state)}}, std::uint64_t{snapshot.SlotsIn(state)});
  }

  out.Family("quorvane_connections_accepted_total", "counter",
             "Connection requests that got a slot.");
  out.Sample({}, counters.connectionsAccepted);
  out.Family("quorvane_connections_refused_total", "counter",
             "Connection requests that got no slot, by reason.");
  ByReason(out, "reason", kRefusalReasons, counters.refused);
  out.Family("quorvane_connections_closed_total", "counter",
             "Connections that ended, by how they ended.");
  ByReason(out, "reason", kCloseReasons, counters.closed);
  out.Family("quorvane_connections_closed_by_host_total", "counter",
             "Connections the server ended itself, by cause: handshake and login timeouts and "
             "the rest.");
  ByReason(out, "cause", kHostCauses, counters.closedByHost);
  out.Family("quorvane_connections_handshakes_total", "counter",
             "Connections that finished their handshake.");
  out.Sample({}, counters.handshakesDone);

  out.Family("quorvane_bans_total", "counter", "Addresses banned for a while, by reason.");
  ByReason(out, "reason", kBanReasons, counters.banned);
  out.Family("quorvane_bans_in_force", "gauge",
             "Bans in force at this moment, by source: automatic (one address each) or manual "
             "(an operator's, one range each).");
  out.Sample({{"source", "automatic"}}, std::uint64_t{snapshot.bansInForce});
  out.Sample({{"source", "manual"}}, std::uint64_t{snapshot.manualBansInForce});
  out.Family("quorvane_admin_actions_total", "counter", "Operator commands carried out, by kind.");
  ByReason(out, "kind", kAdminActions, snapshot.adminActions);

  out.Family("quorvane_logins_total", "counter",
             "Logins that went through, by whether a character file had the name.");
  out.Sample({{"character", "found"}}, counters.loginsFound);
  out.Sample({{"character", "not_found"}}, counters.loginsNotFound);

  out.Family("quorvane_relay_dropped_packets_total", "counter",
             "Packets for the other player dropped before they were sealed, by reason.");
  ByReason(out, "reason", kDropReasons, counters.relaysDropped);

  out.Family("quorvane_session_received_packets_total", "counter",
             "Packets opened from the clients, by opcode.");
  ByOpcode(out, kIn, traffic.received, &PacketTally::packets);
  out.Family("quorvane_session_received_bytes_total", "counter",
             "Bytes of the packets opened from the clients, headers included, by opcode.");
  ByOpcode(out, kIn, traffic.received, &PacketTally::bytes);
  out.Family("quorvane_session_sent_packets_total", "counter",
             "Packets sealed for the clients, by opcode.");
  ByOpcode(out, kOut, traffic.sent, &PacketTally::packets);
  out.Family("quorvane_session_sent_bytes_total", "counter",
             "Bytes of the packets sealed for the clients, headers included, by opcode.");
  ByOpcode(out, kOut, traffic.sent, &PacketTally::bytes);
  out.Family("quorvane_session_handshake_received_bytes_total", "counter",
             "Bytes of the clients' answered hellos.");
  out.Sample({}, traffic.handshakeReceived.bytes);
  out.Family("quorvane_session_handshake_sent_bytes_total", "counter",
             "Bytes of the server's handshake replies.");
  out.Sample({}, traffic.handshakeSent.bytes);

  out.Family("quorvane_output_dropped_lines_total", "counter",
             "Lines of the server's output lost, by stream: not read in time, or not written "
             "for a failure.");
  out.Sample({{"stream", "stdout"}}, drops.standardOutput);
  out.Sample({{"stream", "stderr"}}, drops.standardError);
  out.Sample({{"stream", "log_file"}}, drops.logFile);

  return out.Take();
}

}  // namespace quorvane
